// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

// One compression run (ICM_COMPRESS_BEGIN .. ICM_COMPRESS_END): a libx264 encoder, its input
// picture, the key-frame bookkeeping and the optional statistics log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "codec/colour_convert.h"
#include "codec/encoder_settings.h"
#include "codec/input_format.h"
#include "codec/key_frame_planner.h"
#include "codec/stats_log.h"

extern "C" {
#include <x264.h>
}

namespace parvelo::codec {

// Whether libx264 takes every option in `options` (names and value syntax) on top of `preset`.
bool X264AcceptsOptions(const std::string& preset, const std::string& options);

enum class EncodeStatus { kOk, kOpenFailed, kNoMemory, kEncodeFailed, kOutputTooLarge };

struct EncodedFrame {
  size_t bytes = 0;  // 0 while a delaying pipeline (zero latency off) fills up
  bool key = false;
};

class X264Session {
 public:
  static EncodeStatus Open(const EncoderSettings& settings, const InputLayout& layout,
                           bool write_log, const std::string& log_path,
                           std::unique_ptr<X264Session>* session);
  ~X264Session();
  X264Session(const X264Session&) = delete;
  X264Session& operator=(const X264Session&) = delete;

  // Converts and compresses one DIB; writes at most `capacity` bytes to `out`.
  EncodeStatus Encode(const uint8_t* pixels, int64_t frame_number, bool caller_asks_key, float crf,
                      uint8_t* out, size_t capacity, EncodedFrame* frame);

 private:
  X264Session(x264_t* encoder, const EncoderSettings& settings, const InputLayout& layout,
              std::unique_ptr<StatsLog> log);
  bool ChangeCrf(float crf);

  x264_t* encoder_;
  x264_picture_t picture_;
  bool picture_allocated_ = false;
  InputLayout layout_;
  ColourSpace colour_space_;
  ConversionKernel kernel_;
  KeyFramePlanner planner_;
  float crf_;
  std::unique_ptr<StatsLog> log_;
};

}  // namespace parvelo::codec
