#include "audio/loopback_blocks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint64_t kUnitsPerMs = 10000;
constexpr uint32_t kRate = 48000;
constexpr uint32_t kPacketFrames = 480;  // 10 ms
constexpr uint32_t kBlockFrames = 44100;
constexpr double kToneHz = 1000;
constexpr float kToneLevel = 0.5f;
constexpr uint64_t kStart = 5000000 * kUnitsPerMs;

struct Block {
  std::vector<int16_t> pcm;
  uint64_t endCounter;
};

int PeakOf(const Block& block, uint32_t from, uint32_t to) {
  int peak = 0;
  for (uint32_t i = from * 2; i < to * 2; ++i) peak = std::max(peak, std::abs(block.pcm[i]));
  return peak;
}

// 4.5 s of a 48 kHz float stereo tone in 10 ms packets, with a stretch
// that Windows leaves without packets (polled meanwhile) or marks silent.
TEST(LoopbackBlocks, OneSecondBlocksStayOnTheCounterThroughSilence) {
  struct Case {
    const char* what;
    double quietFromMs, quietToMs;
    bool silentPackets;  // false: no packets at all, a discontinuity after
  } cases[] = {
      {"no quiet stretch", 0, 0, false},
      {"no packets from 1 s to 3 s", 1000, 3000, false},
      {"packets marked silent from 1 s to 3 s", 1000, 3000, true},
  };
  const MixFormat format = {kRate, 2, 8, 0x3, SampleType::kFloat32};
  for (const Case& c : cases) {
    std::vector<Block> blocks;
    LoopbackBlocks stream(format, kStart, kPacketFrames,
                          [&](const int16_t* pcm, uint32_t frames, uint64_t endCounter) {
                            blocks.push_back({{pcm, pcm + frames * 2}, endCounter});
                          });
    std::vector<float> packet(kPacketFrames * 2);
    bool afterGap = false;
    for (uint32_t first = 0; first < kRate * 9 / 2; first += kPacketFrames) {
      const double ms = first * 1000.0 / kRate;
      const uint64_t counter = kStart + static_cast<uint64_t>(ms * kUnitsPerMs);
      const bool quiet = ms >= c.quietFromMs && ms < c.quietToMs;
      if (quiet && !c.silentPackets) {
        stream.AddSilenceUntil(counter);
        afterGap = true;
        continue;
      }
      for (uint32_t i = 0; i < kPacketFrames; ++i) {
        packet[2 * i] = packet[2 * i + 1] =
            static_cast<float>(kToneLevel * std::sin(2 * M_PI * kToneHz * (first + i) / kRate));
      }
      stream.AddPacket(quiet ? nullptr : reinterpret_cast<const uint8_t*>(packet.data()),
                       kPacketFrames, counter, afterGap);
      afterGap = false;
    }
    stream.Flush();

    ASSERT_EQ(blocks.size(), 5u) << c.what;
    for (size_t k = 0; k < 4; ++k) {
      ASSERT_EQ(blocks[k].pcm.size(), kBlockFrames * 2) << c.what;
      EXPECT_NEAR(static_cast<double>(blocks[k].endCounter - kStart) / kUnitsPerMs,
                  1000.0 * (k + 1), 0.05)
          << c.what << ", block " << k;
    }
    const int fullTone = static_cast<int>(kToneLevel * 32767);
    constexpr uint32_t kEdgeFrames = 100;  // the resampler's kernel reaches this far
    EXPECT_NEAR(PeakOf(blocks[0], kEdgeFrames, kBlockFrames), fullTone, fullTone / 50) << c.what;
    const bool quiet = c.quietToMs > 0;
    EXPECT_EQ(PeakOf(blocks[1], kEdgeFrames, kBlockFrames) == 0, quiet) << c.what;
    EXPECT_EQ(PeakOf(blocks[2], 0, kBlockFrames - kEdgeFrames) == 0, quiet) << c.what;
    EXPECT_NEAR(PeakOf(blocks[3], kEdgeFrames, kBlockFrames), fullTone, fullTone / 50) << c.what;
  }
}

}  // namespace
