// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

// One open instance of the compressor (one DRV_OPEN): its configuration, what the caller told
// it about the coming frames, and the compression run between ICM_COMPRESS_BEGIN and
// ICM_COMPRESS_END. Every method answers a Video Compression Manager message with that
// message's own return convention.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <memory>

#include "codec/codec_state.h"
#include "codec/encoder_settings.h"
#include "codec/input_format.h"
#include "codec/x264_session.h"

namespace parvelo::codec {

class Compressor {
 public:
  // ICM_GETINFO needs no instance: dwDriverId is 0 on one of Wine's calls.
  static LRESULT GetInfo(ICINFO* info, LPARAM size);

  LRESULT GetState(void* block, LPARAM size) const;
  LRESULT SetState(const void* block, LPARAM size);
  LRESULT GetDefaultQuality(DWORD* quality) const;
  LRESULT GetQuality(DWORD* quality) const;
  LRESULT SetQuality(LPARAM quality);
  LRESULT GetDefaultKeyFrameRate(DWORD* frames) const;

  LRESULT Query(const BITMAPINFO* input, const BITMAPINFO* output) const;
  LRESULT GetFormat(const BITMAPINFO* input, BITMAPINFO* output) const;
  LRESULT GetSize(const BITMAPINFO* input, const BITMAPINFO* output) const;
  LRESULT FramesInfo(const ICCOMPRESSFRAMES* info, LPARAM size);
  LRESULT Begin(const BITMAPINFO* input, const BITMAPINFO* output);
  LRESULT Compress(ICCOMPRESS* request, LPARAM size);
  LRESULT End();

 private:
  CodecConfig config_;
  DWORD quality_ = ICQUALITY_DEFAULT;  // ICM_SETQUALITY / FRAMES_INFO; default: config's
  CallerHints hints_;
  InputLayout layout_;
  std::unique_ptr<X264Session> session_;
};

}  // namespace parvelo::codec
