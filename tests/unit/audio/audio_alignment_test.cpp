#include "audio/audio_alignment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr uint32_t kFramesPerBuffer = 44100;
constexpr double kFramesPerMs = 44.1;
// Readings close to the millisecond clock's wrap, as after 49 days of uptime.
constexpr uint32_t kClockBaseMs = 0xFFFF0000u;

VideoClock Running(uint32_t startMs) {
  return {VideoState::kRunning, startMs};
}

TEST(SoundAligner, FirstKeptBufferIsCutOrPaddedToTheFirstFrame) {
  // LAME's encoder delay with our settings and the decoder's: 576 + 529.
  constexpr int32_t kMp3DelayFrames = 1105;
  // Less half a frame interval at 15 fps (1470 frames): written behind.
  constexpr int32_t kLeadAt15FramesPerSecond = -365;
  struct Case {
    const char* what;
    int32_t delayFrames;
    uint32_t arrivalMs, frames, videoStartMs;
    bool keep;
    uint32_t silence, skip, output;
  } cases[] = {
      {"sound began 500 ms before the picture", 0, 2000, 44100, 1500, true, 0, 22050, 22050},
      {"sound began with the picture", 0, 2000, 44100, 1000, true, 0, 0, 44100},
      {"sound began 500 ms after the picture", 0, 2000, 44100, 500, true, 22050, 0, 44100},
      {"a half buffer 250 ms after the picture", 0, 2000, 22050, 1250, true, 11025, 0, 22050},
      {"picture began 1 ms before the buffer came back", 0, 2000, 44100, 1999, true, 0, 44056, 44},
      // The decoder puts 1105 frames in front: the stream is written that
      // much ahead.
      {"with the decoder's delay: 500 ms before", kMp3DelayFrames, 2000, 44100, 1500, true, 0,
       23155, 20945},
      {"with the decoder's delay: with the picture", kMp3DelayFrames, 2000, 44100, 1000, true, 0,
       1105, 42995},
      {"with the decoder's delay: 500 ms after", kMp3DelayFrames, 2000, 44100, 500, true, 20945, 0,
       44100},
      {"with the decoder's delay: 20 ms after", kMp3DelayFrames, 2000, 44100, 980, true, 0, 223,
       43877},
      {"with the decoder's delay: 30 ms after", kMp3DelayFrames, 2000, 44100, 970, true, 218, 0,
       44100},
      {"with the decoder's delay: picture 20 ms before the buffer came back", kMp3DelayFrames, 2000,
       44100, 1980, false, 0, 0, 0},
      {"written behind: with the picture", kLeadAt15FramesPerSecond, 2000, 44100, 1000, true, 365,
       0, 44100},
      {"written behind: 500 ms before", kLeadAt15FramesPerSecond, 2000, 44100, 1500, true, 0, 21685,
       22415},
  };
  for (const Case& c : cases) {
    SoundAligner aligner(c.delayFrames);
    const BufferPlan plan =
        aligner.Place(kClockBaseMs + c.arrivalMs, c.frames, Running(kClockBaseMs + c.videoStartMs));
    EXPECT_EQ(plan.keep, c.keep) << c.what;
    EXPECT_EQ(plan.silenceFrames, c.silence) << c.what;
    EXPECT_EQ(plan.skipFrames, c.skip) << c.what;
    EXPECT_EQ(plan.outputFrames, c.output) << c.what;
  }
}

TEST(SoundAligner, SoundGoesAheadByTheDecodersDelayAndBehindByHalfAFrameInterval) {
  struct Case {
    uint32_t decodedDelayFrames;
    int32_t framesPerSecond, lead;
  } cases[] = {
      {1105, 15, -365},  // 1470 frames: 33.3 ms
      {1105, 30, 370},   // 735: 16.7 ms
      {1105, 8, -1651},  // 2756.25
      {1105, 25, 223},   // 882
      {0, 20, -1103},    // 1102.5, rounded away from zero
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SoundLeadFrames(c.decodedDelayFrames, c.framesPerSecond), c.lead)
        << c.framesPerSecond;
  }
}

TEST(SoundAligner, BuffersBeforeTheFirstFrameAreLeftOutAndWithoutVideoAllIsKept) {
  // Buffers back at 1, 2, 3, 4 and 5 s; the picture begins at 4.2 s (a
  // message box held the recording thread): the first four are left out,
  // the fifth loses its first 200 ms.
  SoundAligner late;
  for (uint32_t second = 1; second <= 4; ++second) {
    EXPECT_FALSE(late.Place(second * 1000, kFramesPerBuffer, VideoClock{}).keep) << second;
  }
  const BufferPlan first = late.Place(5000, kFramesPerBuffer, Running(4200));
  EXPECT_TRUE(first.keep);
  EXPECT_EQ(first.skipFrames, 8820u);
  EXPECT_EQ(first.outputFrames, 35280u);

  SoundAligner noVideo;
  for (uint32_t second = 1; second <= 4; ++second) {
    const BufferPlan plan =
        noVideo.Place(second * 1000, kFramesPerBuffer, {VideoState::kAbsent, 0});
    EXPECT_TRUE(plan.keep);
    EXPECT_EQ(plan.silenceFrames + plan.skipFrames, 0u);
    EXPECT_EQ(plan.outputFrames, kFramesPerBuffer);
  }
}

// A device whose clock runs `errorPpm` off the millisecond clock, delivering
// one-second buffers that the audio thread sees `latencyMs` plus up to
// `jitterMs` after their last frame; the picture starts `videoStartMs`
// after the device. One buffer's worth can be lost, or the device paused.
struct Device {
  const char* what;
  double errorPpm;
  double jitterMs;
  int buffers;
  double videoStartMs;
  int eventAt;             // buffer before which the event happens, -1 for none
  double pauseMs;          // time that passes with no frames at the event
  int settleBuffers = 0;   // buffers before the offset is judged
  bool stall = false;      // the event only has that buffer seen late (a busy thread)
  int32_t leadFrames = 0;  // how far ahead the aligner is told to write
};

// The offset a settled controller holds, and what a stretch may be.
constexpr double kHeldMs = 5;
constexpr int64_t kMaxStretchFrames = 220;           // 0.5 % of a buffer
constexpr double kMaxStretchChangePerMille = 0.525;  // 0.05 %, and a frame of rounding

struct Outcome {
  double worstMs = 0;                // largest distance of the offset from its target once judged
  int settledAfter = 0;              // kept buffers until the offset stays within kHeldMs
  int stretched = 0;                 // buffers resampled
  int steps = 0;                     // silence put in or sound cut after the first kept buffer
  int64_t largestStretchFrames = 0;  // added or taken by resampling one buffer
  double largestStretchChangePerMille = 0;  // of one buffer's stretch from the last's
};

constexpr double kLatencyMs = 30;

Outcome Simulate(const Device& d) {
  SoundAligner aligner(d.leadFrames);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> jitter(0, d.jitterMs);
  const double msPerFrame = 1 / (kFramesPerMs * (1 + d.errorPpm * 1e-6));
  // The arrivals' mean lag, less the delay the stream is written ahead by.
  const double targetMs = kLatencyMs + d.jitterMs / 2 - d.leadFrames / kFramesPerMs;
  double capturedMs = 0;  // when the device took its last frame
  int64_t written = -1;
  int kept = 0;
  double lastStretchPerMille = 0;
  Outcome outcome;
  for (int i = 0; i < d.buffers; ++i) {
    const bool atEvent = i == d.eventAt;
    if (atEvent && !d.stall) capturedMs += d.pauseMs;
    capturedMs += kFramesPerBuffer * msPerFrame;
    const double seenLateMs = atEvent && d.stall ? d.pauseMs : 0;
    const auto arrivalMs =
        kClockBaseMs +
        static_cast<uint32_t>(std::lround(capturedMs + kLatencyMs + seenLateMs + jitter(random)));
    const uint32_t videoStartMs = kClockBaseMs + static_cast<uint32_t>(d.videoStartMs);
    const VideoClock video =
        static_cast<int32_t>(arrivalMs - videoStartMs) >= 0 ? Running(videoStartMs) : VideoClock{};
    const BufferPlan plan = aligner.Place(arrivalMs, kFramesPerBuffer, video);
    if (!plan.keep) continue;
    const uint32_t keptFrames = kFramesPerBuffer - plan.skipFrames;
    const int64_t stretch = int64_t{plan.outputFrames} - keptFrames;
    const double stretchPerMille = 1000.0 * static_cast<double>(stretch) / keptFrames;
    if (written >= 0) {
      outcome.steps += plan.silenceFrames + plan.skipFrames > 0;
      outcome.largestStretchChangePerMille = std::fmax(
          outcome.largestStretchChangePerMille, std::fabs(stretchPerMille - lastStretchPerMille));
    } else {
      written = 0;
    }
    ++kept;
    lastStretchPerMille = stretchPerMille;
    outcome.stretched += stretch != 0;
    outcome.largestStretchFrames = std::max(outcome.largestStretchFrames, std::abs(stretch));
    written += plan.silenceFrames + plan.outputFrames;
    // The buffer's last frame sits at `written` in the stream; on the
    // picture's time line it was taken at capturedMs - videoStartMs.
    const double offsetMs = written / kFramesPerMs - (capturedMs - d.videoStartMs);
    const double errorMs = std::fabs(offsetMs - targetMs);
    const bool stepping = !d.stall && d.eventAt >= 0 && (atEvent || i == d.eventAt + 1);
    if (stepping) continue;
    if (i >= d.settleBuffers) outcome.worstMs = std::fmax(outcome.worstMs, errorMs);
    if (errorMs > kHeldMs) outcome.settledAfter = kept;
  }
  return outcome;
}

TEST(SoundAligner, KeepsTheSoundOnThePictureForAnyClockAndEvent) {
  constexpr int kMinute = 60, kHour = 3600;
  // The millisecond clock is read in whole ms.
  constexpr double kRoundingMs = 1;
  // Beyond the stretch's bound the offset saws inside the gate.
  constexpr double kGatedMs = 21;
  // ... and with 40 ms of jitter the gate widens by twice the fit's error,
  // which the fit is also off by: about 2 ms each after minutes.
  constexpr double kJitteredGatedMs = 27;
  // A clock 1 % off shows in the fit after five arrivals.
  constexpr int kSettle = 5;
  // The fitted clock ratio has taken over, and the offset it left is in.
  constexpr int kHeldAfter = 2 * kMinute;
  // A clock 0.1 % off, from a first buffer placed on an arrival up to 20 ms
  // off the mean: within kHeldMs this soon.
  constexpr int kSettledBy = 40;
  constexpr int32_t kMp3DelayFrames = 1105;  // 25.06 ms
  // A controller acts on every buffer whose target the clock or the fit
  // moves, by a few frames: a clock off at all, or jittered arrivals, have
  // nearly every buffer stretched. Only an exact, steady clock is left be.
  struct Case {
    Device device;
    double worstMs;
    int minStretched, maxStretched, minSteps, maxSteps;
  } cases[] = {
      // clang-format off
      {{"exact clock for an hour", 0, 0, kHour, 500, -1, 0}, kRoundingMs, 0, 0, 0, 0},
      {{"+0.01 % for ten hours", 100, 0, 10 * kHour, 500, -1, 0}, kRoundingMs, 35900, 36000, 0, 0},
      {{"-0.01 % for an hour", -100, 0, kHour, 500, -1, 0}, kRoundingMs, 3590, 3600, 0, 0},
      // Arrivals off by up to 40 ms: held to a few ms of the mean lag.
      {{"exact clock, 40 ms of jitter, an hour", 0, 40, kHour, 500, -1, 0, kHeldAfter},
       kHeldMs, 3000, 3600, 0, 0},
      {{"+0.01 %, 40 ms of jitter, an hour", 100, 40, kHour, 500, -1, 0, kHeldAfter},
       kHeldMs, 3000, 3600, 0, 0},
      {{"-0.01 %, 40 ms of jitter, an hour", -100, 40, kHour, 500, -1, 0, kHeldAfter},
       kHeldMs, 3000, 3600, 0, 0},
      {{"+0.1 %, 40 ms of jitter, an hour", 1000, 40, kHour, 500, -1, 0, kHeldAfter},
       kHeldMs, 3590, 3600, 0, 0},
      {{"-0.1 %, 40 ms of jitter, an hour", -1000, 40, kHour, 500, -1, 0, kHeldAfter},
       kHeldMs, 3590, 3600, 0, 0},
      {{"+0.4 %, 40 ms of jitter, an hour", 4000, 40, kHour, 500, -1, 0, kHeldAfter},
       kHeldMs, 3590, 3600, 0, 0},
      {{"-0.4 %, 40 ms of jitter, an hour", -4000, 40, kHour, 500, -1, 0, kHeldAfter},
       kHeldMs, 3590, 3600, 0, 0},
      {{"+0.1 %, 40 ms of jitter, settling", 1000, 40, 10 * kMinute, 500, -1, 0, kSettledBy},
       kHeldMs, 590, 600, 0, 0},
      // The whole time line moves 25.06 ms ahead, and is held there.
      {{"+0.1 %, 40 ms of jitter, the decoder's delay", 1000, 40, kHour, 500, -1, 0, kHeldAfter, false, kMp3DelayFrames},
       kHeldMs, 3590, 3600, 0, 0},
      // Beyond 0.5 % the stretch stays at its bound and what it leaves over
      // is cut or filled each time it passes the gate: every fourth or
      // fifth buffer.
      {{"+1 % for five minutes", 10000, 0, 5 * kMinute, 500, -1, 0, kSettle},
       kGatedMs, 290, 300, 55, 80},
      {{"-1 % for five minutes", -10000, 0, 5 * kMinute, 500, -1, 0, kSettle},
       kGatedMs, 290, 300, 55, 80},
      {{"+1 %, 40 ms of jitter", 10000, 40, 5 * kMinute, 500, -1, 0, kHeldAfter},
       kJitteredGatedMs, 290, 300, 50, 80},
      {{"-1 %, 40 ms of jitter", -10000, 40, 5 * kMinute, 500, -1, 0, kHeldAfter},
       kJitteredGatedMs, 290, 300, 50, 80},
      // A lost buffer and a pause of the device: filled once, at once; a
      // buffer seen late moves nothing.
      {{"a lost buffer", 0, 10, 10 * kMinute, 500, 100, 1000}, kHeldMs, 300, 600, 1, 1},
      {{"one buffer seen 600 ms late", 0, 10, 10 * kMinute, 500, 100, 600, 0, true},
       kHeldMs, 300, 600, 0, 0},
      {{"a 5 s pause at +0.1 %", 1000, 10, 10 * kMinute, 500, 200, 5000}, kHeldMs, 590, 600, 1, 1},
      // The picture starts 4.2 s after the sound (a message box).
      {{"video 4.2 s late, +0.1 %", 1000, 10, 10 * kMinute, 4200, -1, 0}, kHeldMs, 590, 600, 0, 0},
      {{"video 4.2 s late, +0.1 %, 40 ms of jitter", 1000, 40, 10 * kMinute, 4200, -1, 0, kHeldAfter},
       kHeldMs, 590, 600, 0, 0},
      // clang-format on
  };
  for (const Case& c : cases) {
    const Outcome o = Simulate(c.device);
    EXPECT_LE(o.worstMs, c.worstMs) << c.device.what;
    EXPECT_GE(o.stretched, c.minStretched) << c.device.what;
    EXPECT_LE(o.stretched, c.maxStretched) << c.device.what;
    EXPECT_GE(o.steps, c.minSteps) << c.device.what;
    EXPECT_LE(o.steps, c.maxSteps) << c.device.what;
    EXPECT_LE(o.largestStretchFrames, kMaxStretchFrames) << c.device.what;
    EXPECT_LE(o.largestStretchChangePerMille, kMaxStretchChangePerMille) << c.device.what;
    std::printf("%-48s worst %4.1f ms, settled after %3d, %5d stretched, %2d steps\n",
                c.device.what, o.worstMs, o.settledAfter, o.stretched, o.steps);
  }
}

// What the audio thread writes for a device 0.1 % fast whose sound starts
// 4.2 s before the picture, for five minutes: a click taken at second t of
// the video clock sits at second t - 4.2 of the stream, less the pauses
// before it; a click heard while paused is not there, and the stream holds
// nothing else: no repeat, no gap at a seam.
TEST(PlannedPcmWriter, ClicksLandWhereThePictureHasThemAcrossPauses) {
  constexpr double kErrorPpm = 1000, kVideoStartMs = 4200;
  constexpr int kBuffers = 300;
  constexpr uint32_t kClickFrames = 40;  // 1 ms: survives stretching
  constexpr int16_t kClickLevel = 10000;
  constexpr double kBoundMs = 21;
  constexpr double kOpen = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    std::vector<PausedSpan> pauses;  // on the video clock
  } cases[] = {
      {"never paused", {}},
      {"paused and resumed inside one buffer", {{60300, 60650}}},
      {"a pause shorter than a buffer, across two", {{90800, 91500}}},
      {"a pause across several buffers", {{120500, 124700}}},
      {"three pauses in two buffers", {{150100, 150130}, {150200, 150300}, {150900, 152050}}},
      {"paused for good", {{200000, kOpen}}},
  };
  const double msPerFrame = 1 / (kFramesPerMs * (1 + kErrorPpm * 1e-6));
  for (const Case& c : cases) {
    PauseTimeline pauses;
    for (const PausedSpan& pause : c.pauses) {
      pauses.Pause(pause.fromMs);
      if (pause.toMs != kOpen) pauses.Resume(pause.toMs);
    }
    SoundAligner aligner;
    PlannedPcmWriter writer;
    std::vector<int16_t> stream;
    std::vector<int16_t> buffer(2 * kFramesPerBuffer);
    std::vector<double> clickMs;  // on the recording's time, for each click heard unpaused
    for (int i = 0; i < kBuffers; ++i) {
      std::fill(buffer.begin(), buffer.end(), 0);
      // One click a buffer, at a frame that walks through the buffer.
      const uint32_t at = (i * 7919u) % (kFramesPerBuffer - kClickFrames);
      std::fill(buffer.begin() + 2 * at, buffer.begin() + 2 * (at + kClickFrames), kClickLevel);
      const double endMs = (i + 1) * kFramesPerBuffer * msPerFrame;
      const auto arrivalMs = kClockBaseMs + static_cast<uint32_t>(std::lround(endMs));
      const uint32_t videoStartMs = kClockBaseMs + static_cast<uint32_t>(kVideoStartMs);
      VideoClock video = static_cast<int32_t>(arrivalMs - videoStartMs) >= 0 ? Running(videoStartMs)
                                                                             : VideoClock{};
      video.pauses = &pauses;
      writer.Write(aligner.Place(arrivalMs, kFramesPerBuffer, video), buffer.data(),
                   kFramesPerBuffer, [&](const int16_t* pcm, uint32_t count) {
                     stream.insert(stream.end(), pcm, pcm + 2 * size_t{count});
                   });
      const double takenMs = endMs - (kFramesPerBuffer - at) * msPerFrame - kVideoStartMs;
      if (takenMs >= 0 && !pauses.PausedAt(takenMs)) clickMs.push_back(pauses.RecordedMs(takenMs));
    }
    std::vector<double> heardMs;  // where each click begins in the stream
    for (size_t f = 0; f < stream.size() / 2; ++f) {
      if (stream[2 * f] > kClickLevel / 2 && (f == 0 || stream[2 * f - 2] <= kClickLevel / 2)) {
        heardMs.push_back(f / kFramesPerMs);
      }
    }
    ASSERT_EQ(heardMs.size(), clickMs.size()) << c.what;
    for (size_t k = 0; k < heardMs.size(); ++k) {
      EXPECT_NEAR(heardMs[k], clickMs[k], kBoundMs) << c.what << ", click " << k;
    }
    const double lastEndMs = kBuffers * kFramesPerBuffer * msPerFrame - kVideoStartMs;
    EXPECT_NEAR(stream.size() / 2 / kFramesPerMs, pauses.RecordedMs(lastEndMs), kBoundMs) << c.what;
  }
}

TEST(SoundAligner, FinishRunsTheSoundToWhereThePictureEnds) {
  // The picture from 1000 to 1530 ms.
  struct Case {
    const char* what;
    int32_t leadFrames;
    uint32_t bufferArrivalMs;  // 0: none came back
    uint32_t silence;
  } cases[] = {
      {"no buffer came back", 0, 0, 23373},
      {"no buffer, written half a frame behind", -365, 0, 23738},
      {"the sound ends 230 ms short", 0, 1300, 10143},
      {"the sound ends 10 ms short: within the gate", 0, 1520, 0},
  };
  for (const Case& c : cases) {
    SoundAligner aligner(c.leadFrames);
    const VideoClock video = Running(kClockBaseMs + 1000);
    if (c.bufferArrivalMs) aligner.Place(kClockBaseMs + c.bufferArrivalMs, kFramesPerBuffer, video);
    const BufferPlan tail = aligner.Finish(kClockBaseMs + 1530, video);
    EXPECT_EQ(tail.keep, c.silence > 0) << c.what;
    EXPECT_EQ(tail.silenceFrames, c.silence) << c.what;
    EXPECT_EQ(tail.outputFrames, 0u) << c.what;
  }
}

TEST(ResampleFrames, StretchesAndSqueezesKeepingBothEnds) {
  struct Case {
    std::vector<int16_t> in, out;  // stereo: left, right
  } cases[] = {
      {{0, 0, 100, -100, 200, -200, 300, -300},
       {0, 0, 50, -50, 100, -100, 150, -150, 200, -200, 250, -250, 300, -300}},
      {{0, 1, 10, 2, 20, 3, 30, 4, 40, 5}, {0, 1, 20, 3, 40, 5}},
      {{7, 8, 9, 10}, {7, 8, 9, 10}},
      {{5, 6}, {5, 6, 5, 6}},
  };
  for (const Case& c : cases) {
    std::vector<int16_t> out(c.out.size(), -1);
    ResampleFrames(c.in.data(), static_cast<uint32_t>(c.in.size() / 2), out.data(),
                   static_cast<uint32_t>(out.size() / 2));
    EXPECT_EQ(out, c.out);
  }
}

// A buffer stretched by the bound keeps its tones' level, the treble's too.
TEST(ResampleFrames, KeepsTheLevelOfTonesUpTo7kHz) {
  constexpr uint32_t kInFrames = 44100;
  constexpr uint32_t kOutFrames = kInFrames + kInFrames * kMaxStretchPerMille / kPerMille;
  constexpr double kLevel = 16000;
  for (const double hz : {1000.0, 7000.0}) {
    std::vector<int16_t> in(kInFrames * 2), out(kOutFrames * 2);
    for (uint32_t i = 0; i < kInFrames; ++i) {
      in[2 * i] = in[2 * i + 1] =
          static_cast<int16_t>(std::lround(kLevel * std::sin(2 * M_PI * hz * i / kInFrames)));
    }
    ResampleFrames(in.data(), kInFrames, out.data(), kOutFrames);
    double squares = 0;
    for (uint32_t i = 0; i < kOutFrames; ++i)
      squares += static_cast<double>(out[2 * i]) * out[2 * i];
    const double db = 20 * std::log10(std::sqrt(squares / kOutFrames) / (kLevel / std::sqrt(2.0)));
    EXPECT_NEAR(db, 0.0, 0.3) << hz << " Hz";
  }
}

}  // namespace
