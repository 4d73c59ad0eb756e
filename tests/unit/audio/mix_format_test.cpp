#include "audio/mix_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "audio/resampler.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kOutRate = 44100;

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// A WAVEFORMATEX, or a WAVEFORMATEXTENSIBLE with a subformat of `tag`.
Bytes Format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, bool extensible,
             uint32_t mask = 0) {
  Bytes b(extensible ? 40 : 18, 0);
  Put16(b, 0, extensible ? 0xFFFE : tag);
  Put16(b, 2, channels);
  Put32(b, 4, rate);
  Put32(b, 8, rate * channels * bits / 8);
  Put16(b, 12, channels * bits / 8);
  Put16(b, 14, bits);
  if (extensible) {
    Put16(b, 16, 22);
    Put16(b, 18, bits);
    Put32(b, 20, mask);
    const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    Put16(b, 24, tag);
    std::memcpy(&b[26], tail, sizeof tail);
  }
  return b;
}

Bytes Cut(Bytes bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

TEST(ParseMixFormat, ReadsWhatTheRecorderCanConvertAndRefusesTheRest) {
  struct Case {
    const char* what;
    Bytes bytes;
    bool ok;
    SampleType type;
  } cases[] = {
      {"extensible float, 48 kHz stereo", Format(3, 2, 48000, 32, true, 3), true,
       SampleType::kFloat32},
      {"plain 16-bit mono", Format(1, 1, 44100, 16, false), true, SampleType::kInt16},
      {"extensible 24-bit 5.1", Format(1, 6, 48000, 24, true, 0x3F), true, SampleType::kInt24},
      {"extensible 32-bit integer", Format(1, 2, 96000, 32, true, 3), true, SampleType::kInt32},
      {"8-bit", Format(1, 2, 22050, 8, false), false, SampleType::kInt16},
      {"compressed", Format(0x55, 2, 44100, 16, false), false, SampleType::kInt16},
      {"extensible, cut short", Cut(Format(3, 2, 48000, 32, true, 3), 30), false,
       SampleType::kInt16},
      {"no channels", Format(3, 0, 48000, 32, false), false, SampleType::kInt16},
  };
  for (const Case& c : cases) {
    const auto format = ParseMixFormat(c.bytes.data(), c.bytes.size());
    ASSERT_EQ(format.has_value(), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(format->type, c.type) << c.what;
    }
  }
  const auto fiveOne = ParseMixFormat(cases[2].bytes.data(), cases[2].bytes.size());
  EXPECT_EQ(fiveOne->channels, 6);
  EXPECT_EQ(fiveOne->samplesPerSecond, 48000u);
  EXPECT_EQ(fiveOne->blockAlign, 18);
  EXPECT_EQ(fiveOne->channelMask, 0x3Fu);
}

TEST(DownmixFor, WeightsBySpeakerWithoutTheLowFrequencyChannel) {
  constexpr float k3Db = 0.70710678f;
  constexpr float kFiveOneSum = 1 + 2 * k3Db;  // front, centre, back
  struct Case {
    const char* what;
    uint16_t channels;
    uint32_t mask;
    std::vector<float> left, right;
  } cases[] = {
      {"stereo", 2, 0x3, {1, 0}, {0, 1}},
      {"mono", 1, 0x4, {1}, {1}},
      {"5.1",
       6,
       0x3F,
       {1 / kFiveOneSum, 0, k3Db / kFiveOneSum, 0, k3Db / kFiveOneSum, 0},
       {0, 1 / kFiveOneSum, k3Db / kFiveOneSum, 0, 0, k3Db / kFiveOneSum}},
      {"5.1 without a mask: the usual layout",
       6,
       0,
       {1 / kFiveOneSum, 0, k3Db / kFiveOneSum, 0, k3Db / kFiveOneSum, 0},
       {0, 1 / kFiveOneSum, k3Db / kFiveOneSum, 0, 0, k3Db / kFiveOneSum}},
  };
  for (const Case& c : cases) {
    const StereoDownmix downmix = DownmixFor(c.channels, c.mask);
    ASSERT_EQ(downmix.left.size(), c.channels) << c.what;
    for (size_t i = 0; i < c.channels; ++i) {
      EXPECT_NEAR(downmix.left[i], c.left[i], 1e-6) << c.what << ", channel " << i;
      EXPECT_NEAR(downmix.right[i], c.right[i], 1e-6) << c.what << ", channel " << i;
    }
  }
}

// Sines in a device's format, through conversion and the resampler to
// 44.1 kHz stereo, come out as the same sines at the same instants.
TEST(ToStereo, DeviceSinesComeOutAt44100HzWhereAndAsLoudAsTheyWere) {
  struct Tone {
    uint16_t channel;
    double hz, level;
  };
  struct Case {
    const char* what;
    Bytes format;
    std::vector<Tone> tones;
    double leftGain[3], rightGain[3];  // of each tone on each side
  } cases[] = {
      {"float, 48 kHz stereo",
       Format(3, 2, 48000, 32, true, 3),
       {{0, 1000, 0.5}, {1, 3000, 0.25}},
       {1, 0, 0},
       {0, 1, 0}},
      {"16-bit, 48 kHz mono",
       Format(1, 1, 48000, 16, false),
       {{0, 440, 0.5}},
       {1, 0, 0},
       {1, 0, 0}},
      {"float, 44.1 kHz 5.1, the low channel left out",
       Format(3, 6, 44100, 32, true, 0x3F),
       {{0, 1000, 0.5}, {2, 2000, 0.5}, {3, 50, 0.9}},
       {1 / 2.41421356, 0.70710678 / 2.41421356, 0},
       {0, 0.70710678 / 2.41421356, 0}},
      {"24-bit, 96 kHz stereo",
       Format(1, 2, 96000, 24, true, 3),
       {{0, 5000, 0.5}, {1, 5000, -0.5}},
       {1, 0, 0},
       {0, 1, 0}},
  };
  constexpr uint32_t kPacketFrames = 480;  // 10 ms at 48 kHz
  for (const Case& c : cases) {
    const MixFormat format = *ParseMixFormat(c.format.data(), c.format.size());
    const StereoDownmix downmix = DownmixFor(format.channels, format.channelMask);
    StereoResampler resampler(format.samplesPerSecond, kOutRate);
    const uint32_t inFrames = format.samplesPerSecond / 2;  // half a second
    const size_t sampleBytes = format.blockAlign / format.channels;
    Bytes data(size_t{inFrames} * format.blockAlign, 0);
    for (uint32_t f = 0; f < inFrames; ++f) {
      for (const Tone& tone : c.tones) {
        const double value = tone.level * std::sin(2 * kPi * tone.hz * f / format.samplesPerSecond);
        uint8_t* at = &data[f * format.blockAlign + tone.channel * sampleBytes];
        if (format.type == SampleType::kFloat32) {
          const auto sample = static_cast<float>(value);
          std::memcpy(at, &sample, sizeof sample);
        } else {
          const double scale = format.type == SampleType::kInt16 ? 32767 : 8388607;
          const auto sample = static_cast<int32_t>(std::lround(value * scale));
          for (size_t byte = 0; byte < sampleBytes; ++byte)
            at[byte] = static_cast<uint8_t>(sample >> (8 * byte));
        }
      }
    }
    std::vector<float> stereo, out;
    for (uint32_t from = 0; from < inFrames; from += kPacketFrames) {
      const uint32_t frames = std::min(kPacketFrames, inFrames - from);
      std::vector<float> packet(2 * size_t{frames});
      ToStereo(&data[size_t{from} * format.blockAlign], frames, format, downmix, packet.data());
      std::vector<float> piece(2 * size_t{resampler.MaxOutputFrames(frames)});
      piece.resize(2 * size_t{resampler.Process(packet.data(), frames, piece.data())});
      out.insert(out.end(), piece.begin(), piece.end());
    }
    // All but the kernel's reach at the end is out, each frame at its instant.
    EXPECT_NEAR(out.size() / 2.0, kOutRate / 2.0, 40) << c.what;
    double worst = 0;
    for (size_t n = 100; n < out.size() / 2; ++n) {
      double left = 0, right = 0;
      for (size_t t = 0; t < c.tones.size(); ++t) {
        const double value = c.tones[t].level * std::sin(2 * kPi * c.tones[t].hz * n / kOutRate);
        left += c.leftGain[t] * value;
        right += c.rightGain[t] * value;
      }
      worst = std::fmax(worst,
                        std::fmax(std::fabs(out[2 * n] - left), std::fabs(out[2 * n + 1] - right)));
    }
    EXPECT_LT(worst, 2e-3) << c.what;  // -54 dB of full scale, 16-bit input's own noise included
  }
}

// Gain of a sine of `hz` through 48 kHz -> 44.1 kHz, in dB.
double GainDb(double hz) {
  constexpr uint32_t kInRate = 48000;
  StereoResampler resampler(kInRate, kOutRate);
  std::vector<float> in(2 * kInRate), out(2 * size_t{resampler.MaxOutputFrames(kInRate)});
  for (uint32_t f = 0; f < kInRate; ++f) {
    in[2 * f] = in[2 * f + 1] = static_cast<float>(0.5 * std::sin(2 * kPi * hz * f / kInRate));
  }
  const uint32_t frames = resampler.Process(in.data(), kInRate, out.data());
  double squares = 0;
  const uint32_t from = frames / 4;
  for (uint32_t n = from; n < frames; ++n) squares += out[2 * n] * out[2 * n];
  const double rms = std::sqrt(squares / (frames - from));
  return 20 * std::log10(rms / (0.5 / std::sqrt(2.0)));
}

TEST(StereoResampler, FlatPassBandAndAStopBandAbove22kHz) {
  for (double hz : {100.0, 1000.0, 8000.0, 16000.0}) EXPECT_NEAR(GainDb(hz), 0, 0.1) << hz;
  // Above the output's Nyquist frequency, which would fold back into the
  // audible band.
  for (double hz : {22500.0, 23000.0, 23900.0}) EXPECT_LT(GainDb(hz), -70) << hz;
}

TEST(ToPcm16, RoundsAndHoldsAtFullScale) {
  const float stereo[] = {0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 1.7f, -2.0f, 0.000015f};
  int16_t pcm[8];
  ToPcm16(stereo, 4, pcm);
  const int16_t expected[] = {0, 16384, -16384, 32767, -32767, 32767, -32767, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(pcm[i], expected[i]) << i;
}

}  // namespace
