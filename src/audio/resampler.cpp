#include "audio/resampler.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint32_t kHalfTaps = 32;
constexpr uint32_t kTaps = 2 * kHalfTaps;
constexpr uint32_t kPhases = 256;
// Kaiser's beta for about 90 dB of stop band.
constexpr double kKaiserBeta = 8.6;
// The kernel's cut-off against the lower Nyquist frequency: with 64 taps
// the stop band then begins at that frequency, and the pass band is flat
// to about 18 kHz at 44.1 kHz (the MP3 encoder keeps less).
constexpr double kCutoffFraction = 0.91;
// Input taken at once, besides the kernel's reach: one second at 48 kHz.
constexpr uint32_t kChunkFrames = 48000;
constexpr double kPi = 3.14159265358979323846;

double BesselI0(double x) {
  double sum = 1, term = 1;
  for (int k = 1; term > 1e-12 * sum; ++k) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

uint32_t Gcd(uint32_t a, uint32_t b) {
  while (b) {
    const uint32_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

}  // namespace

StereoResampler::StereoResampler(uint32_t inRate, uint32_t outRate)
    : inRate_(inRate / Gcd(inRate, outRate)),
      outRate_(outRate / Gcd(inRate, outRate)),
      table_(size_t{kPhases + 1} * kTaps),
      history_(size_t{kTaps + kChunkFrames} * 2, 0.0f) {
  // Tap k of phase p weighs the input frame (k - kHalfTaps + 1) - p/kPhases
  // frames from the output instant.
  const double cutoff = kCutoffFraction * std::min(1.0, static_cast<double>(outRate_) / inRate_);
  for (uint32_t p = 0; p <= kPhases; ++p) {
    float* taps = &table_[size_t{p} * kTaps];
    double sum = 0;
    for (uint32_t k = 0; k < kTaps; ++k) {
      const double x = static_cast<double>(k) - (kHalfTaps - 1) - static_cast<double>(p) / kPhases;
      const double edge = x / kHalfTaps;
      const double window =
          std::fabs(edge) < 1
              ? BesselI0(kKaiserBeta * std::sqrt(1 - edge * edge)) / BesselI0(kKaiserBeta)
              : 0;
      const double sinc = x == 0 ? 1 : std::sin(kPi * cutoff * x) / (kPi * cutoff * x);
      taps[k] = static_cast<float>(cutoff * sinc * window);
      sum += taps[k];
    }
    for (uint32_t k = 0; k < kTaps; ++k) taps[k] = static_cast<float>(taps[k] / sum);  // DC gain 1
  }
  // Silence before the first frame, so that output 0 stands for input 0.
  historyFrames_ = kHalfTaps - 1;
  instant_ = uint64_t{kHalfTaps - 1} * outRate_;
}

uint32_t StereoResampler::MaxOutputFrames(uint32_t inFrames) const {
  return static_cast<uint32_t>(uint64_t{inFrames} * outRate_ / inRate_ + 2);
}

uint32_t StereoResampler::Run(float* out) {
  uint32_t written = 0;
  for (;;) {
    const auto frame = static_cast<uint32_t>(instant_ / outRate_);
    if (frame + kHalfTaps >= historyFrames_) break;
    const double phase = static_cast<double>(instant_ % outRate_) * kPhases / outRate_;
    const auto low = static_cast<uint32_t>(phase);
    const auto weight = static_cast<float>(phase - low);
    const float* a = &table_[size_t{low} * kTaps];
    const float* b = a + kTaps;
    const float* x = &history_[size_t{frame + 1 - kHalfTaps} * 2];
    float left = 0, right = 0;
    for (uint32_t k = 0; k < kTaps; ++k) {
      const float tap = a[k] + (b[k] - a[k]) * weight;
      left += tap * x[2 * k];
      right += tap * x[2 * k + 1];
    }
    out[2 * written] = left;
    out[2 * written + 1] = right;
    ++written;
    instant_ += inRate_;
  }
  // Frames no later output reaches go.
  const uint32_t firstNeeded = static_cast<uint32_t>(instant_ / outRate_) + 1 - kHalfTaps;
  std::copy(history_.begin() + size_t{firstNeeded} * 2,
            history_.begin() + size_t{historyFrames_} * 2, history_.begin());
  historyFrames_ -= firstNeeded;
  instant_ -= uint64_t{firstNeeded} * outRate_;
  return written;
}

uint32_t StereoResampler::Process(const float* in, uint32_t frames, float* out) {
  uint32_t written = 0;
  while (frames > 0) {
    const uint32_t room = static_cast<uint32_t>(history_.size() / 2) - historyFrames_;
    const uint32_t take = std::min(frames, room);
    std::copy(in, in + size_t{take} * 2, history_.begin() + size_t{historyFrames_} * 2);
    historyFrames_ += take;
    in += size_t{take} * 2;
    frames -= take;
    written += Run(out + size_t{written} * 2);
  }
  return written;
}
