#include "audio/loopback_blocks.h"

#include <algorithm>
#include <utility>

#include "audio/mp3_format.h"

namespace {

constexpr uint32_t kBlockFrames = kAudioBufferBytes / kPcmBlockAlign;  // one second

}  // namespace

LoopbackBlocks::LoopbackBlocks(const MixFormat& format, uint64_t startCounter,
                               uint32_t maxPacketFrames, BlockSink sink)
    : format_(format),
      downmix_(DownmixFor(format.channels, format.channelMask)),
      timeline_(format.samplesPerSecond, startCounter),
      resampler_(format.samplesPerSecond, kPcmSamplesPerSecond),
      stereo_(size_t{maxPacketFrames} * kPcmChannels),
      resampled_(size_t{resampler_.MaxOutputFrames(maxPacketFrames)} * kPcmChannels),
      block_(size_t{kBlockFrames} * kPcmChannels),
      maxPacketFrames_(maxPacketFrames),
      sink_(std::move(sink)) {}

void LoopbackBlocks::AddPacket(const uint8_t* data, uint32_t frames, uint64_t counter,
                               bool discontinuity) {
  // A new stream's first packet follows a gap however short: the reopening.
  AddSilence(timeline_.SilenceBefore(counter, frames, discontinuity || restarted_));
  restarted_ = false;
  if (!data) {
    AddSilence(frames);
    return;
  }
  for (uint32_t done = 0; done < frames;) {
    const uint32_t take = std::min(frames - done, maxPacketFrames_);
    ToStereo(data + size_t{done} * format_.blockAlign, take, format_, downmix_, stereo_.data());
    AddStereo(stereo_.data(), take);
    done += take;
  }
}

void LoopbackBlocks::AddSilenceUntil(uint64_t nowCounter) {
  AddSilence(timeline_.SilenceUntil(nowCounter));
}

void LoopbackBlocks::AddSilence(uint32_t frames) {
  std::fill(stereo_.begin(), stereo_.end(), 0.0f);
  for (uint32_t done = 0; done < frames;) {
    const uint32_t take = std::min(frames - done, maxPacketFrames_);
    AddStereo(stereo_.data(), take);
    done += take;
  }
}

void LoopbackBlocks::AddStereo(const float* stereo, uint32_t frames) {
  const uint32_t produced = resampler_.Process(stereo, frames, resampled_.data());
  for (uint32_t done = 0; done < produced;) {
    const uint32_t take = std::min(produced - done, kBlockFrames - blockFrames_);
    ToPcm16(&resampled_[size_t{done} * kPcmChannels], take,
            &block_[size_t{blockFrames_} * kPcmChannels]);
    blockFrames_ += take;
    outputFrames_ += take;
    done += take;
    if (blockFrames_ == kBlockFrames) PassBlock();
  }
}

void LoopbackBlocks::Flush() {
  if (blockFrames_ > 0) PassBlock();
}

void LoopbackBlocks::Restart(const MixFormat& format, uint32_t maxPacketFrames) {
  const uint64_t reached = timeline_.CounterAt(DeviceFrameAt(outputFrames_));
  format_ = format;
  downmix_ = DownmixFor(format.channels, format.channelMask);
  timeline_ = LoopbackTimeline(format.samplesPerSecond, reached);
  resampler_ = StereoResampler(format.samplesPerSecond, kPcmSamplesPerSecond);
  stereo_.assign(size_t{maxPacketFrames} * kPcmChannels, 0.0f);
  resampled_.assign(size_t{resampler_.MaxOutputFrames(maxPacketFrames)} * kPcmChannels, 0.0f);
  maxPacketFrames_ = maxPacketFrames;
  streamStartFrames_ = outputFrames_;
  restarted_ = true;
}

uint64_t LoopbackBlocks::DeviceFrameAt(uint64_t outputFrame) const {
  // Output frame n of a stream stands for its frame n x rate / 44100.
  return (outputFrame - streamStartFrames_) * format_.samplesPerSecond / kPcmSamplesPerSecond;
}

void LoopbackBlocks::PassBlock() {
  sink_(block_.data(), blockFrames_, timeline_.CounterAt(DeviceFrameAt(outputFrames_)));
  blockFrames_ = 0;
}
