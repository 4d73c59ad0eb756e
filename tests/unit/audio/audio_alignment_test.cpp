#include "audio/audio_alignment.h"

#include <gtest/gtest.h>

namespace {

TEST(LeadInSilenceFrames, FillsOnlyWhatTheSoundIsLateByAgainstTheVideo) {
  struct Case {
    uint32_t arrivalMs, bytes;
    bool videoStarted;
    uint32_t videoStartMs, frames;
  } cases[] = {
      {5000, 176400, true, 3500, 22050},           // sound began at 4000: 500 ms late
      {5000, 176400, true, 4000, 0},               // began with the video
      {5000, 176400, true, 4500, 0},               // began first: nothing to fill
      {5000, 176400, false, 0, 0},                 // video not started: the sound is first
      {5000, 88200, true, 4000, 22050},            // a half buffer (reset before the first second)
      {5000, 0, true, 4900, 4410},                 // nothing recorded yet: from the arrival
      {0x00000100, 176400, true, 0xFFFFFE00u, 0},  // clock wrap, sound first
      {0x00000500, 176400, true, 0xFFFFFD30u, 44100},  // clock wrap, 1 s late
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LeadInSilenceFrames(c.arrivalMs, c.bytes, c.videoStarted, c.videoStartMs), c.frames)
        << c.arrivalMs << " " << c.bytes << " " << c.videoStartMs;
  }
}

}  // namespace
