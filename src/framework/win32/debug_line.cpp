#include "framework/win32/debug_line.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace {
// Longer lines are cut; the line break is always kept.
constexpr size_t kDebugLineChars = 320;
}  // namespace

void DebugLine(const char* format, ...) {
  char line[kDebugLineChars];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(line, sizeof line - 1, format, args);
  va_end(args);
  const size_t end = length < 0 ? 0 : std::min(static_cast<size_t>(length), sizeof line - 2);
  line[end] = '\n';
  line[end + 1] = '\0';
  OutputDebugStringA(line);
}

StepClock::StepClock() : startMs_(timeGetTime()), lastMs_(startMs_) {}

void StepClock::Mark(const char* step) {
  const uint32_t now = timeGetTime();
  const int written = std::snprintf(text_ + used_, kTextChars - used_, "%s%s %u ms",
                                    used_ ? ", " : "", step, now - lastMs_);
  if (written > 0) used_ = std::min(used_ + static_cast<size_t>(written), kTextChars - 1);
  lastMs_ = now;
}
