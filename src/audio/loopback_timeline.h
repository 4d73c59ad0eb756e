// Where the computer's sound goes in time. A loopback packet carries the
// moment its first frame was taken, on the performance counter in 100-ns
// units; the picture is placed by the millisecond clock (timeGetTime),
// which steps by up to 15.6 ms. ClockMap maps the one to the other from
// many readings of both taken together. LoopbackTimeline keeps the sound
// on its own clock: while nothing plays, Windows delivers no packets at
// all, and the first packet after such a stretch says it follows a
// discontinuity; the stretch becomes silence at its place, once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr uint64_t kCounterUnitsPerSecond = 10000000;  // 100 ns

class ClockMap {
 public:
  // Both clocks read one after the other.
  void AddPair(uint64_t counter, uint32_t ms);
  bool Ready() const { return count_ > 0; }
  // The millisecond clock's reading at `counter`, on average over where in
  // its step it is read: the picture's moments are such readings too.
  // 0 before the first pair.
  uint32_t MsAt(uint64_t counter) const;

 private:
  // Seconds of readings at one a poll: the mean of their offsets is good
  // to a fraction of a ms however the clock steps.
  static constexpr size_t kPairs = 500;
  std::array<double, kPairs> offsetsMs_{};  // reading less counter, unwrapped
  size_t count_ = 0;
  size_t next_ = 0;
  uint32_t lastMs_ = 0;
  int64_t wrapsMs_ = 0;  // 2^32 per wrap of the ms clock
};

class LoopbackTimeline {
 public:
  // A stream of `deviceRate` frames a second, started at `startCounter`.
  LoopbackTimeline(uint32_t deviceRate, uint64_t startCounter);

  // A packet of `frames` frames taken from `counter` on: the frames of
  // silence that go before it. A gap is filled when it is longer than the
  // jitter of packet times (they are read times under Wine), or when the
  // packet follows a discontinuity; a packet earlier than expected is
  // taken as it comes (the stretch controller deals with clocks).
  uint32_t SilenceBefore(uint64_t counter, uint32_t frames, bool discontinuity);
  // No packet has come by `nowCounter`: the frames of silence that go in
  // now, up to a little before that moment (later packets cannot fall
  // there), so that the sound goes on by the clock.
  uint32_t SilenceUntil(uint64_t nowCounter);

  // The counter time of frame `frame` of the stream (silence included),
  // from the newest packet or silence.
  uint64_t CounterAt(uint64_t frame) const;
  uint64_t Frames() const { return frames_; }

 private:
  uint64_t CounterOf(uint64_t frames) const;
  uint64_t FramesOf(uint64_t counterUnits) const;

  uint32_t rate_;
  uint64_t frames_ = 0;       // in the stream so far
  uint64_t nextCounter_;      // when the next frame is due
  uint64_t anchorFrame_ = 0;  // the newest packet's or silence's first frame ...
  uint64_t anchorCounter_;    // ... and its time
};
