#include "audio/audio_alignment.h"

#include <cmath>

#include "audio/mp3_format.h"

namespace {

constexpr double kMsPerSecond = 1000.0;
constexpr double kFramesPerMs = kPcmSamplesPerSecond / kMsPerSecond;
constexpr double kNominalMsPerFrame = 1.0 / kFramesPerMs;
// The offset that is left alone.
constexpr double kToleranceMs = 20.0;
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

// One buffer of zeros, for silence of any length.
const int16_t kSilence[kPcmSamplesPerSecond * kPcmChannels] = {};
constexpr uint32_t kStretchedFramesMax =
    kPcmSamplesPerSecond + kPcmSamplesPerSecond * kMaxStretchPerMille / kPerMille;
int16_t stretched[kStretchedFramesMax * kPcmChannels];

int64_t Round(double value) {
  return static_cast<int64_t>(std::llround(value));
}

}  // namespace

void SoundAligner::AddPoint(const Point& point) {
  points_[nextPoint_] = point;
  nextPoint_ = (nextPoint_ + 1) % kFitPoints;
  if (pointCount_ < kFitPoints) ++pointCount_;
}

double SoundAligner::FittedArrivalMs(double deviceFrames) const {
  double meanX = 0, meanY = 0;
  for (size_t i = 0; i < pointCount_; ++i) {
    meanX += points_[i].deviceFrames;
    meanY += points_[i].arrivalMs;
  }
  meanX /= static_cast<double>(pointCount_);
  meanY /= static_cast<double>(pointCount_);
  double slope = kNominalMsPerFrame;
  if (pointCount_ >= kSlopeFitPoints) {
    double sxx = 0, sxy = 0;
    for (size_t i = 0; i < pointCount_; ++i) {
      const double dx = points_[i].deviceFrames - meanX;
      sxx += dx * dx;
      sxy += dx * (points_[i].arrivalMs - meanY);
    }
    if (sxx > 0) slope = sxy / sxx;
  }
  return meanY + slope * (deviceFrames - meanX);
}

void SoundAligner::UpdateFit(const Point& point) {
  if (pointCount_ == 0) {
    AddPoint(point);
    return;
  }
  const double residualMs = point.arrivalMs - FittedArrivalMs(point.deviceFrames);
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
  // fitted device clock, counted from the video's position 0.
  const double videoStartMs = static_cast<double>(static_cast<int32_t>(video.startMs - originMs_));
  const int64_t targetFrames =
      Round((FittedArrivalMs(point.deviceFrames) - videoStartMs) * kFramesPerMs);
  if (!started_) {
    if (targetFrames <= 0) return plan;  // all of it from before the first frame
    started_ = true;
    plan.keep = true;
    if (targetFrames >= frames) {
      plan.silenceFrames = static_cast<uint32_t>(targetFrames - frames);
      plan.outputFrames = frames;
    } else {
      plan.skipFrames = frames - static_cast<uint32_t>(targetFrames);
      plan.outputFrames = static_cast<uint32_t>(targetFrames);
    }
    writtenFrames_ = targetFrames;
    return plan;
  }

  plan.keep = true;
  plan.outputFrames = frames;
  // Frames to add (positive: the sound runs early) to end on the target.
  const int64_t needFrames = targetFrames - writtenFrames_ - frames;
  if (std::fabs(static_cast<double>(needFrames)) > kToleranceMs * kFramesPerMs) correcting_ = true;
  if (correcting_) {
    const auto maxStretch = static_cast<int64_t>(frames * kMaxStretchPerMille / kPerMille);
    const int64_t stretch = needFrames > maxStretch
                                ? maxStretch
                                : (needFrames < -maxStretch ? -maxStretch : needFrames);
    const bool fitSettled = pointCount_ >= kSettledFitPoints;
    if (!fitSettled ||
        std::fabs(static_cast<double>(needFrames - stretch)) <= kToleranceMs * kFramesPerMs) {
      plan.outputFrames = static_cast<uint32_t>(frames + stretch);
      correcting_ = stretch != needFrames;  // stretch on with the next buffers
    } else if (needFrames > 0) {
      plan.silenceFrames = static_cast<uint32_t>(needFrames);
      correcting_ = false;
    } else {
      // A cut longer than the buffer carries on into the next one.
      plan.skipFrames = static_cast<uint32_t>(-needFrames < frames ? -needFrames : frames);
      plan.outputFrames = frames - plan.skipFrames;
      correcting_ = plan.outputFrames == 0;
    }
  }
  writtenFrames_ += plan.silenceFrames + plan.outputFrames;
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
  for (uint32_t j = 0; j < outFrames; ++j) {
    const double position = j * step;
    auto index = static_cast<uint32_t>(position);
    if (index >= inFrames - 1) index = inFrames - 1;
    const double fraction = position - index;
    const uint32_t next = index + 1 < inFrames ? index + 1 : index;
    for (uint32_t c = 0; c < kPcmChannels; ++c) {
      const double a = in[index * kPcmChannels + c];
      const double b = in[next * kPcmChannels + c];
      out[j * kPcmChannels + c] = static_cast<int16_t>(std::lround(a + (b - a) * fraction));
    }
  }
}

void WritePlannedPcm(const BufferPlan& plan, const int16_t* pcm, uint32_t frames,
                     const PcmWriter& write) {
  if (!plan.keep) return;
  for (uint32_t left = plan.silenceFrames; left > 0;) {
    const uint32_t piece = left < kPcmSamplesPerSecond ? left : kPcmSamplesPerSecond;
    write(kSilence, piece);
    left -= piece;
  }
  const int16_t* kept = pcm + size_t{plan.skipFrames} * kPcmChannels;
  const uint32_t keptFrames = frames - plan.skipFrames;
  if (plan.outputFrames == keptFrames) {
    write(kept, keptFrames);
    return;
  }
  ResampleFrames(kept, keptFrames, stretched, plan.outputFrames);
  write(stretched, plan.outputFrames);
}
