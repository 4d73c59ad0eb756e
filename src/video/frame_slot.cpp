#include "video/frame_slot.h"

namespace {
constexpr uint32_t kMsPerSecond = 1000;
constexpr uint32_t kSlotsPerGroup = 3;
}  // namespace

FramePacing PacingFor(int32_t framesPerSecond) {
  auto fps = static_cast<uint32_t>(framesPerSecond);
  return {kMsPerSecond / fps, kSlotsPerGroup * kMsPerSecond / fps};
}

uint32_t FrameSlotIndex(uint32_t elapsedMs, const FramePacing& pacing) {
  return kSlotsPerGroup * (elapsedMs / pacing.groupLengthMs) +
         (elapsedMs % pacing.groupLengthMs) / pacing.frameIntervalMs;
}

uint32_t SlotStartMs(uint32_t index, const FramePacing& pacing) {
  const uint32_t group = index / kSlotsPerGroup;
  const uint32_t slot = index % kSlotsPerGroup;
  const uint32_t lastSlotOfGroupMs = kSlotsPerGroup * pacing.frameIntervalMs;
  if (slot == 0 && group > 0 && lastSlotOfGroupMs < pacing.groupLengthMs) {
    return (group - 1) * pacing.groupLengthMs + lastSlotOfGroupMs;
  }
  return group * pacing.groupLengthMs + slot * pacing.frameIntervalMs;
}
