// Encodes one click with LAME set up as the recorder sets it up (sample
// rate and channels, no tag frame, everything else the library's defaults)
// and writes it as the recorder writes its sound: the MP3 stream alone in
// an AVI file, with the recorder's stream header and format block. The
// tests decode the file with outside readers and find where the click
// comes out.
//
//   mp3_delay <file.avi>
//
// Prints click_frame=<frame the click was encoded at>, encoder_delay=<what
// LAME says of itself> and decoded_delay=<what the recorder takes off>.
#include <lame/lame.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "audio/mp3_format.h"
#include "avi/avi_writer.h"
#include "avi/session_stream.h"

namespace {

constexpr uint32_t kSeconds = 3;
constexpr uint32_t kClickFrame = kPcmSamplesPerSecond;  // a second in
constexpr int16_t kClickLevel = 24000;
constexpr int kExitFailed = 5;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return kExitFailed;
  lame_global_flags* lame = lame_init();
  if (!lame) return kExitFailed;
  lame_set_in_samplerate(lame, kPcmSamplesPerSecond);
  lame_set_num_channels(lame, kPcmChannels);
  lame_set_bWriteVbrTag(lame, 0);
  if (lame_init_params(lame) < 0) return kExitFailed;

  AviFile* file = nullptr;
  if (AviFileOpen(&file, argv[1]) != kAviOk) return kExitFailed;
  SessionStream stream;
  stream.Begin();
  const auto format = MakeMp3FormatBlock();
  if (!stream.Create(&file, MakeAudioStreamInfo(), format.data(),
                     static_cast<int32_t>(format.size()))) {
    return kExitFailed;
  }

  std::vector<int16_t> pcm(size_t{kPcmSamplesPerSecond} * kPcmChannels);
  std::vector<uint8_t> mp3(kMp3BufferBytes);
  for (uint32_t second = 0; second < kSeconds; ++second) {
    std::fill(pcm.begin(), pcm.end(), int16_t{0});
    if (second * kPcmSamplesPerSecond == kClickFrame) {
      pcm[0] = pcm[1] = kClickLevel;
    }
    const int bytes = lame_encode_buffer_interleaved(lame, pcm.data(), kPcmSamplesPerSecond,
                                                     mp3.data(), static_cast<int>(mp3.size()));
    if (bytes < 0 || stream.Append(mp3.data(), bytes) != kAviOk) return kExitFailed;
  }
  const int flushed = lame_encode_flush(lame, mp3.data(), kMp3FlushBytes);
  if (flushed < 0 || stream.Append(mp3.data(), flushed) != kAviOk) return kExitFailed;
  const int encoderDelay = lame_get_encoder_delay(lame);
  lame_close(lame);
  stream.Release();
  AviFileRelease(file);

  std::printf("click_frame=%u\nencoder_delay=%d\ndecoded_delay=%u\n", kClickFrame, encoderDelay,
              static_cast<unsigned>(encoderDelay) + kMp3DecoderDelayFrames);
  return 0;
}
