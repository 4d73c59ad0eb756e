#include "audio/sound_mix.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "audio/mp3_format.h"

namespace {

constexpr double kFullScale = 32767.0;
// About -3 dBFS: a mix quieter than this passes untouched; only the top
// 3 dB are bent, so the limiter is seldom heard.
constexpr double kThresholdOfFullScale = 0.7;
// How fast the gain comes back after a peak: slow enough that a tone above
// the threshold is held at one gain through its cycles, not shaped.
constexpr double kReleaseMs = 200.0;
constexpr double kMsPerSecond = 1000.0;
const double kReleasePerFrame = std::exp(-kMsPerSecond / (kReleaseMs * kPcmSamplesPerSecond));
constexpr uint32_t kBlockFrames = kPcmSamplesPerSecond;  // one second

// Where a peak of `level` (full scale's units, above the threshold) is
// taken: on from the threshold with the same slope, bending towards full
// scale, which it never passes.
double LimitedLevel(double level) {
  constexpr double kRoom = 1.0 - kThresholdOfFullScale;
  return kThresholdOfFullScale + kRoom * std::tanh((level - kThresholdOfFullScale) / kRoom);
}

}  // namespace

void SoftLimiter::Process(const int32_t* sums, uint32_t frames, int16_t* out) {
  for (uint32_t i = 0; i < frames * kPcmChannels; i += kPcmChannels) {
    const int32_t peak = std::max(std::abs(sums[i]), std::abs(sums[i + 1]));
    envelope_ = std::max(peak / kFullScale, envelope_ * kReleasePerFrame);
    if (envelope_ <= kThresholdOfFullScale) {
      // Both samples are within the threshold, so within 16 bits.
      out[i] = static_cast<int16_t>(sums[i]);
      out[i + 1] = static_cast<int16_t>(sums[i + 1]);
      continue;
    }
    // |sum| <= envelope, so |sum x gain| <= LimitedLevel(envelope) <= 1.
    const double gain = LimitedLevel(envelope_) / envelope_;
    out[i] = static_cast<int16_t>(std::lround(sums[i] * gain));
    out[i + 1] = static_cast<int16_t>(std::lround(sums[i + 1] * gain));
  }
}

SoundMix::SoundMix(uint32_t holdFrames, BlockSink sink)
    : holdFrames_(holdFrames),
      sums_(size_t{kBlockFrames} * kPcmChannels),
      block_(size_t{kBlockFrames} * kPcmChannels),
      sink_(std::move(sink)) {
  for (Lane& lane : lanes_) lane.ring.resize(size_t{holdFrames} * kPcmChannels);
}

void SoundMix::Add(size_t lane, const int16_t* pcm, uint32_t frames) {
  Lane& into = lanes_[lane];
  if (into.end < mixed_) {
    // It stalled, and the mix went on without it: that stretch is past.
    const auto late = static_cast<uint32_t>(std::min<uint64_t>(frames, mixed_ - into.end));
    into.end += late;
    pcm += size_t{late} * kPcmChannels;
    frames -= late;
  }
  while (frames > 0) {
    if (into.end - mixed_ == holdFrames_) {
      // As far ahead as it may be: the other lane has stalled.
      MixUntil(mixed_ + std::min(frames, holdFrames_));
    }
    const auto at = static_cast<uint32_t>(into.end % holdFrames_);
    const uint32_t take = std::min(
        {frames, holdFrames_ - static_cast<uint32_t>(into.end - mixed_), holdFrames_ - at});
    std::copy(pcm, pcm + size_t{take} * kPcmChannels, &into.ring[size_t{at} * kPcmChannels]);
    into.end += take;
    pcm += size_t{take} * kPcmChannels;
    frames -= take;
  }
  MixUntil(std::min(lanes_[0].end, lanes_[1].end));
}

void SoundMix::MixUntil(uint64_t to) {
  while (mixed_ < to) {
    const auto count =
        static_cast<uint32_t>(std::min<uint64_t>(to - mixed_, kBlockFrames - blockFrames_));
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t position = mixed_ + i;
      const size_t at = static_cast<size_t>(position % holdFrames_) * kPcmChannels;
      for (size_t c = 0; c < kPcmChannels; ++c) {
        int32_t sum = 0;
        for (const Lane& lane : lanes_) {
          if (position < lane.end) sum += lane.ring[at + c];
        }
        sums_[size_t{i} * kPcmChannels + c] = sum;
      }
    }
    limiter_.Process(sums_.data(), count, &block_[size_t{blockFrames_} * kPcmChannels]);
    mixed_ += count;
    blockFrames_ += count;
    if (blockFrames_ == kBlockFrames) PassMixed();
  }
}

void SoundMix::PassMixed() {
  if (blockFrames_ == 0) return;
  sink_(block_.data(), blockFrames_);
  blockFrames_ = 0;
}

void SoundMix::Finish() {
  MixUntil(std::max(lanes_[0].end, lanes_[1].end));
  PassMixed();
}
