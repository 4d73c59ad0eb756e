// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

#include "codec/colour_convert.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#define PARVELO_HAVE_X86 1
#include <emmintrin.h>
#endif

namespace parvelo::codec {
namespace {

constexpr int kFractionBits = 15;
constexpr double kFixedOne = 1 << kFractionBits;
// Chroma is computed from the sum of four pixels: two more bits to shift away.
constexpr int kChromaShift = kFractionBits + 2;
constexpr int kLumaOffsetLimited = 16;
constexpr int kChromaOffset = 128;
constexpr double kLumaSpanLimited = 219.0 / 255.0;
constexpr double kChromaSpanLimited = 224.0 / 255.0;
constexpr int kMinHdWidthPixels = 1280;
constexpr int kMinHdHeightPixels = 720;
constexpr int kBytesPerWorkPixel = 4;  // 24-bit rows are widened to this first
constexpr int kSse2PixelsPerStep = 8;

// H.264 colour description codes.
constexpr int kPrimariesBt709 = 1;  // also sRGB's primaries, which desktop pictures are in
constexpr int kTransferSrgb = 13;   // IEC 61966-2-1
constexpr int kMatrixBt709 = 1;
constexpr int kMatrixBt601 = 6;  // SMPTE 170M

struct LumaWeights {
  double red;
  double blue;
};
constexpr LumaWeights kBt601Weights = {0.299, 0.114};
constexpr LumaWeights kBt709Weights = {0.2126, 0.0722};

// Weights in blue, green, red order, as the bytes lie in a DIB.
struct Coefficients {
  int16_t y[3];
  int16_t u[3];
  int16_t v[3];
  int32_t y_bias;       // offset and rounding, already shifted up
  int32_t chroma_bias;  // likewise for the four-pixel sums
};

int16_t Fixed(double value) {
  return static_cast<int16_t>(value >= 0 ? value * kFixedOne + 0.5 : value * kFixedOne - 0.5);
}

Coefficients CoefficientsFor(const ColourSpace& space) {
  LumaWeights w = space.matrix == ColourMatrix::kBt709 ? kBt709Weights : kBt601Weights;
  double luma_span = space.full_range ? 1.0 : kLumaSpanLimited;
  double chroma_span = space.full_range ? 1.0 : kChromaSpanLimited;
  Coefficients c{};
  c.y[0] = Fixed(w.blue * luma_span);
  c.y[2] = Fixed(w.red * luma_span);
  // Green takes the rounding remainder so that white lands exactly on the top of the range.
  c.y[1] = static_cast<int16_t>(Fixed(luma_span) - c.y[0] - c.y[2]);
  double cb_scale = chroma_span / (2.0 * (1.0 - w.blue));
  double cr_scale = chroma_span / (2.0 * (1.0 - w.red));
  c.u[0] = Fixed((1.0 - w.blue) * cb_scale);
  c.u[2] = Fixed(-w.red * cb_scale);
  // Likewise the remainder keeps every grey exactly on the neutral chroma value.
  c.u[1] = static_cast<int16_t>(-c.u[0] - c.u[2]);
  c.v[2] = Fixed((1.0 - w.red) * cr_scale);
  c.v[0] = Fixed(-w.blue * cr_scale);
  c.v[1] = static_cast<int16_t>(-c.v[0] - c.v[2]);
  int luma_offset = space.full_range ? 0 : kLumaOffsetLimited;
  c.y_bias = (luma_offset << kFractionBits) + (1 << (kFractionBits - 1));
  c.chroma_bias = (kChromaOffset << kChromaShift) + (1 << (kChromaShift - 1));
  return c;
}

uint8_t ClampToByte(int32_t value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

uint8_t Luma(const uint8_t* bgr, const Coefficients& c) {
  int32_t sum = c.y[0] * bgr[0] + c.y[1] * bgr[1] + c.y[2] * bgr[2] + c.y_bias;
  return ClampToByte(sum >> kFractionBits);
}

uint8_t Chroma(const int16_t* weights, const int32_t* sums, int32_t bias) {
  int32_t sum = weights[0] * sums[0] + weights[1] * sums[1] + weights[2] * sums[2] + bias;
  return ClampToByte(sum >> kChromaShift);
}

struct RowPair {
  const uint8_t* top;  // work pixels, 4 bytes each
  const uint8_t* bottom;
  uint8_t* y_top;
  uint8_t* y_bottom;
  uint8_t* u;
  uint8_t* v;
};

void ConvertRowPairPortable(const RowPair& rows, int x_begin, int width, const Coefficients& c) {
  for (int x = x_begin; x < width; x += 2) {
    const uint8_t* pixels[4] = {
        rows.top + x * kBytesPerWorkPixel, rows.top + (x + 1) * kBytesPerWorkPixel,
        rows.bottom + x * kBytesPerWorkPixel, rows.bottom + (x + 1) * kBytesPerWorkPixel};
    rows.y_top[x] = Luma(pixels[0], c);
    rows.y_top[x + 1] = Luma(pixels[1], c);
    rows.y_bottom[x] = Luma(pixels[2], c);
    rows.y_bottom[x + 1] = Luma(pixels[3], c);
    int32_t sums[3] = {0, 0, 0};
    for (const uint8_t* pixel : pixels) {
      for (int channel = 0; channel < 3; ++channel) sums[channel] += pixel[channel];
    }
    rows.u[x / 2] = Chroma(c.u, sums, c.chroma_bias);
    rows.v[x / 2] = Chroma(c.v, sums, c.chroma_bias);
  }
}

#if PARVELO_HAVE_X86

#define PARVELO_SSE2 __attribute__((target("sse2")))

PARVELO_SSE2 __m128i Weights(const int16_t* w) {
  return _mm_setr_epi16(w[0], w[1], w[2], 0, w[0], w[1], w[2], 0);
}

// Weighted sums of four pixels held as 16-bit blue, green, red, unused lanes, two pixels per
// register; returns the four 32-bit sums in pixel order.
PARVELO_SSE2 __m128i WeightedSums(__m128i first_two, __m128i last_two, __m128i weights) {
  __m128 a = _mm_castsi128_ps(_mm_madd_epi16(first_two, weights));
  __m128 b = _mm_castsi128_ps(_mm_madd_epi16(last_two, weights));
  // madd leaves blue+green and red in neighbouring lanes; the float shuffles only move bits.
  __m128i even = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
  __m128i odd = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm_add_epi32(even, odd);
}

PARVELO_SSE2 __m128i LumaOfEight(__m128i first_four, __m128i last_four, __m128i weights,
                                 __m128i bias) {
  const __m128i zero = _mm_setzero_si128();
  __m128i y03 = WeightedSums(_mm_unpacklo_epi8(first_four, zero),
                             _mm_unpackhi_epi8(first_four, zero), weights);
  __m128i y47 =
      WeightedSums(_mm_unpacklo_epi8(last_four, zero), _mm_unpackhi_epi8(last_four, zero), weights);
  y03 = _mm_srai_epi32(_mm_add_epi32(y03, bias), kFractionBits);
  y47 = _mm_srai_epi32(_mm_add_epi32(y47, bias), kFractionBits);
  __m128i words = _mm_packs_epi32(y03, y47);
  return _mm_packus_epi16(words, words);
}

// Sums each horizontal pair of two-row sums: [p0 p1] [p2 p3] -> [p0+p1, p2+p3].
PARVELO_SSE2 __m128i PairSums(__m128i first_two, __m128i last_two) {
  return _mm_add_epi16(_mm_unpacklo_epi64(first_two, last_two),
                       _mm_unpackhi_epi64(first_two, last_two));
}

PARVELO_SSE2 uint32_t ChromaOfFour(__m128i first_blocks, __m128i last_blocks, __m128i weights,
                                   __m128i bias) {
  __m128i sums = WeightedSums(first_blocks, last_blocks, weights);
  sums = _mm_srai_epi32(_mm_add_epi32(sums, bias), kChromaShift);
  __m128i words = _mm_packs_epi32(sums, sums);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}

void StoreFour(uint8_t* out, uint32_t bytes) {
  std::memcpy(out, &bytes, sizeof(bytes));
}

PARVELO_SSE2 void ConvertRowPairSse2(const RowPair& rows, int width, const Coefficients& c) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i y_weights = Weights(c.y);
  const __m128i u_weights = Weights(c.u);
  const __m128i v_weights = Weights(c.v);
  const __m128i y_bias = _mm_set1_epi32(c.y_bias);
  const __m128i chroma_bias = _mm_set1_epi32(c.chroma_bias);
  int x = 0;
  for (; x + kSse2PixelsPerStep <= width; x += kSse2PixelsPerStep) {
    const uint8_t* top = rows.top + x * kBytesPerWorkPixel;
    const uint8_t* bottom = rows.bottom + x * kBytesPerWorkPixel;
    __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top));
    __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 16));
    __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom));
    __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 16));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.y_top + x),
                     LumaOfEight(t0, t1, y_weights, y_bias));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(rows.y_bottom + x),
                     LumaOfEight(b0, b1, y_weights, y_bias));
    // Two-row sums per pixel (at most 510, so 16 bits hold them), then pixel pairs (1020).
    __m128i blocks03 =
        PairSums(_mm_add_epi16(_mm_unpacklo_epi8(t0, zero), _mm_unpacklo_epi8(b0, zero)),
                 _mm_add_epi16(_mm_unpackhi_epi8(t0, zero), _mm_unpackhi_epi8(b0, zero)));
    __m128i blocks47 =
        PairSums(_mm_add_epi16(_mm_unpacklo_epi8(t1, zero), _mm_unpacklo_epi8(b1, zero)),
                 _mm_add_epi16(_mm_unpackhi_epi8(t1, zero), _mm_unpackhi_epi8(b1, zero)));
    StoreFour(rows.u + x / 2, ChromaOfFour(blocks03, blocks47, u_weights, chroma_bias));
    StoreFour(rows.v + x / 2, ChromaOfFour(blocks03, blocks47, v_weights, chroma_bias));
  }
  ConvertRowPairPortable(rows, x, width, c);
}

bool ProcessorHasSse2() {
  return __builtin_cpu_supports("sse2");
}

#else

bool ProcessorHasSse2() {
  return false;
}

#endif

void ConvertRowPair(const RowPair& rows, int width, const Coefficients& c,
                    ConversionKernel kernel) {
#if PARVELO_HAVE_X86
  if (kernel == ConversionKernel::kSse2) {
    ConvertRowPairSse2(rows, width, c);
    return;
  }
#endif
  (void)kernel;
  ConvertRowPairPortable(rows, 0, width, c);
}

void WidenRow(const uint8_t* bgr, int width, uint8_t* bgrx) {
  for (int x = 0; x < width; ++x) {
    bgrx[0] = bgr[0];
    bgrx[1] = bgr[1];
    bgrx[2] = bgr[2];
    bgrx[3] = 0;
    bgr += 3;
    bgrx += kBytesPerWorkPixel;
  }
}

}  // namespace

ColourMatrix ResolveColourMatrix(ColourMatrixChoice choice, int width, int height) {
  switch (choice) {
    case ColourMatrixChoice::kBt601:
      return ColourMatrix::kBt601;
    case ColourMatrixChoice::kBt709:
      return ColourMatrix::kBt709;
    case ColourMatrixChoice::kBySize:
      break;
  }
  return width >= kMinHdWidthPixels || height >= kMinHdHeightPixels ? ColourMatrix::kBt709
                                                                    : ColourMatrix::kBt601;
}

VuiColour VuiColourFor(const ColourSpace& space) {
  VuiColour vui;
  vui.primaries = kPrimariesBt709;
  vui.transfer = kTransferSrgb;
  vui.matrix = space.matrix == ColourMatrix::kBt709 ? kMatrixBt709 : kMatrixBt601;
  vui.full_range = space.full_range;
  return vui;
}

ConversionKernel FastestKernel() {
  return ProcessorHasSse2() ? ConversionKernel::kSse2 : ConversionKernel::kPortable;
}

void ConvertToI420(const uint8_t* pixels, const InputLayout& layout, const ColourSpace& space,
                   const I420Planes& out, ConversionKernel kernel) {
  const Coefficients c = CoefficientsFor(space);
  const ptrdiff_t stride = static_cast<ptrdiff_t>(layout.stride_bytes);
  // A bottom-up DIB keeps its top row last in memory.
  const uint8_t* top_row = layout.bottom_up ? pixels + stride * (layout.height - 1) : pixels;
  const ptrdiff_t row_step = layout.bottom_up ? -stride : stride;
  const bool widen = layout.bytes_per_pixel != kBytesPerWorkPixel;
  std::vector<uint8_t> widened(widen ? 2 * static_cast<size_t>(layout.width) * kBytesPerWorkPixel
                                     : 0);
  uint8_t* widened_top = widened.data();
  uint8_t* widened_bottom = widened_top + static_cast<size_t>(layout.width) * kBytesPerWorkPixel;

  for (int row = 0; row < layout.height; row += 2) {
    RowPair rows;
    rows.top = top_row + row_step * row;
    rows.bottom = rows.top + row_step;
    if (widen) {
      WidenRow(rows.top, layout.width, widened_top);
      WidenRow(rows.bottom, layout.width, widened_bottom);
      rows.top = widened_top;
      rows.bottom = widened_bottom;
    }
    rows.y_top = out.y + static_cast<ptrdiff_t>(out.y_stride) * row;
    rows.y_bottom = rows.y_top + out.y_stride;
    rows.u = out.u + static_cast<ptrdiff_t>(out.u_stride) * (row / 2);
    rows.v = out.v + static_cast<ptrdiff_t>(out.v_stride) * (row / 2);
    ConvertRowPair(rows, layout.width, c, kernel);
  }
}

}  // namespace parvelo::codec
