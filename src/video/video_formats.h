// The video stream's headers: the uncompressed frames' format and the
// stream header, for a capture size and frame rate.
#pragma once

#include <cstdint>

#include "avi/avi_writer.h"

// The same 40 bytes as a BITMAPINFOHEADER.
struct RawFrameFormat {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // positive: rows bottom-up
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(RawFrameFormat) == 40, "BITMAPINFOHEADER layout");

// The compressor's handler code: "X264" with 'X' in the lowest byte.
constexpr uint32_t kCodecHandler = MakeFourCC('X', '2', '6', '4');

// The handler code from the first four characters of a configured text.
uint32_t HandlerFromText(const char* text);

RawFrameFormat MakeRawFrameFormat(int32_t width, int32_t height);

AviStreamInfo MakeVideoStreamInfo(uint32_t handler, int32_t width, int32_t height,
                                  int32_t framesPerSecond, int32_t frameBytes);
