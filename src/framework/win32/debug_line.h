// Lines for a debugger's output window (under Wine: WINEDEBUG=+debugstr).
// The program keeps no log; these lines are how benchmarks and tests see
// where a session's time went.
#pragma once

#include <cstddef>
#include <cstdint>

// One line, formatted as printf does; the line break is added.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void DebugLine(const char* format, ...);

// Times the steps of a set-up on the millisecond clock, as the text
// "step N ms, step N ms" for a debug line.
class StepClock {
 public:
  StepClock();
  // The step called `step` ended now.
  void Mark(const char* step);
  const char* Text() const { return text_; }
  // timeGetTime when the clock was made.
  uint32_t StartMs() const { return startMs_; }

 private:
  static constexpr size_t kTextChars = 200;
  uint32_t startMs_;
  uint32_t lastMs_;
  char text_[kTextChars] = {};
  size_t used_ = 0;
};
