#include "audio/session_sound.h"

#include <utility>

#include "audio/mp3_format.h"

namespace {

// How far the computer's sound may run ahead of the microphone's: as far
// as the buffers the microphone holds while it records, less the one it
// is filling.
constexpr uint32_t kMixHoldFrames = (kAudioBufferCount - 1) * kPcmSamplesPerSecond;

}  // namespace

SessionSound::SessionSound(const std::vector<int32_t>& leadFrames, PcmWriter encode)
    : encode_(std::move(encode)) {
  sources_.reserve(leadFrames.size());
  for (const int32_t lead : leadFrames) sources_.emplace_back(lead);
  if (sources_.size() == 1) {
    sources_[0].placed = encode_;
    return;
  }
  mix_.emplace(kMixHoldFrames, encode_);
  for (size_t i = 0; i < sources_.size(); ++i) {
    sources_[i].placed = [this, i](const int16_t* frames, uint32_t count) {
      mix_->Add(i, frames, count);
    };
  }
}

const BufferPlan& SessionSound::Add(size_t source, uint32_t endMs, const int16_t* pcm,
                                    uint32_t frames, const VideoClock& video) {
  Source& from = sources_[source];
  from.plan = from.aligner.Place(endMs, frames, video);
  from.writer.Write(from.plan, pcm, frames, from.placed);
  // Nothing more of it comes until the resume: the file shows what is mixed.
  if (from.plan.lastBeforePause && mix_) mix_->PassMixed();
  return from.plan;
}

void SessionSound::Finish(uint32_t videoEndMs, const VideoClock& video) {
  for (Source& source : sources_) {
    source.writer.Write(source.aligner.Finish(videoEndMs, video), nullptr, 0, source.placed);
  }
  if (mix_) mix_->Finish();
}
