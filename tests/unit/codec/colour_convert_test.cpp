// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

#include "codec/colour_convert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace parvelo::codec {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

struct Yuv {
  int y, u, v;
};

constexpr Rgb kRed = {255, 0, 0};
constexpr Rgb kGreen = {0, 255, 0};
constexpr Rgb kBlue = {0, 0, 255};
constexpr Rgb kWhite = {255, 255, 255};
constexpr Rgb kBlack = {0, 0, 0};
constexpr Rgb kGrey = {128, 128, 128};
constexpr Rgb kOrange = {255, 128, 0};

// A DIB as a Windows program hands it over, filled from a top-down picture function.
struct Dib {
  InputLayout layout;
  std::vector<uint8_t> bytes;

  template <typename Picture>
  Dib(int width, int height, int bits, bool bottom_up, Picture picture) {
    BitmapHeader header;
    header.width = width;
    header.height = bottom_up ? height : -height;
    header.bit_count = static_cast<uint16_t>(bits);
    EXPECT_EQ(CheckInputFormat(header, &layout), FormatVerdict::kAccepted);
    // Padding bytes get a value no colour uses, so reading them would show.
    bytes.assign(layout.image_bytes, 0xA5);
    for (int y = 0; y < height; ++y) {
      int memory_row = bottom_up ? height - 1 - y : y;
      for (int x = 0; x < width; ++x) {
        uint8_t* p = bytes.data() + memory_row * layout.stride_bytes + x * layout.bytes_per_pixel;
        Rgb c = picture(x, y);
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
        if (layout.bytes_per_pixel == 4) p[3] = 0x5A;
      }
    }
  }
};

struct I420 {
  int width, height;
  std::vector<uint8_t> y, u, v;
  I420(int w, int h)
      : width(w),
        height(h),
        y(static_cast<size_t>(w) * h),
        u(static_cast<size_t>(w / 2) * (h / 2)),
        v(static_cast<size_t>(w / 2) * (h / 2)) {}
  I420Planes planes() { return {y.data(), u.data(), v.data(), width, width / 2, width / 2}; }
  Yuv at(int x, int row) const {
    size_t c = static_cast<size_t>(row / 2) * (width / 2) + x / 2;
    return {y[static_cast<size_t>(row) * width + x], u[c], v[c]};
  }
};

I420 Convert(const Dib& dib, ColourSpace space, ConversionKernel kernel) {
  I420 out(dib.layout.width, dib.layout.height);
  ConvertToI420(dib.bytes.data(), dib.layout, space, out.planes(), kernel);
  return out;
}

// Reference values: the matrices' defining equations in floating point, rounded.
struct KnownColour {
  const char* name;
  Rgb rgb;
  ColourMatrix matrix;
  bool full_range;
  Yuv expected;
};

constexpr KnownColour kKnownColours[] = {
    {"white 601", kWhite, ColourMatrix::kBt601, false, {235, 128, 128}},
    {"black 601", kBlack, ColourMatrix::kBt601, false, {16, 128, 128}},
    {"grey 601", kGrey, ColourMatrix::kBt601, false, {126, 128, 128}},
    {"red 601", kRed, ColourMatrix::kBt601, false, {81, 90, 240}},
    {"green 601", kGreen, ColourMatrix::kBt601, false, {145, 54, 34}},
    {"blue 601", kBlue, ColourMatrix::kBt601, false, {41, 240, 110}},
    {"orange 601", kOrange, ColourMatrix::kBt601, false, {146, 53, 193}},
    {"white 709", kWhite, ColourMatrix::kBt709, false, {235, 128, 128}},
    {"red 709", kRed, ColourMatrix::kBt709, false, {63, 102, 240}},
    {"green 709", kGreen, ColourMatrix::kBt709, false, {173, 42, 26}},
    {"blue 709", kBlue, ColourMatrix::kBt709, false, {32, 240, 118}},
    {"white 601 full", kWhite, ColourMatrix::kBt601, true, {255, 128, 128}},
    {"black 601 full", kBlack, ColourMatrix::kBt601, true, {0, 128, 128}},
    {"red 601 full", kRed, ColourMatrix::kBt601, true, {76, 85, 255}},
    {"blue 601 full", kBlue, ColourMatrix::kBt601, true, {29, 255, 107}},
    {"green 709 full", kGreen, ColourMatrix::kBt709, true, {182, 30, 12}},
};

// Neutral colours and the ends of the range must be exact; saturated colours may differ from
// the floating-point reference by the last bit of rounding.
int ToleranceFor(const Rgb& c) {
  return c.r == c.g && c.g == c.b ? 0 : 1;
}

TEST(CodecColour, KnownColoursGiveKnownYuvWithEveryKernel) {
  for (ConversionKernel kernel : {ConversionKernel::kPortable, FastestKernel()}) {
    for (const KnownColour& known : kKnownColours) {
      SCOPED_TRACE(known.name);
      // 16 pixels wide, so the SSE2 path handles the whole row.
      Dib dib(16, 2, 32, true, [&](int, int) { return known.rgb; });
      I420 out = Convert(dib, {known.matrix, known.full_range}, kernel);
      int tolerance = ToleranceFor(known.rgb);
      for (int x = 0; x < 16; ++x) {
        Yuv got = out.at(x, x % 2);
        EXPECT_NEAR(got.y, known.expected.y, tolerance);
        EXPECT_NEAR(got.u, known.expected.u, tolerance);
        EXPECT_NEAR(got.v, known.expected.v, tolerance);
      }
    }
  }
}

// Quadrants: red top-left, green top-right, blue bottom-left, white bottom-right.
Rgb Quadrant(int x, int y, int width, int height) {
  bool right = x >= width / 2;
  bool bottom = y >= height / 2;
  if (!bottom) return right ? kGreen : kRed;
  return right ? kWhite : kBlue;
}

struct LayoutCase {
  const char* name;
  int width;
  int height;
  int bits;
  bool bottom_up;
};

// Widths 20 and 22 are not multiples of 8 (the SSE2 step), and 22 * 3 bytes leaves DIB
// padding at the end of every 24-bit row.
constexpr LayoutCase kLayouts[] = {
    {"32-bit bottom-up", 20, 8, 32, true}, {"32-bit top-down", 20, 8, 32, false},
    {"24-bit bottom-up", 22, 8, 24, true}, {"24-bit top-down", 22, 8, 24, false},
    {"24-bit wide", 68, 4, 24, true},      {"32-bit wide", 68, 4, 32, false},
};

TEST(CodecColour, OrientationAndChannelOrderHoldInEveryLayout) {
  const ColourSpace space{ColourMatrix::kBt601, false};
  const Yuv red = {81, 90, 240}, green = {145, 54, 34}, blue = {41, 240, 110},
            white = {235, 128, 128};
  for (ConversionKernel kernel : {ConversionKernel::kPortable, FastestKernel()}) {
    for (const LayoutCase& c : kLayouts) {
      SCOPED_TRACE(c.name);
      Dib dib(c.width, c.height, c.bits, c.bottom_up,
              [&](int x, int y) { return Quadrant(x, y, c.width, c.height); });
      I420 out = Convert(dib, space, kernel);
      struct Probe {
        int x, y;
        Yuv expected;
      } probes[] = {{0, 0, red},
                    {c.width - 2, 0, green},
                    {0, c.height - 2, blue},
                    {c.width - 2, c.height - 2, white}};
      for (const Probe& p : probes) {
        Yuv got = out.at(p.x, p.y);
        EXPECT_NEAR(got.y, p.expected.y, 1) << "at " << p.x << "," << p.y;
        EXPECT_NEAR(got.u, p.expected.u, 1) << "at " << p.x << "," << p.y;
        EXPECT_NEAR(got.v, p.expected.v, 1) << "at " << p.x << "," << p.y;
      }
    }
  }
}

TEST(CodecColour, ChromaIsTheMeanOfEachTwoByTwoBlock) {
  // Left block: two red and two blue pixels; right block: all grey.
  Dib dib(4, 2, 32, false, [](int x, int y) {
    if (x >= 2) return kGrey;
    return (x + y) % 2 == 0 ? kRed : kBlue;
  });
  I420 out = Convert(dib, {ColourMatrix::kBt601, false}, ConversionKernel::kPortable);
  Dib mean(2, 2, 32, false, [](int, int) { return Rgb{128, 0, 128}; });
  I420 mean_out = Convert(mean, {ColourMatrix::kBt601, false}, ConversionKernel::kPortable);
  EXPECT_NEAR(out.u[0], mean_out.u[0], 1);
  EXPECT_NEAR(out.v[0], mean_out.v[0], 1);
  EXPECT_EQ(out.u[1], 128);
  EXPECT_EQ(out.v[1], 128);
}

TEST(CodecColour, Sse2KernelMatchesPortableKernelByteForByte) {
  if (FastestKernel() != ConversionKernel::kSse2) GTEST_SKIP() << "no SSE2 on this processor";
  std::mt19937 random(20240601);
  const ColourSpace spaces[] = {{ColourMatrix::kBt601, false},
                                {ColourMatrix::kBt709, false},
                                {ColourMatrix::kBt601, true},
                                {ColourMatrix::kBt709, true}};
  for (int width : {2, 8, 14, 16, 30, 64, 126}) {
    for (int bits : {24, 32}) {
      for (const ColourSpace& space : spaces) {
        SCOPED_TRACE(testing::Message() << width << " px, " << bits << " bit");
        Dib dib(width, 6, bits, true, [&](int, int) {
          return Rgb{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                     static_cast<uint8_t>(random())};
        });
        I420 portable = Convert(dib, space, ConversionKernel::kPortable);
        I420 sse2 = Convert(dib, space, ConversionKernel::kSse2);
        EXPECT_EQ(portable.y, sse2.y);
        EXPECT_EQ(portable.u, sse2.u);
        EXPECT_EQ(portable.v, sse2.v);
      }
    }
  }
}

TEST(CodecColour, MatrixFollowsTheChoiceOrTheFrameSize) {
  struct Case {
    ColourMatrixChoice choice;
    int width, height;
    ColourMatrix expected;
  } cases[] = {
      {ColourMatrixChoice::kBySize, 1920, 1080, ColourMatrix::kBt709},
      {ColourMatrixChoice::kBySize, 1366, 768, ColourMatrix::kBt709},
      {ColourMatrixChoice::kBySize, 1280, 600, ColourMatrix::kBt709},
      {ColourMatrixChoice::kBySize, 960, 720, ColourMatrix::kBt709},
      {ColourMatrixChoice::kBySize, 1024, 700, ColourMatrix::kBt601},
      {ColourMatrixChoice::kBySize, 640, 480, ColourMatrix::kBt601},
      {ColourMatrixChoice::kBt601, 1920, 1080, ColourMatrix::kBt601},
      {ColourMatrixChoice::kBt709, 640, 480, ColourMatrix::kBt709},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResolveColourMatrix(c.choice, c.width, c.height), c.expected)
        << c.width << "x" << c.height;
  }
}

TEST(CodecColour, ColourDescriptionNamesTheMatrixAndRangeUsed) {
  struct Case {
    ColourSpace space;
    int matrix;
  } cases[] = {{{ColourMatrix::kBt601, false}, 6},
               {{ColourMatrix::kBt709, false}, 1},
               {{ColourMatrix::kBt709, true}, 1}};
  for (const Case& c : cases) {
    VuiColour vui = VuiColourFor(c.space);
    EXPECT_EQ(vui.matrix, c.matrix);
    EXPECT_EQ(vui.primaries, 1);  // BT.709 = sRGB primaries
    EXPECT_EQ(vui.transfer, 13);  // sRGB
    EXPECT_EQ(vui.full_range, c.space.full_range);
  }
}

}  // namespace
}  // namespace parvelo::codec
