// A band-limited change of sample rate for interleaved float stereo, from
// any device rate to the recorder's 44.1 kHz: a windowed-sinc (Kaiser)
// kernel, evaluated at each output instant from a table of phases, stepped
// exactly (the ratio of the two rates, in integers) and carried across
// packets of any size. Output frame n stands for input time n x in/out
// exactly: the filter's own delay is taken off, so placement is untouched.
#pragma once

#include <cstdint>
#include <vector>

class StereoResampler {
 public:
  StereoResampler(uint32_t inRate, uint32_t outRate);

  // The most output frames `inFrames` more input frames complete.
  uint32_t MaxOutputFrames(uint32_t inFrames) const;
  // Takes `frames` input frames and writes the output frames they complete
  // to `out` (room for MaxOutputFrames(frames)); returns how many. The last
  // few input frames wait for the next call: the kernel reaches past them.
  uint32_t Process(const float* in, uint32_t frames, float* out);

 private:
  uint32_t Run(float* out);

  uint32_t inRate_;
  uint32_t outRate_;
  std::vector<float> table_;    // kernel taps for each phase, and one past the last
  std::vector<float> history_;  // the input frames the next outputs reach, interleaved
  uint32_t historyFrames_ = 0;
  // The next output's instant from the first history frame, in input
  // frames times outRate_.
  uint64_t instant_ = 0;
};
