// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

#include "codec/input_format.h"

namespace parvelo::codec {
namespace {

constexpr size_t kDibRowAlignmentBytes = 4;
constexpr int kBitsPerByte = 8;
// Room for the parameter sets and libx264's version SEI ahead of the first slice.
constexpr size_t kHeaderAllowanceBytes = 64 * 1024;
// No frame the encoder writes comes near the size of the 32-bit picture it was given, so that
// size is the bound the caller's output buffer is made for.
constexpr size_t kWorstCaseBytesPerPixel = 4;

bool IsEven(int32_t value) {
  return value % 2 == 0;
}

}  // namespace

FormatVerdict CheckInputFormat(const BitmapHeader& input, InputLayout* layout) {
  if (input.header_bytes < kBitmapHeaderBytes) return FormatVerdict::kShortHeader;
  if (input.compression != kCompressionRgb) return FormatVerdict::kCompressed;
  if (input.bit_count != 24 && input.bit_count != 32) return FormatVerdict::kUnsupportedBitDepth;
  if (input.planes != 1) return FormatVerdict::kBadPlanes;

  // Negating INT32_MIN would overflow; it is far beyond the limit anyway.
  int64_t height = input.height < 0 ? -int64_t{input.height} : int64_t{input.height};
  int64_t width = input.width;
  if (width <= 0 || height == 0 || width > kMaxDimensionPixels || height > kMaxDimensionPixels ||
      width * height > kMaxAreaPixels) {
    return FormatVerdict::kBadDimensions;
  }
  if (!IsEven(input.width) || !IsEven(input.height)) return FormatVerdict::kOddDimensions;

  InputLayout result;
  result.width = static_cast<int>(width);
  result.height = static_cast<int>(height);
  result.bytes_per_pixel = input.bit_count / kBitsPerByte;
  result.bottom_up = input.height > 0;
  size_t row_bytes = static_cast<size_t>(width) * result.bytes_per_pixel;
  result.stride_bytes =
      (row_bytes + kDibRowAlignmentBytes - 1) / kDibRowAlignmentBytes * kDibRowAlignmentBytes;
  result.image_bytes = result.stride_bytes * static_cast<size_t>(height);
  if (input.image_bytes != 0 && input.image_bytes < result.image_bytes) {
    return FormatVerdict::kShortImage;
  }
  if (layout != nullptr) *layout = result;
  return FormatVerdict::kAccepted;
}

BitmapHeader OutputFormatFor(const InputLayout& layout) {
  BitmapHeader output;
  output.width = layout.width;
  output.height = layout.height;
  output.bit_count = kOutputBitCount;
  output.compression = kOutputFourCc;
  output.image_bytes = static_cast<uint32_t>(WorstCaseFrameBytes(layout));
  return output;
}

bool IsOutputFormatFor(const InputLayout& layout, const BitmapHeader& output) {
  return output.header_bytes >= kBitmapHeaderBytes && output.compression == kOutputFourCc &&
         output.width == layout.width &&
         (output.height == layout.height || output.height == -layout.height);
}

size_t WorstCaseFrameBytes(const InputLayout& layout) {
  return static_cast<size_t>(layout.width) * static_cast<size_t>(layout.height) *
             kWorstCaseBytesPerPixel +
         kHeaderAllowanceBytes;
}

}  // namespace parvelo::codec
