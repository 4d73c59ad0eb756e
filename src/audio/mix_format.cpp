#include "audio/mix_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint16_t kFormatPcm = 1;              // WAVE_FORMAT_PCM
constexpr uint16_t kFormatFloat = 3;            // WAVE_FORMAT_IEEE_FLOAT
constexpr uint16_t kFormatExtensible = 0xFFFE;  // WAVE_FORMAT_EXTENSIBLE
constexpr size_t kWaveFormatBytes = 18;         // WAVEFORMATEX
constexpr size_t kExtensibleBytes = 40;         // WAVEFORMATEXTENSIBLE
constexpr size_t kChannelsAt = 2, kRateAt = 4, kBlockAlignAt = 12, kBitsAt = 14;
constexpr size_t kChannelMaskAt = 20, kSubFormatAt = 24;
constexpr size_t kGuidBytes = 16;
// KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT share all but their first word
// with the WAVE_FORMAT tag they stand for.
constexpr uint8_t kSubFormatTail[kGuidBytes - 2] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// SPEAKER_* bits.
constexpr uint32_t kFrontLeft = 0x1, kFrontRight = 0x2, kFrontCenter = 0x4, kLowFrequency = 0x8,
                   kBackLeft = 0x10, kBackRight = 0x20, kFrontLeftOfCenter = 0x40,
                   kFrontRightOfCenter = 0x80, kBackCenter = 0x100, kSideLeft = 0x200,
                   kSideRight = 0x400, kTopCenter = 0x800, kTopFrontLeft = 0x1000,
                   kTopFrontCenter = 0x2000, kTopFrontRight = 0x4000, kTopBackLeft = 0x8000,
                   kTopBackCenter = 0x10000, kTopBackRight = 0x20000;
constexpr float kMinus3Db = 0.70710678f;

uint16_t U16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t U32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// The platform's layouts by channel count (KSAUDIO_SPEAKER_*).
uint32_t UsualMask(uint16_t channels) {
  switch (channels) {
    case 1:
      return kFrontCenter;
    case 2:
      return kFrontLeft | kFrontRight;
    case 3:
      return kFrontLeft | kFrontRight | kFrontCenter;
    case 4:
      return kFrontLeft | kFrontRight | kBackLeft | kBackRight;
    case 5:
      return kFrontLeft | kFrontRight | kFrontCenter | kBackLeft | kBackRight;
    case 6:
      return kFrontLeft | kFrontRight | kFrontCenter | kLowFrequency | kBackLeft | kBackRight;
    case 8:
      return kFrontLeft | kFrontRight | kFrontCenter | kLowFrequency | kBackLeft | kBackRight |
             kSideLeft | kSideRight;
    default:
      return 0;
  }
}

struct Weights {
  float left, right;
};

Weights WeightsOf(uint32_t speaker) {
  switch (speaker) {
    case kFrontLeft:
    case kFrontLeftOfCenter:
      return {1, 0};
    case kFrontRight:
    case kFrontRightOfCenter:
      return {0, 1};
    case kBackLeft:
    case kSideLeft:
    case kTopFrontLeft:
    case kTopBackLeft:
      return {kMinus3Db, 0};
    case kBackRight:
    case kSideRight:
    case kTopFrontRight:
    case kTopBackRight:
      return {0, kMinus3Db};
    case kFrontCenter:
    case kBackCenter:
    case kTopCenter:
    case kTopFrontCenter:
    case kTopBackCenter:
      return {kMinus3Db, kMinus3Db};
    default:
      return {0, 0};  // the low-frequency channel, and bits no speaker has
  }
}

int Popcount(uint32_t bits) {
  int count = 0;
  for (; bits; bits &= bits - 1) ++count;
  return count;
}

float SampleAt(const uint8_t* at, SampleType type) {
  constexpr float kInt16Scale = 1.0f / 32768.0f;
  constexpr double kInt24Scale = 1.0 / 8388608.0;
  constexpr double kInt32Scale = 1.0 / 2147483648.0;
  switch (type) {
    case SampleType::kFloat32: {
      float value;
      std::memcpy(&value, at, sizeof value);
      return value;
    }
    case SampleType::kInt16:
      return static_cast<int16_t>(U16(at)) * kInt16Scale;
    case SampleType::kInt24: {
      // Into the top of a 32-bit word for its sign, then back down.
      const uint32_t word = static_cast<uint32_t>(at[0]) << 8 | static_cast<uint32_t>(at[1]) << 16 |
                            static_cast<uint32_t>(at[2]) << 24;
      return static_cast<float>(static_cast<int32_t>(word) / 256 * kInt24Scale);
    }
    case SampleType::kInt32:
      return static_cast<float>(static_cast<int32_t>(U32(at)) * kInt32Scale);
  }
  return 0;
}

}  // namespace

std::optional<MixFormat> ParseMixFormat(const uint8_t* bytes, size_t size) {
  if (!bytes || size < kWaveFormatBytes - 2) return std::nullopt;
  uint16_t tag = U16(bytes);
  MixFormat format;
  format.channels = U16(bytes + kChannelsAt);
  format.samplesPerSecond = U32(bytes + kRateAt);
  format.blockAlign = U16(bytes + kBlockAlignAt);
  const uint16_t bits = U16(bytes + kBitsAt);
  if (tag == kFormatExtensible) {
    if (size < kExtensibleBytes) return std::nullopt;
    if (std::memcmp(bytes + kSubFormatAt + 2, kSubFormatTail, sizeof kSubFormatTail) != 0) {
      return std::nullopt;
    }
    tag = U16(bytes + kSubFormatAt);
    format.channelMask = U32(bytes + kChannelMaskAt);
  }
  if (format.channels == 0 || format.samplesPerSecond == 0) return std::nullopt;
  if (tag == kFormatFloat && bits == 32) {
    format.type = SampleType::kFloat32;
  } else if (tag == kFormatPcm && bits == 16) {
    format.type = SampleType::kInt16;
  } else if (tag == kFormatPcm && bits == 24) {
    format.type = SampleType::kInt24;
  } else if (tag == kFormatPcm && bits == 32) {
    format.type = SampleType::kInt32;
  } else {
    return std::nullopt;
  }
  if (format.blockAlign != format.channels * bits / 8) return std::nullopt;
  return format;
}

StereoDownmix DownmixFor(uint16_t channels, uint32_t channelMask) {
  if (Popcount(channelMask) < channels) channelMask = UsualMask(channels);
  StereoDownmix downmix{std::vector<float>(channels, 0.0f), std::vector<float>(channels, 0.0f)};
  uint32_t bits = channelMask;
  for (uint16_t c = 0; c < channels && bits; ++c) {
    const uint32_t speaker = bits & (~bits + 1);  // the lowest bit left: channel c's speaker
    bits &= bits - 1;
    const Weights weights = WeightsOf(speaker);
    downmix.left[c] = weights.left;
    downmix.right[c] = weights.right;
  }
  if (channels == 1) downmix.left[0] = downmix.right[0] = 1;  // mono: the same on both sides
  for (std::vector<float>* side : {&downmix.left, &downmix.right}) {
    float sum = 0;
    for (float weight : *side) sum += weight;
    if (sum > 1) {
      for (float& weight : *side) weight /= sum;
    }
  }
  return downmix;
}

void ToStereo(const uint8_t* data, uint32_t frames, const MixFormat& format,
              const StereoDownmix& downmix, float* stereo) {
  const size_t sampleBytes = format.blockAlign / format.channels;
  for (uint32_t f = 0; f < frames; ++f) {
    const uint8_t* frame = data + size_t{f} * format.blockAlign;
    float left = 0, right = 0;
    for (uint16_t c = 0; c < format.channels; ++c) {
      const float sample = SampleAt(frame + c * sampleBytes, format.type);
      left += downmix.left[c] * sample;
      right += downmix.right[c] * sample;
    }
    stereo[2 * f] = left;
    stereo[2 * f + 1] = right;
  }
}

void ToPcm16(const float* stereo, uint32_t frames, int16_t* pcm) {
  constexpr float kFullScale = 32767.0f;
  for (uint32_t i = 0; i < 2 * frames; ++i) {
    pcm[i] = static_cast<int16_t>(std::lround(std::clamp(stereo[i], -1.0f, 1.0f) * kFullScale));
  }
}
