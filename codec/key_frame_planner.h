// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

// Decides which input frames become IDR frames.
//
// A frame is a key frame when it is the first of a compression run, when the caller asks
// (ICCOMPRESS_KEYFRAME), or when `interval` frames have passed since the last key frame.
// Distance is counted in the caller's frame numbers (ICCOMPRESS lFrameNum), so a recorder that
// leaves gaps for dropped frames gets key frames at the same stream times as without gaps, as
// AVIFile's compressed stream does when it asks by position. A caller that does not number its
// frames (lFrameNum not increasing) gets one position per call instead.
#pragma once

#include <cstdint>

namespace parvelo::codec {

struct FramePlan {
  int64_t position = 0;  // strictly increasing; the encoder's presentation time stamp
  bool key = false;
};

class KeyFramePlanner {
 public:
  // An interval of 0 or 1 makes every frame a key frame.
  explicit KeyFramePlanner(uint32_t interval_frames);

  FramePlan Next(int64_t frame_number, bool caller_asks_key);

 private:
  int64_t interval_;
  bool started_ = false;
  int64_t last_position_ = 0;
  int64_t last_key_position_ = 0;
};

}  // namespace parvelo::codec
