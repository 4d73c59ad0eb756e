// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

// BGR / BGRA device-independent bitmaps to planar 4:2:0 YCbCr (I420).
//
// Integer arithmetic with 15 fractional bits; chroma is computed from the sum of each 2x2
// block, so the SSE2 path and the portable path give identical bytes.
#pragma once

#include <cstdint>

#include "codec/codec_state.h"
#include "codec/input_format.h"

namespace parvelo::codec {

enum class ColourMatrix { kBt601, kBt709 };

struct ColourSpace {
  ColourMatrix matrix = ColourMatrix::kBt601;
  bool full_range = false;
};

// BT.709 from 1280 wide or 720 tall up: what players assume for HD pictures that carry no
// colour description, so the choice also holds for players that ignore the one we write.
ColourMatrix ResolveColourMatrix(ColourMatrixChoice choice, int width, int height);

// The H.264 colour description (video usable information) for pictures converted with `space`.
struct VuiColour {
  int primaries = 0;
  int transfer = 0;
  int matrix = 0;
  bool full_range = false;
};
VuiColour VuiColourFor(const ColourSpace& space);

struct I420Planes {
  uint8_t* y = nullptr;
  uint8_t* u = nullptr;
  uint8_t* v = nullptr;
  int y_stride = 0;
  int u_stride = 0;
  int v_stride = 0;
};

enum class ConversionKernel { kPortable, kSse2 };

// kSse2 where the processor has it (every x86-64, most i686), else kPortable.
ConversionKernel FastestKernel();

// `pixels` is the DIB as the caller hands it: rows bottom-up or top-down as `layout` says,
// blue-green-red(-unused) bytes. The picture comes out top row first.
void ConvertToI420(const uint8_t* pixels, const InputLayout& layout, const ColourSpace& space,
                   const I420Planes& out, ConversionKernel kernel);

}  // namespace parvelo::codec
