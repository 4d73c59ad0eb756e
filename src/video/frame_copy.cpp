#include "video/frame_copy.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kOpaqueBlack = 0x00000000;

// Channel masks of the layouts the copy converts.
constexpr uint32_t kMask888Red = 0x00FF0000, kMask888Green = 0x0000FF00, kMask888Blue = 0x000000FF;
constexpr uint32_t kMask565Red = 0xF800, kMask565Green = 0x07E0, kMask565Blue = 0x001F;
constexpr uint32_t kMask555Red = 0x7C00, kMask555Green = 0x03E0, kMask555Blue = 0x001F;

// Widens a 5- or 6-bit channel to 8 bits, filling the low bits from the
// high ones so full scale stays full scale.
uint32_t Widen5(uint32_t v) {
  return (v << 3) | (v >> 2);
}
uint32_t Widen6(uint32_t v) {
  return (v << 2) | (v >> 4);
}

uint32_t ReadPixel(const uint8_t* p, SourceFormat format) {
  switch (format) {
    case SourceFormat::kXrgb8888: {
      uint32_t v;
      std::memcpy(&v, p, sizeof v);
      return v;
    }
    case SourceFormat::kRgb888:
      return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
    case SourceFormat::kRgb565: {
      uint32_t v = p[0] | (uint32_t{p[1]} << 8);
      return Widen5(v & kMask565Blue) | (Widen6((v & kMask565Green) >> 5) << 8) |
             (Widen5((v & kMask565Red) >> 11) << 16);
    }
    case SourceFormat::kXrgb1555: {
      uint32_t v = p[0] | (uint32_t{p[1]} << 8);
      return Widen5(v & kMask555Blue) | (Widen5((v & kMask555Green) >> 5) << 8) |
             (Widen5((v & kMask555Red) >> 10) << 16);
    }
  }
  return kOpaqueBlack;
}

int32_t BytesPerPixel(SourceFormat format) {
  switch (format) {
    case SourceFormat::kXrgb8888:
      return 4;
    case SourceFormat::kRgb888:
      return 3;
    case SourceFormat::kRgb565:
    case SourceFormat::kXrgb1555:
      return 2;
  }
  return 4;
}

}  // namespace

FrameGeometry GeometryFor(int32_t captureWidth, int32_t captureHeight) {
  int32_t stride = captureWidth * kFrameBytesPerPixel;
  return {captureWidth, captureHeight, stride, stride * captureHeight};
}

std::optional<SourceFormat> SourceFormatFor(uint32_t bitsPerPixel, uint32_t redMask,
                                            uint32_t greenMask, uint32_t blueMask) {
  auto masks = [&](uint32_t r, uint32_t g, uint32_t b) {
    return redMask == r && greenMask == g && blueMask == b;
  };
  if (bitsPerPixel == 32 && masks(kMask888Red, kMask888Green, kMask888Blue)) {
    return SourceFormat::kXrgb8888;
  }
  if (bitsPerPixel == 24 && masks(kMask888Red, kMask888Green, kMask888Blue)) {
    return SourceFormat::kRgb888;
  }
  if (bitsPerPixel == 16 && masks(kMask565Red, kMask565Green, kMask565Blue)) {
    return SourceFormat::kRgb565;
  }
  if (bitsPerPixel == 16 && masks(kMask555Red, kMask555Green, kMask555Blue)) {
    return SourceFormat::kXrgb1555;
  }
  return std::nullopt;
}

PixelRect Intersect(const PixelRect& rect, const PixelRect& bounds) {
  return {std::max(rect.left, bounds.left), std::max(rect.top, bounds.top),
          std::min(rect.right, bounds.right), std::min(rect.bottom, bounds.bottom)};
}

void CopyFrameBottomUp(uint8_t* frame, const FrameGeometry& geometry, const SourceSurface& source,
                       int32_t left, int32_t top) {
  const PixelRect wanted = {left, top, left + geometry.width, top + geometry.height};
  const PixelRect inside = Intersect(wanted, source.valid);
  const int32_t sourceBytes = BytesPerPixel(source.format);
  for (int32_t i = 0; i < geometry.height; ++i) {
    uint8_t* row = frame + static_cast<size_t>(geometry.height - 1 - i) * geometry.rowStride;
    const int32_t y = top + i;
    if (y < inside.top || y >= inside.bottom || inside.left >= inside.right) {
      std::memset(row, 0, static_cast<size_t>(geometry.rowStride));
      continue;
    }
    const int32_t firstX = inside.left - left;  // frame columns before this are black
    const int32_t count = inside.right - inside.left;
    std::memset(row, 0, static_cast<size_t>(firstX) * kFrameBytesPerPixel);
    const uint8_t* from = source.base + static_cast<ptrdiff_t>(y) * source.pitch +
                          static_cast<ptrdiff_t>(inside.left) * sourceBytes;
    uint8_t* to = row + static_cast<size_t>(firstX) * kFrameBytesPerPixel;
    if (source.format == SourceFormat::kXrgb8888) {
      std::memcpy(to, from, static_cast<size_t>(count) * kFrameBytesPerPixel);
    } else {
      for (int32_t x = 0; x < count; ++x) {
        uint32_t pixel = ReadPixel(from + x * sourceBytes, source.format);
        std::memcpy(to + x * kFrameBytesPerPixel, &pixel, sizeof pixel);
      }
    }
    const int32_t after = geometry.width - firstX - count;
    std::memset(to + static_cast<size_t>(count) * kFrameBytesPerPixel, 0,
                static_cast<size_t>(after) * kFrameBytesPerPixel);
  }
}

PixelRect ClipToFrame(const PixelRect& picture, const FrameGeometry& geometry) {
  return Intersect(picture, {0, 0, geometry.width, geometry.height});
}

void CopyFramePatch(uint8_t* frame, const FrameGeometry& geometry, const PixelRect& area,
                    uint8_t* patch, int32_t patchPitch, PatchCopy direction) {
  const size_t rowBytes = static_cast<size_t>(area.right - area.left) * kFrameBytesPerPixel;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    uint8_t* inFrame = frame + static_cast<size_t>(geometry.height - 1 - y) * geometry.rowStride +
                       static_cast<size_t>(area.left) * kFrameBytesPerPixel;
    uint8_t* inPatch = patch + static_cast<ptrdiff_t>(y - area.top) * patchPitch;
    if (direction == PatchCopy::kFrameToPatch) {
      std::memcpy(inPatch, inFrame, rowBytes);
    } else {
      std::memcpy(inFrame, inPatch, rowBytes);
    }
  }
}

bool IsAllZero(const SourceSurface& source) {
  const int32_t rowBytes = (source.valid.right - source.valid.left) * BytesPerPixel(source.format);
  for (int32_t y = source.valid.top; y < source.valid.bottom; ++y) {
    const uint8_t* row = source.base + static_cast<ptrdiff_t>(y) * source.pitch +
                         static_cast<ptrdiff_t>(source.valid.left) * BytesPerPixel(source.format);
    for (int32_t b = 0; b < rowBytes; ++b) {
      if (row[b] != 0) return false;
    }
  }
  return true;
}
