#include "audio/loopback_timeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr uint64_t kUnitsPerMs = 10000;

TEST(ClockMap, GivesTheMeanReadingOfASteppingClockAcrossItsWrap) {
  struct Case {
    const char* what;
    double stepMs;  // the ms clock's resolution
  } cases[] = {{"15.625 ms steps", 15.625}, {"1 ms steps", 1}};
  constexpr uint32_t kBaseMs = 0xFFFFF000u;       // wraps 4 s in
  constexpr double kCounterStartMs = 86400000.5;  // a day of uptime
  for (const Case& c : cases) {
    ClockMap map;
    EXPECT_FALSE(map.Ready());
    const auto reading = [&](double ms) {
      return kBaseMs + static_cast<uint32_t>(std::floor(ms / c.stepMs) * c.stepMs);
    };
    for (double t = 0; t < 8000; t += 10.37) {
      map.AddPair(static_cast<uint64_t>((kCounterStartMs + t) * kUnitsPerMs), reading(t));
    }
    ASSERT_TRUE(map.Ready());
    // On average a stepping clock reads half a step behind.
    const double expected = 7000 - c.stepMs / 2;
    const auto at = static_cast<uint64_t>((kCounterStartMs + 7000) * kUnitsPerMs);
    EXPECT_NEAR(static_cast<int32_t>(map.MsAt(at) - kBaseMs), expected, 1.0) << c.what;
  }
}

// 10 ms packets at 48 kHz, taken at their moments plus the given read
// jitter, with stretches without packets.
struct Scenario {
  const char* what;
  double jitterMs;
  double gapFromMs, gapToMs;  // no packets taken in between
  bool flagged;               // the first packet after the gap says so
  bool idlePolls;             // the gap is polled every 10 ms
  uint64_t silenceMin, silenceMax;
};

TEST(LoopbackTimeline, StretchesWithoutPacketsBecomeSilenceAtTheirPlaceOnce) {
  constexpr uint32_t kRate = 48000;
  constexpr uint32_t kPacketFrames = 480;
  constexpr double kEndMs = 6000;
  constexpr uint64_t kStart = 123456789 * kUnitsPerMs;
  const Scenario scenarios[] = {
      {"steady, read up to 8 ms late", 8, 0, 0, false, false, 0, 0},
      {"2 s without packets, then a discontinuity", 3, 2000, 4000, true, false, 95000, 97000},
      {"the same, polled meanwhile", 3, 2000, 4000, true, true, 95000, 97000},
      {"read up to 40 ms late", 40, 0, 0, false, false, 0, 0},
      {"30 ms without packets, flagged", 0, 3000, 3030, true, false, 1440, 1440},
      {"nothing plays from the start", 0, 0, 1500, true, true, 71500, 72500},
  };
  for (const Scenario& s : scenarios) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> jitter(0, s.jitterMs);
    LoopbackTimeline timeline(kRate, kStart);
    uint64_t silence = 0;
    bool afterGap = false;
    uint64_t afterGapFrame = 0, afterGapCounter = 0;
    for (double t = 0; t < kEndMs; t += 10) {
      const auto now = kStart + static_cast<uint64_t>((t + jitter(random)) * kUnitsPerMs);
      if (t >= s.gapFromMs && t < s.gapToMs) {
        if (s.idlePolls) silence += timeline.SilenceUntil(now);
        afterGap = true;
        continue;
      }
      const auto taken = kStart + static_cast<uint64_t>(t * kUnitsPerMs);
      const uint32_t before = timeline.SilenceBefore(s.jitterMs > 0 ? now : taken, kPacketFrames,
                                                     afterGap && s.flagged);
      silence += before;
      if (afterGap && afterGapCounter == 0) {
        afterGapFrame = timeline.Frames() - kPacketFrames;
        afterGapCounter = s.jitterMs > 0 ? now : taken;
      }
      afterGap = false;
    }
    EXPECT_GE(silence, s.silenceMin) << s.what;
    EXPECT_LE(silence, s.silenceMax) << s.what;
    // The stream holds the whole time, by the clock, to a packet or two.
    EXPECT_NEAR(static_cast<double>(timeline.Frames()), kEndMs / 1000 * kRate, 2 * kPacketFrames)
        << s.what;
    if (afterGapCounter != 0) {
      // The packet after the gap is where it was taken, to the read jitter since.
      EXPECT_NEAR(static_cast<double>(timeline.CounterAt(afterGapFrame)),
                  static_cast<double>(afterGapCounter), (s.jitterMs + 0.1) * kUnitsPerMs)
          << s.what;
    }
  }
}

}  // namespace
