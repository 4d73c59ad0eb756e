// What the computer's sound comes in: the shared-mode mix format of an
// output device (WAVEFORMATEX or WAVEFORMATEXTENSIBLE, read from its bytes),
// and how its frames become the recorder's stereo. The mix format is
// usually 32-bit float, often 48 kHz, any channel count, sometimes integer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

enum class SampleType { kFloat32, kInt16, kInt24, kInt32 };

struct MixFormat {
  uint32_t samplesPerSecond = 0;
  uint16_t channels = 0;
  uint16_t blockAlign = 0;   // bytes of one frame
  uint32_t channelMask = 0;  // SPEAKER_* bits, one per channel in order
  SampleType type = SampleType::kFloat32;
};

// Nothing for a format the recorder cannot read (compressed, an odd sample
// size, no channels, a size that does not hold the record).
std::optional<MixFormat> ParseMixFormat(const uint8_t* bytes, size_t size);

// The weight of each input channel in the left and the right output.
// Front left and right go to their side; the centre, the back and side
// pairs and the top ones go in at -3 dB (both sides for centred ones). The
// low-frequency effects channel is left out: it carries what the other
// channels already hold below 120 Hz, and stereo speakers do not need it.
// Each side's weights are scaled to sum to at most 1, so a full-scale mix
// never clips. A mask that names fewer channels than there are is taken as
// the platform's usual layout for that count.
struct StereoDownmix {
  std::vector<float> left;
  std::vector<float> right;
};
StereoDownmix DownmixFor(uint16_t channels, uint32_t channelMask);

// `frames` frames of `format` to interleaved float stereo in -1 ... 1
// (integers scaled by their full range; float as it is).
void ToStereo(const uint8_t* data, uint32_t frames, const MixFormat& format,
              const StereoDownmix& downmix, float* stereo);

// Interleaved float stereo to 16-bit, rounded and held at full scale.
void ToPcm16(const float* stereo, uint32_t frames, int16_t* pcm);
