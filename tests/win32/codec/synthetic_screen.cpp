// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers. GPL-2.0-or-later; see LICENSE.

#include "synthetic_screen.h"

#include <cstddef>

namespace synthetic_screen {
namespace {

struct Rgb {
  uint8_t r, g, b;
};

constexpr Rgb kBars[] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                         {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
constexpr Rgb kPaper = {255, 255, 255};
constexpr Rgb kInk = {0, 0, 0};
constexpr Rgb kPanel = {0, 90, 160};
constexpr Rgb kBox = {255, 128, 0};
constexpr int kBandCount = 4;  // bars, two bands of text, panel
constexpr int kGlyphCellWidth = 8;
constexpr int kGlyphCellHeight = 12;
constexpr int kGlyphColumns = 5;
constexpr int kGlyphRows = 7;
constexpr int kScrollStepPixels = 2;
constexpr int kPanelRampTop = 200;
constexpr int kBoxStepPixels = 8;
constexpr int kBoxFraction = 8;  // the box is 1/8 of the picture's width and height
constexpr int kBytesPerRgbPixel = 3;
constexpr int kDibRowAlignmentBytes = 4;
constexpr int kBitsPerByte = 8;

int EvenDown(int value) {
  return value & ~1;
}

// A fixed pseudo-random stroke pattern per glyph cell.
bool GlyphInk(int cell, int column, int row) {
  uint32_t hash = static_cast<uint32_t>(cell) * 2654435761u;
  hash ^= hash >> 13;
  uint32_t bit = static_cast<uint32_t>(row * kGlyphColumns + column) % 31;
  bool stroke = (hash >> bit) & 1;
  // Keep a frame of a vertical stem so every glyph has edges like letters do.
  return stroke || column == 0;
}

// A page of glyphs scrolling up, the hardest common case of screen recording: the whole band
// moves every frame.
Rgb TextPixel(int x, int y, int band_top, int width, int frame) {
  int columns = width / kGlyphCellWidth;
  int page_y = y - band_top + frame * kScrollStepPixels;
  int cell = (page_y / kGlyphCellHeight) * columns + x / kGlyphCellWidth;
  int gx = x % kGlyphCellWidth - 1;
  int gy = page_y % kGlyphCellHeight - 2;
  if (gx < 0 || gx >= kGlyphColumns || gy < 0 || gy >= kGlyphRows) return kPaper;
  return GlyphInk(cell, gx, gy) ? kInk : kPaper;
}

// A wallpaper-like ramp: red grows to the right, in steps of two pixels.
Rgb PanelPixel(int x, int width) {
  return {static_cast<uint8_t>(EvenDown(x) * kPanelRampTop / width), kPanel.g, kPanel.b};
}

}  // namespace

std::vector<uint8_t> PaintRgb(int width, int height, int frame) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * kBytesPerRgbPixel);
  int band = EvenDown(height / kBandCount);
  int bar_width = EvenDown(width / static_cast<int>(std::size(kBars)));
  int box_width = EvenDown(width / kBoxFraction);
  int box_height = EvenDown(height / kBoxFraction);
  int box_travel = width - box_width;
  int box_x = EvenDown((frame * kBoxStepPixels) % (box_travel > 0 ? box_travel : 1));
  int panel_top = band * (kBandCount - 1);
  int box_y = EvenDown(panel_top + (height - panel_top - box_height) / 2);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgb c;
      if (y < band) {
        int bar = bar_width > 0 ? x / bar_width : 0;
        c = kBars[bar < static_cast<int>(std::size(kBars)) ? bar : std::size(kBars) - 1];
      } else if (y < panel_top) {
        c = TextPixel(x, y, band, width, frame);
      } else {
        bool in_box = x >= box_x && x < box_x + box_width && y >= box_y && y < box_y + box_height;
        c = in_box ? kBox : PanelPixel(x, width);
      }
      uint8_t* p = rgb.data() + (static_cast<size_t>(y) * width + x) * kBytesPerRgbPixel;
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
    }
  }
  return rgb;
}

std::vector<uint8_t> ToDib(const std::vector<uint8_t>& rgb, int width, int height, int bits,
                           bool top_down) {
  int bytes_per_pixel = bits / kBitsPerByte;
  size_t stride = (static_cast<size_t>(width) * bytes_per_pixel + kDibRowAlignmentBytes - 1) /
                  kDibRowAlignmentBytes * kDibRowAlignmentBytes;
  std::vector<uint8_t> dib(stride * height, 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = dib.data() + stride * (top_down ? y : height - 1 - y);
    const uint8_t* src = rgb.data() + static_cast<size_t>(y) * width * kBytesPerRgbPixel;
    for (int x = 0; x < width; ++x) {
      row[x * bytes_per_pixel + 0] = src[x * kBytesPerRgbPixel + 2];
      row[x * bytes_per_pixel + 1] = src[x * kBytesPerRgbPixel + 1];
      row[x * bytes_per_pixel + 2] = src[x * kBytesPerRgbPixel + 0];
    }
  }
  return dib;
}

}  // namespace synthetic_screen
