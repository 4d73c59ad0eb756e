#include "video/frame_copy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A 32-bit surface whose pixel (x, y) holds 0x00YYXX00 + tag, so every
// copied pixel tells where it came from.
struct Surface {
  int32_t width, height, pitch;
  std::vector<uint8_t> bytes;
  Surface(int32_t w, int32_t h, int32_t padding = 8) : width(w), height(h), pitch(w * 4 + padding) {
    bytes.assign(static_cast<size_t>(pitch) * h, 0xEE);  // padding is never read
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) Set(x, y, Tag(x, y));
    }
  }
  static uint32_t Tag(int32_t x, int32_t y) {
    return 0xFF000000u | static_cast<uint32_t>(y) << 16 | static_cast<uint32_t>(x) << 8 | 0x5A;
  }
  void Set(int32_t x, int32_t y, uint32_t v) { std::memcpy(&bytes[y * pitch + x * 4], &v, 4); }
  SourceSurface Source(PixelRect valid) const {
    return {bytes.data(), pitch, SourceFormat::kXrgb8888, valid};
  }
  SourceSurface Source() const { return Source({0, 0, width, height}); }
};

uint32_t FramePixel(const std::vector<uint8_t>& frame, const FrameGeometry& g, int32_t x,
                    int32_t captureRow) {
  uint32_t v;
  // Bottom-up: capture row i is frame row height-1-i.
  std::memcpy(&v, &frame[(g.height - 1 - captureRow) * g.rowStride + x * 4], 4);
  return v;
}

TEST(GeometryFor, FramesAreAlwaysFourBytesAPixel) {
  FrameGeometry g = GeometryFor(1366, 768);
  EXPECT_EQ(g.rowStride, 1366 * 4);
  EXPECT_EQ(g.frameBytes, 1366 * 768 * 4);
}

TEST(CopyFrameBottomUp, RegionOnAScreenSurfaceAndAtACopySurfaceCorner) {
  // Direct3D: the surface is the whole screen, the region starts at
  // (captureLeft, captureTop) of it.
  Surface screen(64, 48);
  FrameGeometry g = GeometryFor(10, 6);
  std::vector<uint8_t> frame(g.frameBytes);
  CopyFrameBottomUp(frame.data(), g, screen.Source(), 20, 30);
  for (int32_t i = 0; i < 6; ++i) {
    for (int32_t x = 0; x < 10; ++x) {
      ASSERT_EQ(FramePixel(frame, g, x, i), Surface::Tag(20 + x, 30 + i)) << x << "," << i;
    }
  }
  // DirectDraw: the copy surface holds the region at its corner.
  Surface copy(10, 6);
  CopyFrameBottomUp(frame.data(), g, copy.Source(), 0, 0);
  EXPECT_EQ(FramePixel(frame, g, 0, 0), Surface::Tag(0, 0));
  EXPECT_EQ(FramePixel(frame, g, 9, 5), Surface::Tag(9, 5));
  // The first frame row in memory is the bottom capture row.
  uint32_t first;
  std::memcpy(&first, frame.data(), 4);
  EXPECT_EQ(first, Surface::Tag(0, 5));
}

TEST(CopyFrameBottomUp, OutsideTheGrabbedPixelsIsBlackAndNeverRead) {
  struct Case {
    int32_t left, top;
  } cases[] = {{-4, -3}, {60, 44}, {-4, 44}, {60, -3}, {100, 100}, {-20, -20}};
  Surface screen(64, 48);
  FrameGeometry g = GeometryFor(8, 6);
  for (const Case& c : cases) {
    std::vector<uint8_t> frame(g.frameBytes, 0x77);
    // ASan catches any read outside `bytes`.
    CopyFrameBottomUp(frame.data(), g, screen.Source(), c.left, c.top);
    for (int32_t i = 0; i < g.height; ++i) {
      for (int32_t x = 0; x < g.width; ++x) {
        int32_t sx = c.left + x, sy = c.top + i;
        bool inside = sx >= 0 && sx < 64 && sy >= 0 && sy < 48;
        ASSERT_EQ(FramePixel(frame, g, x, i), inside ? Surface::Tag(sx, sy) : 0u)
            << c.left << "," << c.top << " at " << x << "," << i;
      }
    }
  }
}

TEST(CopyFrameBottomUp, OnlyTheValidPartOfACopySurfaceIsUsed) {
  // A region hanging off the screen's left edge: DirectDraw blits only the
  // visible part, to columns 3.. of the copy surface.
  Surface copy(8, 4);
  FrameGeometry g = GeometryFor(8, 4);
  std::vector<uint8_t> frame(g.frameBytes, 0x77);
  CopyFrameBottomUp(frame.data(), g, copy.Source({3, 1, 8, 4}), 0, 0);
  EXPECT_EQ(FramePixel(frame, g, 2, 2), 0u);
  EXPECT_EQ(FramePixel(frame, g, 3, 2), Surface::Tag(3, 2));
  EXPECT_EQ(FramePixel(frame, g, 5, 0), 0u);
}

TEST(CopyFrameBottomUp, ConvertsOtherDisplayDepthsToThirtyTwoBits) {
  FrameGeometry g = GeometryFor(2, 1);
  std::vector<uint8_t> frame(g.frameBytes);
  struct Case {
    SourceFormat format;
    std::vector<uint8_t> pixels;  // two pixels: pure red, then a mixed colour
    uint32_t first, second;
  } cases[] = {
      {SourceFormat::kRgb888, {0x00, 0x00, 0xFF, 0x30, 0x20, 0x10}, 0x00FF0000, 0x00102030},
      {SourceFormat::kRgb565, {0x00, 0xF8, 0xFF, 0x07}, 0x00FF0000, 0x0000FFFF},
      {SourceFormat::kXrgb1555, {0x00, 0x7C, 0x1F, 0x00}, 0x00FF0000, 0x000000FF},
  };
  for (const Case& c : cases) {
    SourceSurface s = {
        c.pixels.data(), static_cast<int32_t>(c.pixels.size()), c.format, {0, 0, 2, 1}};
    CopyFrameBottomUp(frame.data(), g, s, 0, 0);
    uint32_t a, b;
    std::memcpy(&a, frame.data(), 4);
    std::memcpy(&b, frame.data() + 4, 4);
    EXPECT_EQ(a, c.first) << static_cast<int>(c.format);
    EXPECT_EQ(b, c.second) << static_cast<int>(c.format);
  }
}

TEST(PointerPatch, ClipsAtEveryFrameEdgeAndPaintsOnlyInsideTheFrame) {
  // A 10 x 6 frame; a 4 x 3 pointer picture with its top-left at (x, y).
  FrameGeometry g = GeometryFor(10, 6);
  struct Case {
    int32_t x, y;
    PixelRect area;
  } cases[] = {
      {3, 2, {3, 2, 7, 5}},     // inside
      {-2, 1, {0, 1, 2, 4}},    // over the left edge
      {8, 0, {8, 0, 10, 3}},    // over the right edge
      {4, -2, {4, 0, 8, 1}},    // over the top edge
      {5, 4, {5, 4, 9, 6}},     // over the bottom edge
      {-3, 5, {0, 5, 1, 6}},    // over the bottom-left corner
      {10, 2, {10, 2, 10, 5}},  // just right of the frame: nothing
      {-4, -3, {0, 0, 0, 0}},   // just above-left of the frame: nothing
  };
  for (const Case& c : cases) {
    PixelRect area = ClipToFrame({c.x, c.y, c.x + 4, c.y + 3}, g);
    const bool empty = area.left >= area.right || area.top >= area.bottom;
    const bool expectEmpty = c.area.left >= c.area.right || c.area.top >= c.area.bottom;
    ASSERT_EQ(empty, expectEmpty) << c.x << "," << c.y;
    if (empty) continue;
    EXPECT_EQ(area.left, c.area.left) << c.x << "," << c.y;
    EXPECT_EQ(area.top, c.area.top) << c.x << "," << c.y;
    EXPECT_EQ(area.right, c.area.right) << c.x << "," << c.y;
    EXPECT_EQ(area.bottom, c.area.bottom) << c.x << "," << c.y;

    // The frame holds the screen's pixels bottom-up; out to a patch with
    // wider rows, paint every patch pixel, back in.
    Surface screen(10, 6);
    std::vector<uint8_t> frame(g.frameBytes);
    CopyFrameBottomUp(frame.data(), g, screen.Source(), 0, 0);
    constexpr int32_t kPatchPitch = 4 * 4 + 8;
    std::vector<uint8_t> patch(kPatchPitch * 3, 0xEE);
    CopyFramePatch(frame.data(), g, area, patch.data(), kPatchPitch, PatchCopy::kFrameToPatch);
    uint32_t corner;
    std::memcpy(&corner, patch.data(), 4);
    EXPECT_EQ(corner, Surface::Tag(area.left, area.top)) << c.x << "," << c.y;
    constexpr uint32_t kPainted = 0x00ABCDEF;
    for (int32_t j = 0; j < area.bottom - area.top; ++j) {
      for (int32_t i = 0; i < area.right - area.left; ++i) {
        std::memcpy(&patch[j * kPatchPitch + i * 4], &kPainted, 4);
      }
    }
    CopyFramePatch(frame.data(), g, area, patch.data(), kPatchPitch, PatchCopy::kPatchToFrame);
    for (int32_t y = 0; y < g.height; ++y) {
      for (int32_t x = 0; x < g.width; ++x) {
        bool inside = x >= c.area.left && x < c.area.right && y >= c.area.top && y < c.area.bottom;
        ASSERT_EQ(FramePixel(frame, g, x, y), inside ? kPainted : Surface::Tag(x, y))
            << c.x << "," << c.y << " at " << x << "," << y;
      }
    }
  }
}

TEST(SourceFormatFor, AcceptsTheKnownLayoutsOnly) {
  EXPECT_EQ(SourceFormatFor(32, 0xFF0000, 0xFF00, 0xFF), SourceFormat::kXrgb8888);
  EXPECT_EQ(SourceFormatFor(24, 0xFF0000, 0xFF00, 0xFF), SourceFormat::kRgb888);
  EXPECT_EQ(SourceFormatFor(16, 0xF800, 0x07E0, 0x001F), SourceFormat::kRgb565);
  EXPECT_EQ(SourceFormatFor(16, 0x7C00, 0x03E0, 0x001F), SourceFormat::kXrgb1555);
  EXPECT_FALSE(SourceFormatFor(32, 0xFF, 0xFF00, 0xFF0000));  // BGR order
  EXPECT_FALSE(SourceFormatFor(8, 0, 0, 0));                  // palettised
}

TEST(IsAllZero, LooksAtEveryByteOfTheValidPart) {
  std::vector<uint8_t> bytes(4 * 4 * 3, 0);
  SourceSurface s = {bytes.data(), 16, SourceFormat::kXrgb8888, {0, 0, 4, 3}};
  EXPECT_TRUE(IsAllZero(s));
  bytes[2 * 16 + 3 * 4 + 3] = 0xFF;  // the alpha byte of the last pixel
  EXPECT_FALSE(IsAllZero(s));
  s.valid = {0, 0, 4, 2};
  EXPECT_TRUE(IsAllZero(s));
}

}  // namespace
