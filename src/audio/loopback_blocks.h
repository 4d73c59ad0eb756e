// The computer's sound as the recorder's one-second buffers. Loopback
// packets come in the output device's mix format, at its rate, in pieces
// of any size, with gaps while nothing plays; they leave as 44.1 kHz 16-bit
// stereo blocks of one second, each with the moment its end was taken on
// the performance counter, silence included where nothing came.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "audio/loopback_timeline.h"
#include "audio/mix_format.h"
#include "audio/resampler.h"

class LoopbackBlocks {
 public:
  // Takes each block as it fills: its frames and the counter time just
  // after its last frame. The frames live until the next call.
  using BlockSink = std::function<void(const int16_t* pcm, uint32_t frames, uint64_t endCounter)>;

  // A stream in `format` started at `startCounter`, in packets of at most
  // `maxPacketFrames` frames (longer ones are taken in pieces).
  LoopbackBlocks(const MixFormat& format, uint64_t startCounter, uint32_t maxPacketFrames,
                 BlockSink sink);

  // A packet of `frames` frames taken from `counter` on; `data` null for
  // one marked silent.
  void AddPacket(const uint8_t* data, uint32_t frames, uint64_t counter, bool discontinuity);
  // Nothing has come by `nowCounter`: silence up to a little before it.
  void AddSilenceUntil(uint64_t nowCounter);
  // At the end: what the last block holds goes to the sink.
  void Flush();
  // The device was opened again (another device, or the same with a new
  // format): its packets come in `format`, in packets of at most
  // `maxPacketFrames`, and follow on from where the sound has got to. The
  // block being filled goes on; what the last stream's resampler still
  // held is dropped.
  void Restart(const MixFormat& format, uint32_t maxPacketFrames);

 private:
  // Device frames of silence into the stream.
  void AddSilence(uint32_t frames);
  // Device frames as float stereo, through the resampler into the block.
  void AddStereo(const float* stereo, uint32_t frames);
  void PassBlock();
  // The current stream's frame that output frame `outputFrame` stands for.
  uint64_t DeviceFrameAt(uint64_t outputFrame) const;

  MixFormat format_;
  StereoDownmix downmix_;
  LoopbackTimeline timeline_;
  StereoResampler resampler_;
  std::vector<float> stereo_;     // one packet, at the device's rate
  std::vector<float> resampled_;  // the same, at 44.1 kHz
  std::vector<int16_t> block_;    // the block being filled
  uint32_t blockFrames_ = 0;
  uint64_t outputFrames_ = 0;       // in finished blocks and the one being filled
  uint64_t streamStartFrames_ = 0;  // output frames when the current stream began
  bool restarted_ = false;          // its first packet not taken yet
  uint32_t maxPacketFrames_;
  BlockSink sink_;
};
