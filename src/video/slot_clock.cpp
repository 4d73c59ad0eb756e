#include "video/slot_clock.h"

uint32_t SlotClock::RecordedMs(uint32_t elapsedMs) const {
  return static_cast<uint32_t>(pauses_.RecordedMs(elapsedMs));
}

uint32_t SlotClock::Slot(uint32_t elapsedMs) const {
  return FrameSlotIndex(RecordedMs(elapsedMs), pacing_);
}

uint32_t SlotClock::Pause(uint32_t elapsedMs, uint32_t lastSlot) {
  // Unsigned: the slot's end may lie behind the ask, and the sum wraps back.
  const uint32_t pauseAtMs =
      elapsedMs + (SlotStartMs(lastSlot + 1, pacing_) - RecordedMs(elapsedMs));
  pauses_.Pause(pauseAtMs);
  return pauseAtMs;
}

void SlotClock::Resume(uint32_t elapsedMs) {
  pauses_.Resume(elapsedMs);
}
