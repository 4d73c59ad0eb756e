#include "audio/mp3_format.h"

namespace {

constexpr uint16_t kWaveFormatMpegLayer3 = 0x0055;
constexpr uint16_t kMp3BlockAlign = 1;
constexpr uint16_t kMp3BitsPerSample = 0;
constexpr uint16_t kMpegLayer3ExtraBytes = 12;  // MPEGLAYER3_WFX_EXTRA_BYTES
constexpr uint16_t kMpegLayer3IdMpeg = 1;       // MPEGLAYER3_ID_MPEG
constexpr uint32_t kMpegLayer3PaddingOff = 2;   // MPEGLAYER3_FLAG_PADDING_OFF
constexpr uint16_t kMp3BlockSize = 427;
constexpr uint16_t kMp3FramesPerBlock = 1;
constexpr uint16_t kMp3CodecDelay = 1393;
constexpr uint32_t kDefaultQuality = 0xFFFFFFFF;
constexpr uint32_t kMp3CapacitySlackBytes = 7200;

class LittleEndianWriter {
 public:
  explicit LittleEndianWriter(uint8_t* out) : out_(out) {}
  void Put16(uint16_t v) { Put(v, 2); }
  void Put32(uint32_t v) { Put(v, 4); }

 private:
  void Put(uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) *out_++ = static_cast<uint8_t>(v >> (8 * i));
  }
  uint8_t* out_;
};

}  // namespace

std::array<uint8_t, kMp3FormatBytes> MakeMp3FormatBlock() {
  std::array<uint8_t, kMp3FormatBytes> block{};
  LittleEndianWriter w(block.data());
  w.Put16(kWaveFormatMpegLayer3);
  w.Put16(kPcmChannels);
  w.Put32(kPcmSamplesPerSecond);
  w.Put32(kMp3BytesPerSecond);
  w.Put16(kMp3BlockAlign);
  w.Put16(kMp3BitsPerSample);
  w.Put16(kMpegLayer3ExtraBytes);
  w.Put16(kMpegLayer3IdMpeg);
  w.Put32(kMpegLayer3PaddingOff);
  w.Put16(kMp3BlockSize);
  w.Put16(kMp3FramesPerBlock);
  w.Put16(kMp3CodecDelay);
  return block;
}

AviStreamInfo MakeAudioStreamInfo() {
  AviStreamInfo info = {};
  info.fccType = kAviStreamTypeAudio;
  info.fccHandler = 0;
  // Enabled: players play the sound without being asked.
  info.dwFlags = 0;
  info.dwScale = 1;
  info.dwRate = kMp3BytesPerSecond;
  info.dwSuggestedBufferSize = 0;
  info.dwQuality = kDefaultQuality;
  info.dwSampleSize = 1;
  return info;
}

uint32_t PcmFrames(uint32_t byteCount) {
  return byteCount / kPcmBlockAlign;
}

uint32_t Mp3Capacity(uint32_t frames) {
  return kMp3CapacitySlackBytes + frames + frames / 4;
}
