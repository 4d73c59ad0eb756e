// A session's sound, from one source or two (the microphone, the
// computer's sound): each source's buffers are placed on the picture by an
// aligner of their own, since each device runs on its own clock. One
// source goes on to the encoder as it is placed; two are mixed first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "audio/audio_alignment.h"
#include "audio/sound_mix.h"

class SessionSound {
 public:
  // One entry of `leadFrames` per source (see SoundLeadFrames); `encode`
  // takes the stream as it goes into the file, in order.
  SessionSound(const std::vector<int32_t>& leadFrames, PcmWriter encode);
  SessionSound(const SessionSound&) = delete;
  SessionSound& operator=(const SessionSound&) = delete;

  // A buffer of `frames` stereo frames of `source`, whose end was taken at
  // `endMs` on the millisecond clock; returns how it was placed.
  const BufferPlan& Add(size_t source, uint32_t endMs, const int16_t* pcm, uint32_t frames,
                        const VideoClock& video);
  // After the last buffers: every source runs to where the picture ended
  // (`videoEndMs`), and all of it goes to the encoder.
  void Finish(uint32_t videoEndMs, const VideoClock& video);

  size_t Sources() const { return sources_.size(); }
  // How far `source`'s last kept buffer was written from its target, in ms.
  double LastOffsetMs(size_t source) const { return sources_[source].aligner.LastOffsetMs(); }

 private:
  struct Source {
    explicit Source(int32_t leadFrames) : aligner(leadFrames) {}
    SoundAligner aligner;
    PlannedPcmWriter writer;
    PcmWriter placed;  // where its placed frames go: the encoder or the mix
    BufferPlan plan;   // the last buffer's
  };
  std::vector<Source> sources_;
  std::optional<SoundMix> mix_;
  PcmWriter encode_;
};
