// Keeping the sound on the picture. The picture is placed by the
// millisecond clock, the sound by its sample count, and the two clocks do
// not run at the same rate (a sound card is off by tens to hundreds of
// parts per million); the microphone also starts before or after the
// video, sometimes seconds apart (a message box on the recording thread, a
// slow set-up), and a device can lose a buffer or pause.
//
// So every returned buffer is placed by a decision that sees only when it
// came back and how many sample frames it held: until the video's first
// frame buffers are left out; the first kept one is cut or padded with
// silence to the first frame's time; after that the offset of the sound
// against the video clock is estimated with a line fit over minutes of
// arrival times (one arrival is off by tens of ms, the fit is not) and held
// on its target all the time by resampling each buffer by at most 0.5 %:
// a part of the fitted offset error, from the first few arrivals on, and
// once a minute of arrivals has been seen the fitted ratio of the clocks;
// the stretch changes by at most 0.05 % from one buffer to the next. A step
// (a lost buffer, a pause of the device), and whatever a clock further off
// than 0.5 % leaves over, is filled with silence or cut at once when it
// passes a gate of 20 ms (wider by the fit's own error while that is large).
// The target lies ahead of the capture moments by a decoder's delay and
// behind them by the picture's lag (SoundLeadFrames).
//
// A paused recording's time stands still (framework/pause_timeline.h): the
// sound heard while it was paused is cut out of each buffer, and targets
// are counted in the recording's time. The device runs on through a pause,
// so its fit goes on as if nothing happened, and after the resume the
// sound is placed as before.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "framework/pause_timeline.h"

// The most a buffer is stretched or squeezed: 0.5 %, below what an ear
// takes for a change of pitch.
constexpr uint32_t kMaxStretchPerMille = 5;
constexpr uint32_t kPerMille = 1000;

// What the video side has said by the time a buffer comes back.
enum class VideoState { kPending, kRunning, kAbsent };

struct VideoClock {
  VideoState state = VideoState::kPending;
  uint32_t startMs = 0;  // timeGetTime at the video's position 0 while running
  // The recording's pauses, in ms from startMs; none when null.
  const PauseTimeline* pauses = nullptr;
};

// Frames [from, to) of a buffer.
struct FrameSpan {
  uint32_t from;
  uint32_t to;
};

// How one returned buffer goes into the stream: `silenceFrames` of silence,
// then the buffer less its `cuts`, from `skipFrames` on, stretched or
// squeezed to `outputFrames` (unchanged when it equals what is left).
struct BufferPlan {
  bool keep = false;  // false: left out whole (before the first frame)
  uint32_t silenceFrames = 0;
  std::vector<FrameSpan> cuts;  // heard while the recording was paused, in order
  uint32_t skipFrames = 0;
  uint32_t outputFrames = 0;
  // The buffer holds the last sound before a pause: nothing more is written
  // until the resume, so the file's headers should say what is there now.
  bool lastBeforePause = false;
};

class SoundAligner {
 public:
  // `leadFrames`: how far ahead of its capture moments the sound is
  // written (see SoundLeadFrames), so that what is heard lands on the
  // picture as it is seen.
  explicit SoundAligner(int32_t leadFrames = 0);

  // A buffer of `frames` stereo sample frames came back at `arrivalMs`
  // (timeGetTime; differences wrap harmlessly). Buffers come in the
  // device's order, all of them, kept or not: the dropped ones still tell
  // the device's pace.
  BufferPlan Place(uint32_t arrivalMs, uint32_t frames, const VideoClock& video);

  // After the last buffer: silence from where the sound ends to
  // `videoEndMs` (timeGetTime when the picture ended), when the device
  // handed back less than that (it began late, or stalled): the sound then
  // runs to where the picture ends. Nothing when it ends there already,
  // within the gate.
  BufferPlan Finish(uint32_t videoEndMs, const VideoClock& video);

  // How far the last kept buffer's end was written from its target, by the
  // fit, in ms (positive: later, as sound minus picture reads).
  double LastOffsetMs() const { return lastOffsetMs_; }

 private:
  struct Point {
    double arrivalMs;     // since the first buffer's arrival
    double deviceFrames;  // frames the device had delivered by then
  };
  // Minutes of arrivals: long enough that tens of ms of jitter average out,
  // short enough to follow a clock that wanders with temperature.
  static constexpr size_t kFitPoints = 180;

  // The line fitted through the points.
  struct Line {
    double meanFrames = 0;
    double meanMs = 0;
    double msPerFrame = 0;
    double points = 0;
    double framesSquaredSum = 0;   // of the points' frames about their mean; 0: slope not fitted
    double varianceMsSquared = 0;  // of the points' arrivals about the line, in ms squared
    // When the device delivered its `deviceFrames`th frame.
    double ArrivalMs(double deviceFrames) const;
    // How far the line itself may be off there: its standard error.
    double ErrorMs(double deviceFrames) const;
  };

  void AddPoint(const Point& point);
  Line Fit() const;
  void UpdateFit(const Point& point);
  // How much a buffer of `frames` is stretched (negative: squeezed), per
  // mille, when adding `needFrames` would put it on its target.
  double StretchPerMille(uint32_t frames, double needFrames, const Line& line);

  bool haveOrigin_ = false;
  uint32_t originMs_ = 0;
  uint64_t deviceFrames_ = 0;
  std::array<Point, kFitPoints> points_{};
  size_t pointCount_ = 0;
  size_t nextPoint_ = 0;
  bool havePending_ = false;  // an arrival far off the fit, not trusted yet
  double pendingResidualMs_ = 0;

  // Where the sound taken `elapsedMs` after the video's position 0 goes in
  // the stream: that moment in the recording's time, less the lead.
  int64_t TargetFrames(double elapsedMs, const VideoClock& video) const;
  // The parts of the buffer ending at `deviceFrames` that were heard while
  // the recording was paused.
  std::vector<FrameSpan> PausedFrames(uint32_t frames, double deviceFrames, double videoStartMs,
                                      const Line& line, const PauseTimeline& pauses) const;

  int32_t leadFrames_ = 0;
  bool started_ = false;      // the first buffer on the picture has been placed
  bool endedPaused_ = false;  // the last buffer placed ended in a pause
  bool absent_ = false;       // no video this session: the sound is kept as it comes
  int64_t writtenFrames_ = 0;
  double stretchPerMille_ = 0;  // the last buffer's, for the next one's slew
  double lastOffsetMs_ = 0;
};

// How far ahead of its capture moments the sound is written so that a
// viewer hears it with the picture: a decoder's output lags what it was
// given by `decodedDelayFrames` (so the sound goes that much earlier), and
// a picture sampled at `framesPerSecond` shows an event half a frame
// interval late on average (so the sound goes that much later). Negative:
// written behind.
int32_t SoundLeadFrames(uint32_t decodedDelayFrames, int32_t framesPerSecond);

// Hands what a plan makes of a buffer of interleaved stereo frames to a
// writer, in order: the silence (in pieces of at most one buffer), then
// the frames the cuts and the skip leave, as they are or stretched.
using PcmWriter = std::function<void(const int16_t* frames, uint32_t count)>;
class PlannedPcmWriter {
 public:
  PlannedPcmWriter();
  // Frames that are gathered or stretched live in this writer's block
  // until the next call.
  void Write(const BufferPlan& plan, const int16_t* pcm, uint32_t frames, const PcmWriter& write);

 private:
  std::vector<int16_t> gathered_;   // the frames the cuts leave, one buffer at most
  std::vector<int16_t> stretched_;  // those, stretched by the bound at most
  std::vector<FrameSpan> pieces_;   // of the buffer, between the cuts
};

// Stretches or squeezes `inFrames` interleaved stereo 16-bit frames to
// `outFrames` by cubic interpolation; first and last frames are kept, and
// no output frame steps more than about one input frame past the last.
void ResampleFrames(const int16_t* in, uint32_t inFrames, int16_t* out, uint32_t outFrames);
