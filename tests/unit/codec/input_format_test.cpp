// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

#include "codec/input_format.h"

#include <gtest/gtest.h>

namespace parvelo::codec {
namespace {

BitmapHeader Rgb(int32_t width, int32_t height, uint16_t bits) {
  BitmapHeader header;
  header.width = width;
  header.height = height;
  header.bit_count = bits;
  return header;
}

TEST(CodecFormat, AcceptsOnlyEvenSizedUncompressed24And32BitRgb) {
  struct Case {
    const char* name;
    BitmapHeader header;
    FormatVerdict expected;
  };
  BitmapHeader compressed = Rgb(640, 480, 24);
  compressed.compression = FourCc('M', 'J', 'P', 'G');
  BitmapHeader short_header = Rgb(640, 480, 32);
  short_header.header_bytes = 12;  // BITMAPCOREHEADER
  BitmapHeader two_planes = Rgb(640, 480, 32);
  two_planes.planes = 2;
  BitmapHeader short_image = Rgb(640, 480, 32);
  short_image.image_bytes = 640 * 480 * 4 - 1;
  BitmapHeader exact_image = Rgb(640, 480, 32);
  exact_image.image_bytes = 640 * 480 * 4;
  BitmapHeader larger_header = Rgb(640, 480, 32);
  larger_header.header_bytes = 124;  // BITMAPV5HEADER

  const Case cases[] = {
      {"32-bit bottom-up", Rgb(1920, 1080, 32), FormatVerdict::kAccepted},
      {"32-bit top-down", Rgb(1920, -1080, 32), FormatVerdict::kAccepted},
      {"24-bit", Rgb(1366, 768, 24), FormatVerdict::kAccepted},
      {"smallest", Rgb(2, 2, 32), FormatVerdict::kAccepted},
      {"exact image size", exact_image, FormatVerdict::kAccepted},
      {"larger header", larger_header, FormatVerdict::kAccepted},
      {"8-bit palette", Rgb(640, 480, 8), FormatVerdict::kUnsupportedBitDepth},
      {"16-bit", Rgb(640, 480, 16), FormatVerdict::kUnsupportedBitDepth},
      {"1-bit", Rgb(640, 480, 1), FormatVerdict::kUnsupportedBitDepth},
      {"compressed", compressed, FormatVerdict::kCompressed},
      {"core header", short_header, FormatVerdict::kShortHeader},
      {"two planes", two_planes, FormatVerdict::kBadPlanes},
      {"odd width", Rgb(641, 480, 32), FormatVerdict::kOddDimensions},
      {"odd height", Rgb(640, 481, 32), FormatVerdict::kOddDimensions},
      {"odd top-down height", Rgb(640, -481, 24), FormatVerdict::kOddDimensions},
      {"zero width", Rgb(0, 480, 32), FormatVerdict::kBadDimensions},
      {"zero height", Rgb(640, 0, 32), FormatVerdict::kBadDimensions},
      {"negative width", Rgb(-640, 480, 32), FormatVerdict::kBadDimensions},
      {"too wide", Rgb(8194, 2, 32), FormatVerdict::kBadDimensions},
      {"too tall", Rgb(2, -8194, 32), FormatVerdict::kBadDimensions},
      {"too many pixels", Rgb(8192, 8192, 32), FormatVerdict::kBadDimensions},
      {"most negative height", Rgb(640, INT32_MIN, 32), FormatVerdict::kBadDimensions},
      {"short image", short_image, FormatVerdict::kShortImage},
  };
  for (const Case& c : cases) {
    InputLayout layout;
    EXPECT_EQ(CheckInputFormat(c.header, &layout), c.expected) << c.name;
  }
}

TEST(CodecFormat, LayoutDescribesDibRows) {
  struct Case {
    BitmapHeader header;
    size_t stride;
    bool bottom_up;
    int bytes_per_pixel;
  } cases[] = {
      {Rgb(22, 4, 24), 68, true, 3},    // 66 bytes padded to 68
      {Rgb(20, -4, 24), 60, false, 3},  // already a multiple of 4
      {Rgb(22, -4, 32), 88, false, 4},
  };
  for (const Case& c : cases) {
    InputLayout layout;
    ASSERT_EQ(CheckInputFormat(c.header, &layout), FormatVerdict::kAccepted);
    EXPECT_EQ(layout.stride_bytes, c.stride);
    EXPECT_EQ(layout.image_bytes, c.stride * 4);
    EXPECT_EQ(layout.bottom_up, c.bottom_up);
    EXPECT_EQ(layout.bytes_per_pixel, c.bytes_per_pixel);
    EXPECT_EQ(layout.height, 4);
  }
}

TEST(CodecFormat, OutputIsH264OfTheSameSizeWithAWorstCaseImageSize) {
  InputLayout layout;
  ASSERT_EQ(CheckInputFormat(Rgb(1366, -768, 32), &layout), FormatVerdict::kAccepted);
  BitmapHeader out = OutputFormatFor(layout);
  EXPECT_EQ(out.compression, FourCc('H', '2', '6', '4'));
  EXPECT_EQ(out.width, 1366);
  EXPECT_EQ(out.height, 768);
  EXPECT_EQ(out.bit_count, 24);
  EXPECT_EQ(out.header_bytes, 40u);
  EXPECT_EQ(out.image_bytes, WorstCaseFrameBytes(layout));
  // Never less than the picture it came from.
  EXPECT_GE(WorstCaseFrameBytes(layout), layout.image_bytes);
  EXPECT_TRUE(IsOutputFormatFor(layout, out));
}

TEST(CodecFormat, OutputFormatMustMatchSizeAndCompression) {
  InputLayout layout;
  ASSERT_EQ(CheckInputFormat(Rgb(640, 480, 24), &layout), FormatVerdict::kAccepted);
  BitmapHeader good = OutputFormatFor(layout);
  BitmapHeader flipped = good;
  flipped.height = -480;
  BitmapHeader other_codec = good;
  other_codec.compression = FourCc('X', 'V', 'I', 'D');
  BitmapHeader other_width = good;
  other_width.width = 642;
  BitmapHeader other_height = good;
  other_height.height = 482;
  BitmapHeader short_header = good;
  short_header.header_bytes = 12;
  EXPECT_TRUE(IsOutputFormatFor(layout, good));
  EXPECT_TRUE(IsOutputFormatFor(layout, flipped));
  EXPECT_FALSE(IsOutputFormatFor(layout, other_codec));
  EXPECT_FALSE(IsOutputFormatFor(layout, other_width));
  EXPECT_FALSE(IsOutputFormatFor(layout, other_height));
  EXPECT_FALSE(IsOutputFormatFor(layout, short_header));
}

}  // namespace
}  // namespace parvelo::codec
