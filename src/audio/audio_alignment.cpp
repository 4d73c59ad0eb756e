#include "audio/audio_alignment.h"

#include <algorithm>
#include <cmath>

#include "audio/mp3_format.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr double kFramesPerMs = kPcmSamplesPerSecond / kMsPerSecond;
constexpr double kNominalMsPerFrame = 1.0 / kFramesPerMs;
// An offset error further than this, past what stretching takes care of,
// is filled with silence or cut at once: a lost buffer, a pause, or what a
// clock further off than the stretch's bound leaves over.
constexpr double kGateMs = 20.0;
// The gate widens by this many times the fit's own error at the newest
// arrival: the first seconds' fit, off by up to tens of ms, is no step.
constexpr double kGateFitErrors = 2.0;
// An arrival further than this off the fit is a step (a lost buffer, a
// pause) once the next arrival confirms it, or a late poll if not: arrival
// jitter is tens of ms.
constexpr double kStepMs = 100.0;
// Below this many points the device is taken at its nominal rate: a slope
// from two jittered arrivals is worse than none.
constexpr size_t kSlopeFitPoints = 3;
// Below this many points the offset is only stretched, never cut or
// filled: the first few arrivals' jitter is no step.
constexpr size_t kSettledFitPoints = 5;

// The offset term acts from this many points on, early enough that a
// recording of under a minute is held; before it the first buffer's
// placement stands.
constexpr size_t kOffsetFitPoints = 3;
// The part of the offset error taken in by one buffer: enough to settle in
// tens of buffers, little enough to smooth the fit's own wander.
constexpr double kOffsetGain = 0.25;
// From this many points on the fitted clock ratio is trusted: a slope from
// a minute of arrivals jittered by tens of ms is good to about 0.01 %.
constexpr size_t kRatioFitPoints = 60;
// How much the stretch may change from one buffer to the next, so that a
// jump of the fit is never heard as a jump in pitch.
constexpr double kStretchSlewPerMille = 0.5;

// A picture sampled once a frame interval shows an event, on average,
// half an interval after it happened (the next frame's grab reads it).
constexpr double kPictureLagPerFrameInterval = 2.0;

// One buffer of zeros, for silence of any length.
const int16_t kSilence[kPcmSamplesPerSecond * kPcmChannels] = {};
constexpr uint32_t kStretchedFramesMax =
    kPcmSamplesPerSecond + kPcmSamplesPerSecond * kMaxStretchPerMille / kPerMille;

int64_t Round(double value) {
  return static_cast<int64_t>(std::llround(value));
}

// Frames that stretching `frames` by `perMille` adds (negative: takes
// away), never past the bound.
int64_t StretchedFrames(uint32_t frames, double perMille) {
  const auto maxFrames = static_cast<int64_t>(frames * kMaxStretchPerMille / kPerMille);
  return std::clamp(Round(perMille * frames / kPerMille), -maxFrames, maxFrames);
}

}  // namespace

SoundAligner::SoundAligner(int32_t leadFrames) : leadFrames_(leadFrames) {}

int32_t SoundLeadFrames(uint32_t decodedDelayFrames, int32_t framesPerSecond) {
  const auto pictureLagFrames = static_cast<int32_t>(
      Round(kPcmSamplesPerSecond / (kPictureLagPerFrameInterval * framesPerSecond)));
  return static_cast<int32_t>(decodedDelayFrames) - pictureLagFrames;
}

void SoundAligner::AddPoint(const Point& point) {
  points_[nextPoint_] = point;
  nextPoint_ = (nextPoint_ + 1) % kFitPoints;
  if (pointCount_ < kFitPoints) ++pointCount_;
}

double SoundAligner::Line::ArrivalMs(double deviceFrames) const {
  return meanMs + msPerFrame * (deviceFrames - meanFrames);
}

SoundAligner::Line SoundAligner::Fit() const {
  Line line;
  line.points = static_cast<double>(pointCount_);
  for (size_t i = 0; i < pointCount_; ++i) {
    line.meanFrames += points_[i].deviceFrames;
    line.meanMs += points_[i].arrivalMs;
  }
  line.meanFrames /= line.points;
  line.meanMs /= line.points;
  line.msPerFrame = kNominalMsPerFrame;
  if (pointCount_ >= kSlopeFitPoints) {
    double sxx = 0, sxy = 0;
    for (size_t i = 0; i < pointCount_; ++i) {
      const double dx = points_[i].deviceFrames - line.meanFrames;
      sxx += dx * dx;
      sxy += dx * (points_[i].arrivalMs - line.meanMs);
    }
    if (sxx > 0) {
      line.msPerFrame = sxy / sxx;
      line.framesSquaredSum = sxx;
      double squaresMs = 0;
      for (size_t i = 0; i < pointCount_; ++i) {
        const double residualMs = points_[i].arrivalMs - line.ArrivalMs(points_[i].deviceFrames);
        squaresMs += residualMs * residualMs;
      }
      // Two of the points went into the line itself.
      line.varianceMsSquared = squaresMs / static_cast<double>(pointCount_ - 2);
    }
  }
  return line;
}

double SoundAligner::Line::ErrorMs(double deviceFrames) const {
  if (framesSquaredSum <= 0) return 0;
  const double dx = deviceFrames - meanFrames;
  return std::sqrt(varianceMsSquared * (1 / points + dx * dx / framesSquaredSum));
}

void SoundAligner::UpdateFit(const Point& point) {
  if (pointCount_ == 0) {
    AddPoint(point);
    return;
  }
  const double residualMs = point.arrivalMs - Fit().ArrivalMs(point.deviceFrames);
  if (std::fabs(residualMs) <= kStepMs) {
    havePending_ = false;  // a lone outlier before this one was a late poll
    AddPoint(point);
    return;
  }
  if (havePending_ && std::fabs(residualMs - pendingResidualMs_) <= kStepMs) {
    // Two arrivals in a row moved by about the same amount: the device's
    // time line stepped. The fit keeps its slope and moves with the later
    // one; the earlier one may be up to a step's tolerance off it.
    for (size_t i = 0; i < pointCount_; ++i) points_[i].arrivalMs += residualMs;
    AddPoint(point);
    havePending_ = false;
    return;
  }
  havePending_ = true;
  pendingResidualMs_ = residualMs;
}

double SoundAligner::StretchPerMille(uint32_t frames, double needFrames, const Line& line) {
  // The clock ratio: frames the device's rate adds to (or takes from) every
  // buffer, once the fit has seen enough of it to be trusted.
  const double driftFrames =
      pointCount_ >= kRatioFitPoints ? frames * (line.msPerFrame / kNominalMsPerFrame - 1) : 0;
  // The offset: what is left once the ratio is taken care of, pulled in a
  // part at a time so that the fit's own wander is smoothed.
  const double offsetFrames = pointCount_ >= kOffsetFitPoints ? needFrames - driftFrames : 0;
  const double wantedPerMille =
      (driftFrames + kOffsetGain * offsetFrames) * kPerMille / static_cast<double>(frames);
  const double slewed = std::clamp(wantedPerMille, stretchPerMille_ - kStretchSlewPerMille,
                                   stretchPerMille_ + kStretchSlewPerMille);
  stretchPerMille_ = std::clamp(slewed, -static_cast<double>(kMaxStretchPerMille),
                                static_cast<double>(kMaxStretchPerMille));
  return stretchPerMille_;
}

int64_t SoundAligner::TargetFrames(double elapsedMs, const VideoClock& video) const {
  const double recordedMs = video.pauses ? video.pauses->RecordedMs(elapsedMs) : elapsedMs;
  return Round(recordedMs * kFramesPerMs) - leadFrames_;
}

std::vector<FrameSpan> SoundAligner::PausedFrames(uint32_t frames, double deviceFrames,
                                                  double videoStartMs, const Line& line,
                                                  const PauseTimeline& pauses) const {
  const double beginMs = line.ArrivalMs(deviceFrames - frames) - videoStartMs;
  const double endMs = line.ArrivalMs(deviceFrames) - videoStartMs;
  auto frameAt = [&](double ms) {
    return static_cast<uint32_t>(
        std::clamp<int64_t>(Round((ms - beginMs) / line.msPerFrame), 0, frames));
  };
  std::vector<FrameSpan> cuts;
  for (const PausedSpan& paused : pauses.PausedWithin(beginMs, endMs)) {
    const FrameSpan cut{frameAt(paused.fromMs), frameAt(paused.toMs)};
    if (cut.from < cut.to) cuts.push_back(cut);
  }
  return cuts;
}

BufferPlan SoundAligner::Place(uint32_t arrivalMs, uint32_t frames, const VideoClock& video) {
  BufferPlan plan;
  if (!started_ && video.state == VideoState::kAbsent) absent_ = true;
  if (absent_ || frames == 0) {
    // Without a picture there is nothing to line up with; an empty buffer
    // (handed back by a reset) says nothing of the device's pace.
    plan.keep = absent_ || started_;
    plan.outputFrames = frames;
    return plan;
  }
  if (!haveOrigin_) {
    haveOrigin_ = true;
    originMs_ = arrivalMs;
  }
  deviceFrames_ += frames;
  const Point point{static_cast<double>(arrivalMs - originMs_), static_cast<double>(deviceFrames_)};
  UpdateFit(point);
  if (video.state != VideoState::kRunning) return plan;

  // Where this buffer's last frame belongs in the stream: its time on the
  // fitted device clock, counted in the recording's time from the video's
  // position 0, less what the decoder will put in front of it.
  const Line line = Fit();
  const double videoStartMs = static_cast<double>(static_cast<int32_t>(video.startMs - originMs_));
  const double endMs = line.ArrivalMs(point.deviceFrames) - videoStartMs;
  const int64_t targetFrames = TargetFrames(endMs, video);
  if (!started_ && targetFrames <= 0) return plan;  // all of it from before the first frame

  plan.keep = true;
  uint32_t uncutFrames = frames;
  if (video.pauses) {
    plan.cuts = PausedFrames(frames, point.deviceFrames, videoStartMs, line, *video.pauses);
    for (const FrameSpan& cut : plan.cuts) uncutFrames -= cut.to - cut.from;
    const bool endsPaused = video.pauses->PausedAt(endMs);
    plan.lastBeforePause = endsPaused && !endedPaused_;
    endedPaused_ = endsPaused;
  }
  if (!started_) {
    started_ = true;
    if (targetFrames >= uncutFrames) {
      plan.silenceFrames = static_cast<uint32_t>(targetFrames - uncutFrames);
      plan.outputFrames = uncutFrames;
    } else {
      plan.skipFrames = uncutFrames - static_cast<uint32_t>(targetFrames);
      plan.outputFrames = static_cast<uint32_t>(targetFrames);
    }
    writtenFrames_ = targetFrames;
    lastOffsetMs_ = 0;
    return plan;
  }
  if (uncutFrames == 0) {
    // Heard wholly while paused: nothing goes in, and no gap opens.
    lastOffsetMs_ = static_cast<double>(writtenFrames_ - targetFrames) / kFramesPerMs;
    return plan;
  }

  // Frames to add (positive: the sound runs early) to end on the target.
  const int64_t needFrames = targetFrames - writtenFrames_ - uncutFrames;
  const double stretchPerMille =
      StretchPerMille(uncutFrames, static_cast<double>(needFrames), line);
  // What stretching leaves over goes in or out at once past the gate, once
  // the fit is past the first few arrivals' jitter.
  const int64_t leftFrames = needFrames - StretchedFrames(uncutFrames, stretchPerMille);
  const double gateMs = kGateMs + kGateFitErrors * line.ErrorMs(point.deviceFrames);
  if (pointCount_ >= kSettledFitPoints &&
      std::fabs(static_cast<double>(leftFrames)) > gateMs * kFramesPerMs) {
    if (leftFrames > 0) {
      plan.silenceFrames = static_cast<uint32_t>(leftFrames);
    } else {
      // A cut longer than the buffer carries on into the next one.
      plan.skipFrames =
          static_cast<uint32_t>(-leftFrames < uncutFrames ? -leftFrames : uncutFrames);
    }
  }
  const uint32_t keptFrames = uncutFrames - plan.skipFrames;
  plan.outputFrames =
      static_cast<uint32_t>(keptFrames + StretchedFrames(keptFrames, stretchPerMille));
  writtenFrames_ += plan.silenceFrames + plan.outputFrames;
  lastOffsetMs_ = static_cast<double>(writtenFrames_ - targetFrames) / kFramesPerMs;
  return plan;
}

BufferPlan SoundAligner::Finish(uint32_t videoEndMs, const VideoClock& video) {
  BufferPlan plan;
  if (absent_ || video.state != VideoState::kRunning) return plan;
  const double endMs = static_cast<double>(static_cast<int32_t>(videoEndMs - video.startMs));
  const int64_t targetFrames = TargetFrames(endMs, video);
  const int64_t written = started_ ? writtenFrames_ : 0;
  if (targetFrames - written <= Round(kGateMs * kFramesPerMs)) return plan;
  plan.keep = true;
  plan.silenceFrames = static_cast<uint32_t>(targetFrames - written);
  started_ = true;
  writtenFrames_ = targetFrames;
  return plan;
}

void ResampleFrames(const int16_t* in, uint32_t inFrames, int16_t* out, uint32_t outFrames) {
  if (outFrames == 0) return;
  if (inFrames == 0) {
    for (uint32_t i = 0; i < outFrames * kPcmChannels; ++i) out[i] = 0;
    return;
  }
  const double step =
      outFrames > 1 ? static_cast<double>(inFrames - 1) / static_cast<double>(outFrames - 1) : 0.0;
  // Frame i of channel c; past either end the line through the two
  // nearest frames goes on, so that a ramp stays a ramp.
  const auto at = [&](int64_t i, uint32_t c) -> double {
    const int64_t last = inFrames - 1;
    if (i < 0) return 2.0 * in[c] - in[std::min<int64_t>(1, last) * kPcmChannels + c];
    if (i > last) {
      return 2.0 * in[last * kPcmChannels + c] -
             in[std::max<int64_t>(last - 1, 0) * kPcmChannels + c];
    }
    return in[i * kPcmChannels + c];
  };
  for (uint32_t j = 0; j < outFrames; ++j) {
    const double position = j * step;
    auto index = static_cast<int64_t>(position);
    if (index >= inFrames - 1) index = inFrames - 1;
    const double t = position - static_cast<double>(index);
    for (uint32_t c = 0; c < kPcmChannels; ++c) {
      // Catmull-Rom through the four frames around the position: unlike a
      // straight line between two, it keeps the treble (a 7 kHz tone within
      // 0.3 dB, where a line loses 0.8 dB and beats with the stretch).
      const double p0 = at(index - 1, c), p1 = at(index, c), p2 = at(index + 1, c),
                   p3 = at(index + 2, c);
      const double value =
          p1 +
          0.5 * t * (p2 - p0 + t * (2 * p0 - 5 * p1 + 4 * p2 - p3 + t * (3 * (p1 - p2) + p3 - p0)));
      out[j * kPcmChannels + c] =
          static_cast<int16_t>(std::clamp<long>(std::lround(value), INT16_MIN, INT16_MAX));
    }
  }
}

PlannedPcmWriter::PlannedPcmWriter()
    : gathered_(size_t{kPcmSamplesPerSecond} * kPcmChannels),
      stretched_(size_t{kStretchedFramesMax} * kPcmChannels) {}

void PlannedPcmWriter::Write(const BufferPlan& plan, const int16_t* pcm, uint32_t frames,
                             const PcmWriter& write) {
  if (!plan.keep) return;
  for (uint32_t left = plan.silenceFrames; left > 0;) {
    const uint32_t piece = left < kPcmSamplesPerSecond ? left : kPcmSamplesPerSecond;
    write(kSilence, piece);
    left -= piece;
  }
  // The pieces of the buffer between the cuts, less the skip from the front.
  pieces_.clear();
  uint32_t skip = plan.skipFrames;
  uint32_t keptFrames = 0;
  auto keep = [&](uint32_t from, uint32_t to) {
    const uint32_t skipped = std::min(skip, to - from);
    skip -= skipped;
    if (from + skipped < to) pieces_.push_back({from + skipped, to});
    keptFrames += to - from - skipped;
  };
  uint32_t at = 0;
  for (const FrameSpan& cut : plan.cuts) {
    keep(at, cut.from);
    at = cut.to;
  }
  keep(at, frames);
  if (plan.outputFrames == keptFrames) {
    for (const FrameSpan& piece : pieces_) {
      write(pcm + size_t{piece.from} * kPcmChannels, piece.to - piece.from);
    }
    return;
  }
  const int16_t* kept =
      pieces_.size() == 1 ? pcm + size_t{pieces_[0].from} * kPcmChannels : gathered_.data();
  if (pieces_.size() > 1) {
    int16_t* to = gathered_.data();
    for (const FrameSpan& piece : pieces_) {
      to = std::copy(pcm + size_t{piece.from} * kPcmChannels, pcm + size_t{piece.to} * kPcmChannels,
                     to);
    }
  }
  const uint32_t outputFrames = std::min(plan.outputFrames, kStretchedFramesMax);
  ResampleFrames(kept, keptFrames, stretched_.data(), outputFrames);
  write(stretched_.data(), outputFrames);
}
