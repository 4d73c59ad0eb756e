// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

#include "codec/stats_log.h"

#include <windows.h>

namespace parvelo::codec {
namespace {

constexpr char kDefaultLogName[] = "x264vfw.log";
constexpr double kBitsPerByte = 8.0;
constexpr double kBitsPerKilobit = 1000.0;
constexpr char kLevelNames[][8] = {"error", "warning", "info", "debug"};

std::string DefaultLogPath() {
  char folder[MAX_PATH + 1] = {};
  DWORD length = GetTempPathA(sizeof(folder), folder);
  if (length == 0 || length > MAX_PATH) return kDefaultLogName;
  return std::string(folder, length) + kDefaultLogName;
}

}  // namespace

std::unique_ptr<StatsLog> StatsLog::Open(const std::string& path, const EncoderSettings& settings) {
  std::FILE* file = std::fopen(path.empty() ? DefaultLogPath().c_str() : path.c_str(), "a");
  if (file == nullptr) return nullptr;
  std::fprintf(file,
               "# x264vfw run: %dx%d, %u/%u fps, preset %s, crf %.2f, zero latency %d, "
               "key frame interval %u, matrix %s %s range\n",
               settings.width, settings.height, settings.fps_num, settings.fps_den,
               settings.preset.c_str(), settings.crf, settings.zero_latency ? 1 : 0,
               settings.key_frame_interval_frames,
               settings.colour_space.matrix == ColourMatrix::kBt709 ? "BT.709" : "BT.601",
               settings.colour_space.full_range ? "full" : "limited");
  return std::unique_ptr<StatsLog>(new StatsLog(file, settings.fps_num, settings.fps_den));
}

StatsLog::StatsLog(std::FILE* file, uint32_t fps_num, uint32_t fps_den)
    : file_(file), fps_num_(fps_num), fps_den_(fps_den) {}

StatsLog::~StatsLog() {
  double kbits_per_second = frames_ == 0
                                ? 0.0
                                : static_cast<double>(bytes_) * kBitsPerByte * fps_num_ /
                                      (static_cast<double>(frames_) * fps_den_ * kBitsPerKilobit);
  std::fprintf(file_, "# end: %llu frames, %llu bytes, %.1f kbit/s\n",
               static_cast<unsigned long long>(frames_), static_cast<unsigned long long>(bytes_),
               kbits_per_second);
  std::fclose(file_);
}

void StatsLog::Frame(const FramePlan& plan, bool caller_asked_key, char type, size_t bytes,
                     int qp) {
  std::fprintf(file_, "frame %llu position %lld asked-key %d type %c bytes %lu qp %d\n",
               static_cast<unsigned long long>(frames_), static_cast<long long>(plan.position),
               caller_asked_key ? 1 : 0, type, static_cast<unsigned long>(bytes), qp);
  ++frames_;
  bytes_ += bytes;
}

void StatsLog::X264Message(void* log, int level, const char* format, va_list args) {
  std::FILE* file = static_cast<StatsLog*>(log)->file_;
  bool known = level >= 0 && static_cast<size_t>(level) < std::size(kLevelNames);
  std::fprintf(file, "x264 [%s]: ", known ? kLevelNames[level] : "?");
  std::vfprintf(file, format, args);
}

}  // namespace parvelo::codec
