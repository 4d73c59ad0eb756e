// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

// Everything the driver tells libx264 for one compression run, worked out from the stored
// configuration and what the caller said (formats, ICM_COMPRESS_FRAMES_INFO, quality), without
// libx264 itself so it can be checked on its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/codec_state.h"
#include "codec/colour_convert.h"
#include "codec/input_format.h"

namespace parvelo::codec {

// What ICM_COMPRESS_FRAMES_INFO told us; zero fields mean "not said".
struct CallerHints {
  uint32_t rate = 0;  // frames per second = rate / scale
  uint32_t scale = 0;
  uint32_t key_rate = 0;  // frames between key frames
};

struct OptionSetting {
  std::string name;
  std::string value;
  bool has_value = false;  // a bare name switches a boolean option on
};

struct EncoderSettings {
  std::string preset;
  bool zero_latency = true;
  int threads = 0;  // 0: one per processor
  float crf = 0;
  int width = 0;
  int height = 0;
  uint32_t fps_num = 0;
  uint32_t fps_den = 0;
  uint32_t key_frame_interval_frames = 0;
  ColourSpace colour_space;
  VuiColour vui;
  std::vector<OptionSetting> extra_options;
};

// Splits "name=value:name:name=value"; empty entries are skipped. False on an entry without a
// name.
bool ParseOptionList(const std::string& text, std::vector<OptionSetting>* options);

// `config.extra_options` must have passed ParseOptionList (ICM_SETSTATE checks it).
EncoderSettings PlanEncoder(const CodecConfig& config, const InputLayout& layout,
                            const CallerHints& hints, uint32_t quality);

}  // namespace parvelo::codec
