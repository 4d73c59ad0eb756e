#include "audio/sound_mix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "audio/device_retry.h"
#include "audio/session_sound.h"

namespace {

constexpr double kRate = 44100;
constexpr double kFullScale = 32767;
constexpr double kToneHz = 1000;

// Interleaved stereo sums of a tone of `peak` (in 16-bit units).
std::vector<int32_t> ToneSums(double peak, double seconds) {
  std::vector<int32_t> sums(static_cast<size_t>(seconds * kRate) * 2);
  for (size_t i = 0; i < sums.size() / 2; ++i) {
    sums[2 * i] = sums[2 * i + 1] =
        static_cast<int32_t>(std::lround(peak * std::sin(2 * M_PI * kToneHz * i / kRate)));
  }
  return sums;
}

TEST(SoftLimiter, UnchangedBelowItsThresholdBoundedAboveNeverWrapped) {
  struct Case {
    const char* what;
    double peak;             // of the sum, in full scale's units
    double outLow, outHigh;  // its peak after the limiter, in the same
  } cases[] = {
      {"two quiet sounds", 0.5, 0.5, 0.5},
      {"just below -3 dBFS", 0.699, 0.699, 0.699},
      {"0.9 of full scale", 0.9, 0.75, 0.9},
      {"two full-scale sounds in phase", 2.0, 0.95, 1.0},
  };
  for (const Case& c : cases) {
    const std::vector<int32_t> sums = ToneSums(c.peak * kFullScale, 0.5);
    std::vector<int16_t> out(sums.size());
    SoftLimiter limiter;
    limiter.Process(sums.data(), static_cast<uint32_t>(sums.size() / 2), out.data());
    int peak = 0;
    for (size_t i = 0; i < sums.size(); ++i) {
      if (c.peak < 0.7) {
        ASSERT_EQ(out[i], sums[i]) << c.what << ", sample " << i;
      }
      // The sign is kept: nothing wraps round.
      ASSERT_GE(static_cast<int64_t>(out[i]) * sums[i], 0) << c.what << ", sample " << i;
      peak = std::max(peak, std::abs(out[i]));
    }
    EXPECT_GE(peak, std::floor(c.outLow * kFullScale)) << c.what;
    EXPECT_LE(peak, std::ceil(c.outHigh * kFullScale)) << c.what;
  }
}

TEST(SoftLimiter, LetsGoAfterALoudStretch) {
  std::vector<int32_t> sums = ToneSums(1.8 * kFullScale, 0.1);
  const std::vector<int32_t> quiet = ToneSums(0.25 * kFullScale, 1.5);
  sums.insert(sums.end(), quiet.begin(), quiet.end());
  std::vector<int16_t> out(sums.size());
  SoftLimiter limiter;
  limiter.Process(sums.data(), static_cast<uint32_t>(sums.size() / 2), out.data());
  // Half a second after the loud stretch the quiet tone passes as it is.
  for (size_t i = static_cast<size_t>(0.6 * kRate) * 2; i < sums.size(); ++i) {
    ASSERT_EQ(out[i], sums[i]) << "sample " << i;
  }
}

// A hold of 1000 frames; lane 0 brings 100s, lane 1 brings 10s.
TEST(SoundMix, AStalledLaneIsSilenceAndItsLateFramesAreDropped) {
  std::vector<int16_t> mixed;
  SoundMix mix(1000, [&](const int16_t* pcm, uint32_t frames) {
    mixed.insert(mixed.end(), pcm, pcm + frames * 2);
  });
  const std::vector<int16_t> hundreds(3000 * 2, 100), tens(2500 * 2, 10);
  mix.Add(1, tens.data(), 500);
  mix.Add(0, hundreds.data(), 3000);  // lane 1 has stalled after 500 frames
  mix.PassMixed();
  ASSERT_EQ(mixed.size(), 2000u * 2);  // lane 0 held as far as it may be
  EXPECT_EQ(mixed[0], 110);
  EXPECT_EQ(mixed[499 * 2 + 1], 110);
  EXPECT_EQ(mixed[500 * 2], 100);
  EXPECT_EQ(mixed[1999 * 2 + 1], 100);
  // Lane 1 comes back with frames 500 ... 3000: those before 2000 are past.
  mix.Add(1, tens.data(), 2500);
  mix.Finish();
  ASSERT_EQ(mixed.size(), 3000u * 2);
  EXPECT_EQ(mixed[2000 * 2], 110);
  EXPECT_EQ(mixed[2999 * 2 + 1], 110);

  // At the end the shorter lane is silence where it is missing.
  mixed.clear();
  SoundMix ending(1000, [&](const int16_t* pcm, uint32_t frames) {
    mixed.insert(mixed.end(), pcm, pcm + frames * 2);
  });
  ending.Add(0, hundreds.data(), 500);
  ending.Add(1, tens.data(), 200);
  ending.Finish();
  ASSERT_EQ(mixed.size(), 500u * 2);
  EXPECT_EQ(mixed[199 * 2], 110);
  EXPECT_EQ(mixed[200 * 2], 100);
}

// Two devices, 0.1 % fast and 0.1 % slow, handing back one-second buffers
// with a short pulse in each (the microphone's positive at 0.5 s into
// every other second, the computer's negative at 1.5 s): each pulse must
// land in the mixed stream where the picture was at its moment.
TEST(SessionSound, TwoSourcesOnTheirOwnClocksStayOnThePicture) {
  constexpr uint32_t kVideoStartMs = 1000;
  constexpr double kSeconds = 240;
  constexpr uint32_t kBufferFrames = 44100;
  constexpr int16_t kPulse = 16000;
  constexpr uint32_t kPulseFrames = 16;
  struct Device {
    double ratio;    // its frames per 44100 of the picture's clock
    double startMs;  // when its first frame was taken
    double pulseAtMs;
    int16_t pulse;
    uint64_t frames = 0;  // handed back so far
    double NextEndMs() const { return startMs + (frames + kBufferFrames) / (kRate * ratio) * 1000; }
  } devices[] = {{1.001, 300, 500, kPulse}, {0.999, 650, 1500, -kPulse}};

  struct Seen {
    uint64_t frame;
    bool positive;
  };
  std::vector<Seen> pulses;
  uint64_t written = 0;
  bool high = false;
  SessionSound sound({0, 0}, [&](const int16_t* pcm, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i, ++written) {
      const bool now = std::abs(pcm[2 * i]) > kPulse / 2;
      if (now && !high) pulses.push_back({written, pcm[2 * i] > 0});
      high = now;
    }
  });
  const VideoClock video{VideoState::kRunning, kVideoStartMs, nullptr};
  std::vector<int16_t> buffer(kBufferFrames * 2);
  for (;;) {
    const size_t next = devices[0].NextEndMs() <= devices[1].NextEndMs() ? 0 : 1;
    Device& d = devices[next];
    const double endMs = d.NextEndMs();
    if (endMs > kVideoStartMs + kSeconds * 1000) break;
    std::fill(buffer.begin(), buffer.end(), int16_t{0});
    for (double at = d.pulseAtMs; at < endMs; at += 2000) {
      const double frame = (at - d.startMs) / 1000 * kRate * d.ratio - d.frames;
      if (frame < 0 || frame + kPulseFrames >= kBufferFrames) continue;
      for (uint32_t i = 0; i < kPulseFrames; ++i) {
        buffer[2 * (static_cast<size_t>(frame) + i)] = d.pulse;
        buffer[2 * (static_cast<size_t>(frame) + i) + 1] = d.pulse;
      }
    }
    sound.Add(next, static_cast<uint32_t>(std::lround(endMs)), buffer.data(), kBufferFrames, video);
    d.frames += kBufferFrames;
  }
  sound.Finish(static_cast<uint32_t>(kVideoStartMs + kSeconds * 1000), video);

  constexpr double kSettledAfterMs = 60000;
  constexpr double kHeldMs = 5;  // the aligner's promise once settled
  size_t checked[2] = {};
  for (const Seen& pulse : pulses) {
    const double ms = pulse.frame / kRate * 1000;
    // Where the picture was at that pulse's moment, a multiple of 2 s on.
    const double expectedMs =
        std::round((ms - (pulse.positive ? 500 : 1500) + kVideoStartMs) / 2000) * 2000 +
        (pulse.positive ? 500 : 1500) - kVideoStartMs;
    if (expectedMs < kSettledAfterMs) continue;
    EXPECT_NEAR(ms, expectedMs, kHeldMs) << (pulse.positive ? "microphone" : "computer");
    ++checked[pulse.positive ? 0 : 1];
  }
  // Every pulse from then on was found, of both.
  EXPECT_GE(checked[0], 85u);
  EXPECT_GE(checked[1], 85u);
}

TEST(DeviceRetry, AtOnceThenDoublingToABoundAndAtOnceWhenAnnounced) {
  constexpr uint32_t kNearWrapMs = 0xFFFFFF80u;  // 128 ms before the wrap
  enum Event { kFailed, kAnnounced, kOpened, kNone };
  struct Step {
    Event event;
    uint32_t atMs;
    uint32_t notDueMs, dueMs;  // then: not due yet at the one, due at the other
  } steps[] = {
      {kFailed, 1000, 999, 1000},   // lost: tried at once
      {kFailed, 1000, 1249, 1250},  // that try failed: 250 ms
      {kFailed, 1250, 1749, 1750},  // 500 ms
      {kFailed, 1750, 2749, 2750},  // 1 s
      {kFailed, 2750, 4749, 4750},  // 2 s
      {kFailed, 4750, 6749, 6750},  // no more than 2 s
      {kAnnounced, 5000, 4999, 5000},   {kOpened, 5000, 4999, 5000},
      {kFailed, 9000, 8999, 9000},  // lost again: at once
      {kOpened, 9000, 8999, 9000},      {kFailed, kNearWrapMs, kNearWrapMs - 1, kNearWrapMs},
      {kFailed, kNearWrapMs, 121, 122},  // 250 ms on, across the wrap
  };
  DeviceRetry retry;
  for (const Step& s : steps) {
    if (s.event == kFailed) retry.Failed(s.atMs);
    if (s.event == kAnnounced) retry.Announced(s.atMs);
    if (s.event == kOpened) retry.Opened();
    EXPECT_FALSE(retry.Due(s.notDueMs)) << s.atMs;
    EXPECT_TRUE(retry.Due(s.dueMs)) << s.atMs;
  }
}

}  // namespace
