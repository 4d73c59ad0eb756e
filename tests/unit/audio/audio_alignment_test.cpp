#include "audio/audio_alignment.h"

#include <gtest/gtest.h>

namespace {

TEST(AlignFirstBuffer, FillsALateStartAndLeavesOutSoundFromBeforeThePicture) {
  struct Case {
    uint32_t arrivalMs, bytes;
    bool videoStarted;
    uint32_t videoStartMs, silence, skip;
  } cases[] = {
      {5000, 176400, true, 3500, 22050, 0},  // sound began at 4000: 500 ms late
      {5000, 176400, true, 4000, 0, 0},      // began with the video
      {5000, 176400, true, 4500, 0, 22050},  // began 500 ms before the picture
      {5000, 176400, true, 4999, 0, 44055},  // began 999 ms before it
      {5000, 88200, true, 5100, 0, 22050},   // picture began after the buffer came back: all of it
      {5000, 176400, false, 0, 0, 0},        // video not started: nothing to measure
      {5000, 88200, true, 4000, 22050, 0},   // a half buffer (reset in the first second)
      {5000, 0, true, 4900, 4410, 0},        // nothing recorded yet: from the arrival
      {5000, 0, true, 5000, 0, 0},           // nothing recorded, nothing to skip
      {0x00000100, 176400, true, 0x00000006u, 0, 33075},  // clock wrap, sound 750 ms first
      {0x00000500, 176400, true, 0xFFFFFD30u, 44100, 0},  // clock wrap, 1 s late
  };
  for (const Case& c : cases) {
    const SoundAlignment a = AlignFirstBuffer(c.arrivalMs, c.bytes, c.videoStarted, c.videoStartMs);
    EXPECT_EQ(a.silenceFrames, c.silence) << c.arrivalMs << " " << c.bytes << " " << c.videoStartMs;
    EXPECT_EQ(a.skipFrames, c.skip) << c.arrivalMs << " " << c.bytes << " " << c.videoStartMs;
  }
}

}  // namespace
