// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

#include "codec/key_frame_planner.h"

namespace parvelo::codec {

KeyFramePlanner::KeyFramePlanner(uint32_t interval_frames) : interval_(interval_frames) {}

FramePlan KeyFramePlanner::Next(int64_t frame_number, bool caller_asks_key) {
  FramePlan plan;
  if (!started_) {
    plan.position = frame_number;
    plan.key = true;
  } else {
    plan.position = frame_number > last_position_ ? frame_number : last_position_ + 1;
    plan.key = caller_asks_key || plan.position - last_key_position_ >= interval_;
  }
  started_ = true;
  last_position_ = plan.position;
  if (plan.key) last_key_position_ = plan.position;
  return plan;
}

}  // namespace parvelo::codec
