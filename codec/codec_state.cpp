// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

#include "codec/codec_state.h"

#include <cstring>

#include "codec/quality_map.h"

namespace parvelo::codec {
namespace {

constexpr uint8_t kMagic[4] = {'X', '2', '6', '4'};
constexpr uint8_t kBitsPerByte = 8;

// Little-endian on every host, so a block written by a test on one machine reads the same in
// the DLL.
void PutU32(StateBlock& block, size_t offset, uint32_t value) {
  for (size_t i = 0; i < sizeof(value); ++i) {
    block[offset + i] = static_cast<uint8_t>(value >> (kBitsPerByte * i));
  }
}

uint32_t GetU32(const uint8_t* bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < sizeof(value); ++i) {
    value |= static_cast<uint32_t>(bytes[offset + i]) << (kBitsPerByte * i);
  }
  return value;
}

void PutText(StateBlock& block, size_t offset, size_t field_bytes, const std::string& text) {
  // One byte always stays NUL, so the reader finds a terminator in the field.
  size_t length = text.size() < field_bytes ? text.size() : field_bytes - 1;
  std::memcpy(block.data() + offset, text.data(), length);
}

bool GetText(const uint8_t* bytes, size_t offset, size_t field_bytes, std::string* text) {
  const void* end = std::memchr(bytes + offset, 0, field_bytes);
  if (end == nullptr) return false;
  text->assign(reinterpret_cast<const char*>(bytes + offset),
               static_cast<const uint8_t*>(end) - (bytes + offset));
  return true;
}

bool GetFlag(const uint8_t* bytes, size_t offset, bool* flag) {
  if (bytes[offset] > 1) return false;
  *flag = bytes[offset] == 1;
  return true;
}

}  // namespace

bool CodecConfig::operator==(const CodecConfig& other) const {
  return preset == other.preset && default_quality == other.default_quality &&
         key_frame_interval_frames == other.key_frame_interval_frames && threads == other.threads &&
         zero_latency == other.zero_latency && colour_matrix == other.colour_matrix &&
         full_range == other.full_range && extra_options == other.extra_options &&
         write_log == other.write_log && log_path == other.log_path;
}

StateBlock SerializeState(const CodecConfig& config) {
  StateBlock block{};
  std::memcpy(block.data() + state_offset::kMagic, kMagic, sizeof(kMagic));
  PutU32(block, state_offset::kVersion, kStateVersion);
  PutU32(block, state_offset::kSize, static_cast<uint32_t>(kStateSizeBytes));
  PutU32(block, state_offset::kPreset, config.preset);
  PutU32(block, state_offset::kDefaultQuality, config.default_quality);
  PutU32(block, state_offset::kKeyFrameInterval, config.key_frame_interval_frames);
  PutU32(block, state_offset::kThreads, config.threads);
  block[state_offset::kZeroLatency] = config.zero_latency ? 1 : 0;
  block[state_offset::kColourMatrix] = static_cast<uint8_t>(config.colour_matrix);
  block[state_offset::kFullRange] = config.full_range ? 1 : 0;
  PutText(block, state_offset::kExtraOptions, kExtraOptionsBytes, config.extra_options);
  block[state_offset::kWriteLog] = config.write_log ? 1 : 0;
  PutText(block, state_offset::kLogPath, kLogPathBytes, config.log_path);
  return block;
}

StateVerdict ParseState(const uint8_t* bytes, size_t size, CodecConfig* config) {
  if (size != kStateSizeBytes) return StateVerdict::kWrongSize;
  if (std::memcmp(bytes + state_offset::kMagic, kMagic, sizeof(kMagic)) != 0) {
    return StateVerdict::kBadMagic;
  }
  if (GetU32(bytes, state_offset::kVersion) != kStateVersion) return StateVerdict::kWrongVersion;
  if (GetU32(bytes, state_offset::kSize) != kStateSizeBytes) {
    return StateVerdict::kSizeFieldMismatch;
  }

  CodecConfig parsed;
  parsed.preset = GetU32(bytes, state_offset::kPreset);
  parsed.default_quality = GetU32(bytes, state_offset::kDefaultQuality);
  parsed.key_frame_interval_frames = GetU32(bytes, state_offset::kKeyFrameInterval);
  parsed.threads = GetU32(bytes, state_offset::kThreads);
  uint8_t matrix = bytes[state_offset::kColourMatrix];
  if (parsed.preset >= kPresetCount || parsed.default_quality > kQualityMax ||
      parsed.key_frame_interval_frames == 0 || parsed.threads > kMaxThreads ||
      matrix > static_cast<uint8_t>(ColourMatrixChoice::kBt709) ||
      !GetFlag(bytes, state_offset::kZeroLatency, &parsed.zero_latency) ||
      !GetFlag(bytes, state_offset::kFullRange, &parsed.full_range) ||
      !GetFlag(bytes, state_offset::kWriteLog, &parsed.write_log)) {
    return StateVerdict::kFieldOutOfRange;
  }
  parsed.colour_matrix = static_cast<ColourMatrixChoice>(matrix);
  if (!GetText(bytes, state_offset::kExtraOptions, kExtraOptionsBytes, &parsed.extra_options) ||
      !GetText(bytes, state_offset::kLogPath, kLogPathBytes, &parsed.log_path)) {
    return StateVerdict::kUnterminatedText;
  }
  *config = parsed;
  return StateVerdict::kAccepted;
}

}  // namespace parvelo::codec
