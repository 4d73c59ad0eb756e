// Turning a grabbed surface into a bottom-up 32-bit frame. The capture
// rectangle may reach past what was grabbed (a region partly off the
// screen): those rows and columns are black, and nothing outside the
// grabbed pixels is ever read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// Frames are always 32 bits per pixel: both back-ends deliver 4 bytes per
// pixel (a DirectDraw surface of another depth is converted while copying).
constexpr int32_t kFrameBytesPerPixel = 4;
constexpr int32_t kFrameBitsPerPixel = 32;

struct FrameGeometry {
  int32_t width;
  int32_t height;
  int32_t rowStride;   // bytes of one frame row
  int32_t frameBytes;  // bytes of one frame
};

FrameGeometry GeometryFor(int32_t captureWidth, int32_t captureHeight);

// Pixel layouts the copy understands; anything else is refused by the
// back-end that would deliver it.
enum class SourceFormat {
  kXrgb8888,  // 32-bit, blue in the lowest byte
  kRgb888,    // 24-bit, blue first
  kRgb565,    // 16-bit, 5-6-5
  kXrgb1555,  // 16-bit, 5-5-5
};

// The pixel layout of a surface with this depth and these channel masks.
std::optional<SourceFormat> SourceFormatFor(uint32_t bitsPerPixel, uint32_t redMask,
                                            uint32_t greenMask, uint32_t blueMask);

struct PixelRect {
  int32_t left, top, right, bottom;  // right and bottom exclusive
};

// A locked surface: `valid` is the part of it that holds grabbed pixels,
// in the surface's own coordinates.
struct SourceSurface {
  const uint8_t* base;
  int32_t pitch;
  SourceFormat format;
  PixelRect valid;
};

// The part of `rect` that lies inside `bounds` (empty: right <= left).
PixelRect Intersect(const PixelRect& rect, const PixelRect& bounds);

// Copies the frame whose top-left pixel sits at (left, top) of the surface
// into `frame`, bottom row first (frame row height-1-i holds capture row i).
// Pixels outside source.valid are black.
void CopyFrameBottomUp(uint8_t* frame, const FrameGeometry& geometry, const SourceSurface& source,
                       int32_t left, int32_t top);

// The pointer painted where the surface gives no DC: the part of its
// picture (frame coordinates, top-down) that lies inside the frame is copied
// out to a top-down patch, painted there and copied back.
PixelRect ClipToFrame(const PixelRect& picture, const FrameGeometry& geometry);
enum class PatchCopy { kFrameToPatch, kPatchToFrame };
// `area` lies inside the frame (from ClipToFrame); patch row j holds frame
// row area.top + j from its first byte, rows `patchPitch` bytes apart.
void CopyFramePatch(uint8_t* frame, const FrameGeometry& geometry, const PixelRect& area,
                    uint8_t* patch, int32_t patchPitch, PatchCopy direction);

// True when every byte of the surface's valid part is zero: a grab that
// delivered nothing (a real copy has its alpha or padding bytes set).
bool IsAllZero(const SourceSurface& source);
