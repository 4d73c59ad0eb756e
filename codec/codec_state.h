// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

// The compressor's configuration, as ICM_GETSTATE hands it out and ICM_SETSTATE takes it back.
//
// The block is 1024 bytes, little-endian, every multi-byte field at a naturally aligned offset.
// A program keeps the block opaque, or patches single documented bytes, and returns it whole.
// Version 1 layout:
//
//   offset size  field
//        0    4  magic: the bytes 'X' '2' '6' '4'
//        4    4  version: 1
//        8    4  size of the block in bytes: 1024
//       12    4  preset: 0 ultrafast, 1 superfast, ... 9 placebo (libx264's speed presets)
//       16    4  default quality 0..10000, used when the caller leaves quality at its default
//       20    4  key-frame interval in frames (>= 1), used when the caller names none
//       24    4  encoder threads: 0 = one per processor, else 1..128
//       28    1  zero latency: 1 = one compressed frame out for every frame in (no B-frames,
//                look-ahead or frame threads; slices spread a frame over the threads);
//                0 = the preset's own pipeline: better compression, but output lags input by
//                the encoder's delay: the first calls return empty frames and the last frames
//                never come out, so only callers that expect this may turn it off
//       29    1  colour matrix: 0 = by frame size (BT.709 from 1280 wide or 720 tall up,
//                BT.601 below), 1 = BT.601, 2 = BT.709
//       30    1  range: 0 = limited (Y 16..235), 1 = full (0..255)
//   31..63       reserved, zero
//       64  512  extra libx264 options, "name=value:name=value", NUL-terminated; applied after
//                the preset; the settings this compressor owns (rate control, key frames,
//                latency when byte 28 is 1, colour description) are applied after them
//  576..603      reserved, zero
//      604    1  statistics log: 1 = write a line per compressed frame and libx264's own
//                summary to the log file, 0 = off
//  605..607      reserved, zero
//      608  260  log file path (ANSI, NUL-terminated); empty = x264vfw.log in the TEMP folder
//  868..1023     reserved, zero
//
// Reserved bytes are ignored on the way in and written as zero on the way out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace parvelo::codec {

enum class ColourMatrixChoice : uint8_t { kBySize = 0, kBt601 = 1, kBt709 = 2 };

struct CodecConfig {
  uint32_t preset = 0;
  uint32_t default_quality = 7500;
  uint32_t key_frame_interval_frames = 250;
  uint32_t threads = 0;
  bool zero_latency = true;
  ColourMatrixChoice colour_matrix = ColourMatrixChoice::kBySize;
  bool full_range = false;
  std::string extra_options;
  bool write_log = false;
  std::string log_path;

  bool operator==(const CodecConfig& other) const;
};

constexpr uint32_t kStateVersion = 1;
constexpr size_t kStateSizeBytes = 1024;

namespace state_offset {
constexpr size_t kMagic = 0;
constexpr size_t kVersion = 4;
constexpr size_t kSize = 8;
constexpr size_t kPreset = 12;
constexpr size_t kDefaultQuality = 16;
constexpr size_t kKeyFrameInterval = 20;
constexpr size_t kThreads = 24;
constexpr size_t kZeroLatency = 28;
constexpr size_t kColourMatrix = 29;
constexpr size_t kFullRange = 30;
constexpr size_t kExtraOptions = 64;
constexpr size_t kWriteLog = 604;
constexpr size_t kLogPath = 608;
}  // namespace state_offset

constexpr size_t kExtraOptionsBytes = 512;
constexpr size_t kLogPathBytes = 260;
constexpr uint32_t kMaxThreads = 128;

// libx264's presets, fastest first; the state's preset field indexes this list.
constexpr const char* kPresetNames[] = {"ultrafast", "superfast", "veryfast", "faster",
                                        "fast",      "medium",    "slow",     "slower",
                                        "veryslow",  "placebo"};
constexpr uint32_t kPresetCount = sizeof(kPresetNames) / sizeof(kPresetNames[0]);

enum class StateVerdict {
  kAccepted,
  kWrongSize,
  kBadMagic,
  kWrongVersion,
  kSizeFieldMismatch,
  kFieldOutOfRange,
  kUnterminatedText,
};

using StateBlock = std::array<uint8_t, kStateSizeBytes>;

StateBlock SerializeState(const CodecConfig& config);

// Checks a block handed to ICM_SETSTATE; fills *config only when the block is accepted.
StateVerdict ParseState(const uint8_t* bytes, size_t size, CodecConfig* config);

}  // namespace parvelo::codec
