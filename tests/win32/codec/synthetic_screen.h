// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

// Screen-like test pictures: colour bars across the top, a page of text-like glyphs scrolling
// in the middle, a box moving over a colour ramp at the bottom. Colour edges lie on
// even pixels so 4:2:0 chroma does not blur them; the glyphs are black on white.
#pragma once

#include <cstdint>
#include <vector>

namespace synthetic_screen {

// Top-down rows of red, green, blue bytes.
std::vector<uint8_t> PaintRgb(int width, int height, int frame);

// The same picture as a DIB: blue-green-red(-unused), rows padded to 4 bytes, bottom-up
// unless `top_down`.
std::vector<uint8_t> ToDib(const std::vector<uint8_t>& rgb, int width, int height, int bits,
                           bool top_down);

}  // namespace synthetic_screen
