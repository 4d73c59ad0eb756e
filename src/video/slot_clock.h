// The stream positions of a recording that can pause: the slot clock of
// frame_slot.h run on the recording's own time (framework/pause_timeline.h),
// which stands still while it is paused. A pause takes effect at the end
// of the last slot written, so that slot's frame stands until the pause
// and the first frame after it goes to the next position: none repeats,
// none is left empty, and the sound, cut at the same moment, meets the
// picture there.
#pragma once

#include <cstdint>

#include "framework/pause_timeline.h"
#include "video/frame_slot.h"

class SlotClock {
 public:
  // Times are ms since the recording's start (its position 0).
  SlotClock(FramePacing pacing, PauseTimeline& pauses) : pacing_(pacing), pauses_(pauses) {}

  // The slot of a grab that begins at `elapsedMs`.
  uint32_t Slot(uint32_t elapsedMs) const;
  // A pause asked at `elapsedMs`, after the last frame went to `lastSlot`,
  // begins where that slot ends, which is returned: a little ahead, or a
  // little behind when the last grab ran past its slot. The loop grabs no
  // more from the ask on.
  uint32_t Pause(uint32_t elapsedMs, uint32_t lastSlot);
  // The recording goes on from `elapsedMs`, at the position it paused at.
  void Resume(uint32_t elapsedMs);

 private:
  uint32_t RecordedMs(uint32_t elapsedMs) const;

  FramePacing pacing_;
  PauseTimeline& pauses_;
};
