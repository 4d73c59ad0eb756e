#include "audio/loopback_timeline.h"

#include <cmath>

namespace {

constexpr double kCounterUnitsPerMs = 10000.0;
constexpr uint64_t kMsClockWrap = uint64_t{1} << 32;
// Packet times wander by up to a poll or two when they are read times.
constexpr uint64_t kPacketJitterUnits = 50 * 10000;  // 50 ms
// After a discontinuity a gap is taken from here on.
constexpr uint64_t kDiscontinuityGapUnits = 2 * 10000;  // 2 ms
// How long a packet may take to come after it was taken, at most: no
// silence is put nearer the present than this.
constexpr uint64_t kDeliveryUnits = 200 * 10000;  // 200 ms

}  // namespace

void ClockMap::AddPair(uint64_t counter, uint32_t ms) {
  if (count_ > 0 && ms < lastMs_) wrapsMs_ += static_cast<int64_t>(kMsClockWrap);
  lastMs_ = ms;
  offsetsMs_[next_] =
      static_cast<double>(wrapsMs_ + ms) - static_cast<double>(counter) / kCounterUnitsPerMs;
  next_ = (next_ + 1) % kPairs;
  if (count_ < kPairs) ++count_;
}

uint32_t ClockMap::MsAt(uint64_t counter) const {
  if (count_ == 0) return 0;
  double sum = 0;
  for (size_t i = 0; i < count_; ++i) sum += offsetsMs_[i];
  const double ms = static_cast<double>(counter) / kCounterUnitsPerMs + sum / count_;
  return static_cast<uint32_t>(static_cast<uint64_t>(std::llround(ms)) % kMsClockWrap);
}

LoopbackTimeline::LoopbackTimeline(uint32_t deviceRate, uint64_t startCounter)
    : rate_(deviceRate), nextCounter_(startCounter), anchorCounter_(startCounter) {}

uint64_t LoopbackTimeline::CounterOf(uint64_t frames) const {
  return frames * kCounterUnitsPerSecond / rate_;
}

uint64_t LoopbackTimeline::FramesOf(uint64_t counterUnits) const {
  return counterUnits * rate_ / kCounterUnitsPerSecond;
}

uint32_t LoopbackTimeline::SilenceBefore(uint64_t counter, uint32_t frames, bool discontinuity) {
  uint32_t silence = 0;
  if (counter > nextCounter_) {
    const uint64_t gap = counter - nextCounter_;
    if (gap > kPacketJitterUnits || (discontinuity && gap > kDiscontinuityGapUnits)) {
      silence = static_cast<uint32_t>(FramesOf(gap));
    }
  }
  frames_ += silence;
  anchorFrame_ = frames_;
  anchorCounter_ = counter;
  frames_ += frames;
  nextCounter_ = counter + CounterOf(frames);
  return silence;
}

uint32_t LoopbackTimeline::SilenceUntil(uint64_t nowCounter) {
  if (nowCounter < nextCounter_ + kDeliveryUnits) return 0;
  const auto silence = static_cast<uint32_t>(FramesOf(nowCounter - kDeliveryUnits - nextCounter_));
  anchorFrame_ = frames_;
  anchorCounter_ = nextCounter_;
  frames_ += silence;
  nextCounter_ += CounterOf(silence);
  return silence;
}

uint64_t LoopbackTimeline::CounterAt(uint64_t frame) const {
  return frame >= anchorFrame_ ? anchorCounter_ + CounterOf(frame - anchorFrame_)
                               : anchorCounter_ - CounterOf(anchorFrame_ - frame);
}
