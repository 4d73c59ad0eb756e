// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

#include "codec/encoder_settings.h"

#include "codec/quality_map.h"

namespace parvelo::codec {
namespace {

constexpr char kOptionSeparator = ':';
constexpr char kValueSeparator = '=';
// What a caller gets that never sends ICM_COMPRESS_FRAMES_INFO; only the stream's timing
// information depends on it.
constexpr uint32_t kFallbackFramesPerSecond = 25;

}  // namespace

bool ParseOptionList(const std::string& text, std::vector<OptionSetting>* options) {
  std::vector<OptionSetting> parsed;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find(kOptionSeparator, begin);
    if (end == std::string::npos) end = text.size();
    std::string entry = text.substr(begin, end - begin);
    begin = end + 1;
    if (entry.empty()) continue;
    OptionSetting option;
    size_t equals = entry.find(kValueSeparator);
    option.name = entry.substr(0, equals);
    if (option.name.empty()) return false;
    if (equals != std::string::npos) {
      option.value = entry.substr(equals + 1);
      option.has_value = true;
    }
    parsed.push_back(option);
  }
  *options = parsed;
  return true;
}

EncoderSettings PlanEncoder(const CodecConfig& config, const InputLayout& layout,
                            const CallerHints& hints, uint32_t quality) {
  EncoderSettings settings;
  settings.preset = kPresetNames[config.preset];
  settings.zero_latency = config.zero_latency;
  settings.threads = static_cast<int>(config.threads);
  settings.crf = CrfForQuality(quality);
  settings.width = layout.width;
  settings.height = layout.height;
  if (hints.rate != 0 && hints.scale != 0) {
    settings.fps_num = hints.rate;
    settings.fps_den = hints.scale;
  } else {
    settings.fps_num = kFallbackFramesPerSecond;
    settings.fps_den = 1;
  }
  settings.key_frame_interval_frames =
      hints.key_rate != 0 ? hints.key_rate : config.key_frame_interval_frames;
  settings.colour_space.matrix =
      ResolveColourMatrix(config.colour_matrix, layout.width, layout.height);
  settings.colour_space.full_range = config.full_range;
  settings.vui = VuiColourFor(settings.colour_space);
  ParseOptionList(config.extra_options, &settings.extra_options);
  return settings;
}

}  // namespace parvelo::codec
