#include "audio/mp3_format.h"

#include <gtest/gtest.h>

namespace {

TEST(Mp3FormatBlock, BytesOfTheMpegLayer3WaveFormat) {
  const uint8_t expected[30] = {
      0x55, 0x00,              // wFormatTag WAVE_FORMAT_MPEGLAYER3
      0x02, 0x00,              // nChannels 2
      0x44, 0xAC, 0x00, 0x00,  // nSamplesPerSec 44100
      0x80, 0x3E, 0x00, 0x00,  // nAvgBytesPerSec 16000
      0x01, 0x00,              // nBlockAlign 1
      0x00, 0x00,              // wBitsPerSample 0
      0x0C, 0x00,              // cbSize 12
      0x01, 0x00,              // wID MPEGLAYER3_ID_MPEG
      0x02, 0x00, 0x00, 0x00,  // fdwFlags PADDING_OFF
      0xAB, 0x01,              // nBlockSize 427
      0x01, 0x00,              // nFramesPerBlock 1
      0x71, 0x05,              // nCodecDelay 1393
  };
  auto block = MakeMp3FormatBlock();
  for (size_t i = 0; i < sizeof expected; ++i) EXPECT_EQ(block[i], expected[i]) << "byte " << i;
}

TEST(AudioStreamInfo, OneBytePerSampleAt128KbitAndEnabled) {
  AviStreamInfo h = MakeAudioStreamInfo();
  EXPECT_EQ(h.fccType, MakeFourCC('a', 'u', 'd', 's'));
  EXPECT_EQ(h.fccHandler, 0u);
  EXPECT_EQ(h.dwFlags, 0u);  // not AVISTREAMINFO_DISABLED
  EXPECT_EQ(h.dwScale, 1u);
  EXPECT_EQ(h.dwRate, 16000u);
  EXPECT_EQ(h.dwSampleSize, 1u);
  EXPECT_EQ(h.dwQuality, 0xFFFFFFFFu);
  EXPECT_EQ(h.dwSuggestedBufferSize, 0u);
  EXPECT_EQ(h.dwLength, 0u);
  EXPECT_EQ(h.rcFrame.right, 0);
}

TEST(EncoderArithmetic, FramesAndCapacityOfABuffer) {
  struct Case {
    uint32_t bytes, frames, capacity;
  } cases[] = {
      {176400, 44100, 7200 + 55125},  // a full one-second buffer
      {0, 0, 7200},
      {3, 0, 7200},  // less than one frame
      {4, 1, 7201},
      {1001, 250, 7200 + 312},  // not a multiple of 4: rounded down
      {17, 4, 7205},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PcmFrames(c.bytes), c.frames) << c.bytes;
    EXPECT_EQ(Mp3Capacity(PcmFrames(c.bytes)), c.capacity) << c.bytes;
  }
  // A full buffer's worst case fits the output buffer with room to spare.
  EXPECT_LT(Mp3Capacity(PcmFrames(kAudioBufferBytes)), kMp3BufferBytes);
}

}  // namespace
