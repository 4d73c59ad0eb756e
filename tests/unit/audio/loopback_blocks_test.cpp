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

// 1.5 s at 48 kHz in float, then the device opened again 30 ms later at
// 44.1 kHz in 16 bits: the blocks go on at their second marks, the gap is
// silence, and the tone goes on at its level.
TEST(LoopbackBlocks, ANewFormatMidStreamFollowsOnInTime) {
  constexpr uint32_t kSecondRate = 44100;
  constexpr double kSwitchMs = 1500, kReopenedMs = 1530, kEndMs = 4100;
  std::vector<Block> blocks;
  LoopbackBlocks stream({kRate, 2, 8, 0x3, SampleType::kFloat32}, kStart, kPacketFrames,
                        [&](const int16_t* pcm, uint32_t frames, uint64_t endCounter) {
                          blocks.push_back({{pcm, pcm + frames * 2}, endCounter});
                        });
  std::vector<float> floats(kPacketFrames * 2);
  for (uint32_t first = 0; first < kRate * kSwitchMs / 1000; first += kPacketFrames) {
    for (uint32_t i = 0; i < kPacketFrames; ++i) {
      floats[2 * i] = floats[2 * i + 1] =
          static_cast<float>(kToneLevel * std::sin(2 * M_PI * kToneHz * (first + i) / kRate));
    }
    stream.AddPacket(reinterpret_cast<const uint8_t*>(floats.data()), kPacketFrames,
                     kStart + first * 1000 * kUnitsPerMs / kRate, false);
  }
  constexpr uint32_t kSecondPacketFrames = 441;
  stream.Restart({kSecondRate, 2, 4, 0x3, SampleType::kInt16}, kSecondPacketFrames);
  std::vector<int16_t> ints(kSecondPacketFrames * 2);
  const double fromMs = kReopenedMs, toMs = kEndMs;
  for (uint32_t first = 0; first < kSecondRate * (toMs - fromMs) / 1000;
       first += kSecondPacketFrames) {
    for (uint32_t i = 0; i < kSecondPacketFrames; ++i) {
      ints[2 * i] = ints[2 * i + 1] = static_cast<int16_t>(
          kToneLevel * 32767 * std::sin(2 * M_PI * kToneHz * (first + i) / kSecondRate));
    }
    const auto counter = kStart + static_cast<uint64_t>(fromMs * kUnitsPerMs) +
                         uint64_t{first} * 1000 * kUnitsPerMs / kSecondRate;
    stream.AddPacket(reinterpret_cast<const uint8_t*>(ints.data()), kSecondPacketFrames, counter,
                     false);
  }
  stream.Flush();

  ASSERT_EQ(blocks.size(), 5u);
  for (size_t k = 0; k < 4; ++k) {
    // The old stream's resampler held back under a ms of it.
    EXPECT_NEAR(static_cast<double>(blocks[k].endCounter - kStart) / kUnitsPerMs, 1000.0 * (k + 1),
                1.0)
        << "block " << k;
  }
  const auto frameAt = [](double ms) { return static_cast<uint32_t>((ms - 1000) * 44.1); };
  constexpr uint32_t kEdgeFrames = 100;
  EXPECT_EQ(PeakOf(blocks[1], frameAt(kSwitchMs) + kEdgeFrames, frameAt(kReopenedMs) - kEdgeFrames),
            0);
  const int fullTone = static_cast<int>(kToneLevel * 32767);
  EXPECT_NEAR(PeakOf(blocks[1], 0, frameAt(kSwitchMs) - kEdgeFrames), fullTone, fullTone / 50);
  EXPECT_NEAR(PeakOf(blocks[2], kEdgeFrames, kBlockFrames), fullTone, fullTone / 50);
}

}  // namespace
