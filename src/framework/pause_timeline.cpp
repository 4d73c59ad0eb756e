#include "framework/pause_timeline.h"

#include <algorithm>
#include <limits>

namespace {
constexpr double kOpenEnd = std::numeric_limits<double>::infinity();
}  // namespace

void PauseTimeline::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  pauses_.clear();
}

void PauseTimeline::Pause(double atMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!pauses_.empty() && pauses_.back().toMs == kOpenEnd) return;
  pauses_.push_back({atMs, kOpenEnd});
}

void PauseTimeline::Resume(double atMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pauses_.empty() || pauses_.back().toMs != kOpenEnd) return;
  if (atMs <= pauses_.back().fromMs) {
    pauses_.pop_back();
  } else {
    pauses_.back().toMs = atMs;
  }
}

double PauseTimeline::RecordedMs(double atMs) const {
  std::lock_guard<std::mutex> lock(mutex_);
  double recordedMs = atMs;
  for (const PausedSpan& pause : pauses_) {
    if (pause.fromMs >= atMs) break;
    recordedMs -= std::min(atMs, pause.toMs) - pause.fromMs;
  }
  return recordedMs;
}

bool PauseTimeline::PausedAt(double atMs) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(pauses_.begin(), pauses_.end(), [&](const PausedSpan& pause) {
    return pause.fromMs <= atMs && atMs < pause.toMs;
  });
}

std::vector<PausedSpan> PauseTimeline::PausedWithin(double fromMs, double toMs) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<PausedSpan> within;
  for (const PausedSpan& pause : pauses_) {
    const double from = std::max(fromMs, pause.fromMs);
    const double to = std::min(toMs, pause.toMs);
    if (from < to) within.push_back({from, to});
  }
  return within;
}
