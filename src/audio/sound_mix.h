// Two sounds in one stream: the microphone and the computer's sound. Each
// is placed on the picture on its own (the two devices run on clocks of
// their own), so each arrives here as a stream of frames on the file's
// time line, and the two are summed frame by frame into the one-second
// blocks that go to the encoder, through a soft limiter. The streams come
// in pieces at their own times: the microphone's buffers return a second
// or more after the computer's sound was taken, and a device may stall.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Keeps a sum of two 16-bit stereo sounds within 16 bits without a hard
// clip: below its threshold the sum passes unchanged; above it the gain
// drops at once to what a soft curve allows (never reaching full scale)
// and comes back smoothly, so peaks are bounded and nothing wraps.
class SoftLimiter {
 public:
  // `frames` stereo frames of sums (each sample up to twice full scale)
  // into 16 bits.
  void Process(const int32_t* sums, uint32_t frames, int16_t* out);

 private:
  double envelope_ = 0;  // the recent peak, in full scale's units
};

class SoundMix {
 public:
  static constexpr size_t kLanes = 2;
  using BlockSink = std::function<void(const int16_t* pcm, uint32_t frames)>;

  // `holdFrames`: how far one lane may run ahead of the other; held in
  // blocks made here, once. Further ahead, the other lane has stalled: it
  // is taken as silence where it is missing, and what it brings later for
  // a stretch already mixed is dropped.
  SoundMix(uint32_t holdFrames, BlockSink sink);

  // Placed frames of `lane`, following on from its earlier ones.
  void Add(size_t lane, const int16_t* pcm, uint32_t frames);
  // What is mixed so far goes to the sink, a block not yet full too (the
  // file should show it: nothing more comes while the recording is paused).
  void PassMixed();
  // At the end: everything either lane holds, the other's missing frames
  // silent, goes to the sink.
  void Finish();

 private:
  struct Lane {
    std::vector<int16_t> ring;  // holdFrames_ frames, by position modulo that
    uint64_t end = 0;           // position after its last frame
  };
  // Mixes the positions from mixed_ to `to`.
  void MixUntil(uint64_t to);

  uint32_t holdFrames_;
  std::array<Lane, kLanes> lanes_;
  uint64_t mixed_ = 0;  // positions before it are mixed
  std::vector<int32_t> sums_;
  std::vector<int16_t> block_;
  uint32_t blockFrames_ = 0;
  SoftLimiter limiter_;
  BlockSink sink_;
};
