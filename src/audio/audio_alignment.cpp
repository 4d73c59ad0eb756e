#include "audio/audio_alignment.h"

#include "audio/mp3_format.h"

namespace {
constexpr uint64_t kMsPerSecond = 1000;
}

uint32_t LeadInSilenceFrames(uint32_t arrivalMs, uint32_t bytesRecorded, bool videoStarted,
                             uint32_t videoStartMs) {
  // Without a video start yet, the sound began first: nothing to fill.
  if (!videoStarted) return 0;
  const uint32_t recordedMs =
      static_cast<uint32_t>(bytesRecorded * kMsPerSecond / kPcmBytesPerSecond);
  const uint32_t soundStartMs = arrivalMs - recordedMs;
  const auto lateByMs = static_cast<int32_t>(soundStartMs - videoStartMs);
  if (lateByMs <= 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(lateByMs) * kPcmSamplesPerSecond /
                               kMsPerSecond);
}
