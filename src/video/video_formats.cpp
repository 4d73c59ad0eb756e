#include "video/video_formats.h"

#include "video/frame_copy.h"

namespace {
constexpr uint32_t kBitmapInfoHeaderBytes = 40;
constexpr uint32_t kBiRgb = 0;
// AVISTREAMINFO_FORMATCHANGES
constexpr uint32_t kStreamFormatChanges = 0x10000;
}  // namespace

uint32_t HandlerFromText(const char* text) {
  return MakeFourCC(text[0], text[1], text[2], text[3]);
}

RawFrameFormat MakeRawFrameFormat(int32_t width, int32_t height) {
  RawFrameFormat format = {};
  format.biSize = kBitmapInfoHeaderBytes;
  format.biWidth = width;
  format.biHeight = height;
  format.biPlanes = 1;
  format.biBitCount = kFrameBitsPerPixel;
  format.biCompression = kBiRgb;
  format.biSizeImage = static_cast<uint32_t>(GeometryFor(width, height).frameBytes);
  return format;
}

AviStreamInfo MakeVideoStreamInfo(uint32_t handler, int32_t width, int32_t height,
                                  int32_t framesPerSecond, int32_t frameBytes) {
  AviStreamInfo info = {};
  info.fccType = kAviStreamTypeVideo;
  info.fccHandler = handler;
  info.dwFlags = kStreamFormatChanges;
  info.dwScale = 1;
  info.dwRate = static_cast<uint32_t>(framesPerSecond);
  info.dwSuggestedBufferSize = static_cast<uint32_t>(frameBytes);
  info.rcFrame = {0, 0, width, height};
  return info;
}
