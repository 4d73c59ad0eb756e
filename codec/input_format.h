// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

// Which bitmaps the compressor takes in and what it hands out, decided on the fields of a
// BITMAPINFOHEADER copied into a platform-free struct.
#pragma once

#include <cstddef>
#include <cstdint>

namespace parvelo::codec {

constexpr uint32_t FourCc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

constexpr uint32_t kCompressionRgb = 0;  // BI_RGB
constexpr uint32_t kOutputFourCc = FourCc('H', '2', '6', '4');
constexpr uint16_t kOutputBitCount = 24;
constexpr uint32_t kBitmapHeaderBytes = 40;  // sizeof(BITMAPINFOHEADER)
// Beyond 8K UHD no H.264 level applies, and a 32-bit process would run out of room for the
// encoder's reference frames.
constexpr int32_t kMaxDimensionPixels = 8192;
constexpr int64_t kMaxAreaPixels = int64_t{7680} * 4320;

struct BitmapHeader {
  uint32_t header_bytes = kBitmapHeaderBytes;
  int32_t width = 0;
  int32_t height = 0;  // positive: bottom-up rows; negative: top-down
  uint16_t planes = 1;
  uint16_t bit_count = 0;
  uint32_t compression = kCompressionRgb;
  uint32_t image_bytes = 0;  // may be 0 for BI_RGB
};

enum class FormatVerdict {
  kAccepted,
  kShortHeader,
  kCompressed,
  kUnsupportedBitDepth,
  kBadPlanes,
  kBadDimensions,  // zero, negative width, beyond the limits
  kOddDimensions,  // 4:2:0 needs even width and height
  kShortImage,     // biSizeImage given but smaller than the rows need
};

struct InputLayout {
  int width = 0;
  int height = 0;
  int bytes_per_pixel = 0;
  bool bottom_up = true;
  size_t stride_bytes = 0;  // DIB rows are padded to 4 bytes
  size_t image_bytes = 0;
};

FormatVerdict CheckInputFormat(const BitmapHeader& input, InputLayout* layout);

// The output header ICM_COMPRESS_GET_FORMAT writes for an accepted input.
BitmapHeader OutputFormatFor(const InputLayout& layout);

// Whether a caller-supplied output header is one this compressor produces for `layout`.
bool IsOutputFormatFor(const InputLayout& layout, const BitmapHeader& output);

// Upper bound of one compressed frame in bytes, as ICM_COMPRESS_GET_SIZE reports.
size_t WorstCaseFrameBytes(const InputLayout& layout);

}  // namespace parvelo::codec
