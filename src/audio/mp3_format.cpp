#include "audio/mp3_format.h"

#include <algorithm>

#include "avi/riff_layout.h"

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

}  // namespace

std::array<uint8_t, kMp3FormatBytes> MakeMp3FormatBlock() {
  riff::Builder w;
  w.U16(kWaveFormatMpegLayer3);
  w.U16(kPcmChannels);
  w.U32(kPcmSamplesPerSecond);
  w.U32(kMp3BytesPerSecond);
  w.U16(kMp3BlockAlign);
  w.U16(kMp3BitsPerSample);
  w.U16(kMpegLayer3ExtraBytes);
  w.U16(kMpegLayer3IdMpeg);
  w.U32(kMpegLayer3PaddingOff);
  w.U16(kMp3BlockSize);
  w.U16(kMp3FramesPerBlock);
  w.U16(kMp3CodecDelay);
  std::array<uint8_t, kMp3FormatBytes> block{};
  std::copy_n(w.Data(), std::min(w.Size(), block.size()), block.begin());
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
