// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

// The statistics log (state byte 604): a header per compression run, one line per frame, a
// summary at the end, and libx264's own messages in between. Appends, so several runs of a
// program stay in one file.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "codec/encoder_settings.h"
#include "codec/key_frame_planner.h"

namespace parvelo::codec {

class StatsLog {
 public:
  // `path` empty: x264vfw.log in the TEMP folder. Null when the file cannot be opened; the
  // compressor then runs without a log rather than failing the recording.
  static std::unique_ptr<StatsLog> Open(const std::string& path, const EncoderSettings& settings);
  ~StatsLog();
  StatsLog(const StatsLog&) = delete;
  StatsLog& operator=(const StatsLog&) = delete;

  void Frame(const FramePlan& plan, bool caller_asked_key, char type, size_t bytes, int qp);

  // libx264's pf_log callback; `log` is the StatsLog.
  static void X264Message(void* log, int level, const char* format, va_list args);

 private:
  StatsLog(std::FILE* file, uint32_t fps_num, uint32_t fps_den);

  std::FILE* file_;
  uint32_t fps_num_;
  uint32_t fps_den_;
  uint64_t frames_ = 0;
  uint64_t bytes_ = 0;
};

}  // namespace parvelo::codec
