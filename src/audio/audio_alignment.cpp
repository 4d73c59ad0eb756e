#include "audio/audio_alignment.h"

#include "audio/mp3_format.h"

namespace {

constexpr uint64_t kMsPerSecond = 1000;

uint32_t FramesIn(uint32_t ms) {
  return static_cast<uint32_t>(uint64_t{ms} * kPcmSamplesPerSecond / kMsPerSecond);
}

}  // namespace

SoundAlignment AlignFirstBuffer(uint32_t arrivalMs, uint32_t bytesRecorded, bool videoStarted,
                                uint32_t videoStartMs) {
  SoundAlignment alignment;
  if (!videoStarted) return alignment;
  const uint32_t recordedMs =
      static_cast<uint32_t>(bytesRecorded * kMsPerSecond / kPcmBytesPerSecond);
  const uint32_t soundStartMs = arrivalMs - recordedMs;
  const auto lateByMs = static_cast<int32_t>(soundStartMs - videoStartMs);
  if (lateByMs > 0) {
    alignment.silenceFrames = FramesIn(static_cast<uint32_t>(lateByMs));
  } else {
    const uint32_t recordedFrames = bytesRecorded / kPcmBlockAlign;
    const uint32_t earlyFrames = FramesIn(static_cast<uint32_t>(-int64_t{lateByMs}));
    alignment.skipFrames = earlyFrames < recordedFrames ? earlyFrames : recordedFrames;
  }
  return alignment;
}
