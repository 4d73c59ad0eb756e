// Where a grabbed frame goes on the stream's time line. The loop never
// sleeps: it grabs back to back and writes each grab at the slot that the
// millisecond clock gives, so the video keeps pace with the clock however
// long a grab takes.
#pragma once

#include <cstdint>

struct FramePacing {
  uint32_t frameIntervalMs;  // 1000 / fps, rounded down
  uint32_t groupLengthMs;    // 3000 / fps: three slots, exact for 8, 15, 20, 25, 30 fps
};

FramePacing PacingFor(int32_t framesPerSecond);

// The slot index of a grab that begins `elapsedMs` after the start. Each
// group yields three slots, so the long-run rate is exact although the
// interval is rounded down. Elapsed time is an unsigned difference of
// timeGetTime readings, so the clock's 2^32 wrap does not disturb it.
uint32_t FrameSlotIndex(uint32_t elapsedMs, const FramePacing& pacing);

// The first elapsed time that gives slot `index` (FrameSlotIndex's inverse):
// at 15 and 30 fps a group's first slot already begins in the last
// milliseconds of the group before.
uint32_t SlotStartMs(uint32_t index, const FramePacing& pacing);
