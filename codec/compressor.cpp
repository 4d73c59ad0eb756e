// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

#include "codec/compressor.h"

#include <cstring>
#include <cwchar>

#include "codec/quality_map.h"

namespace parvelo::codec {
namespace {

constexpr DWORD kHandlerFourCc = mmioFOURCC('X', '2', '6', '4');
constexpr DWORD kDriverVersion = 0x00010000;  // 1.0
// Quality and temporal compression without the previous frame (FASTTEMPORALC): with TEMPORAL
// alone Wine's compressed stream insists on decompressing every frame to hand it back, and
// without COMPRESSFRAMES it never sends the frame rate and key rate.
constexpr DWORD kCapabilities =
    VIDCF_QUALITY | VIDCF_TEMPORAL | VIDCF_COMPRESSFRAMES | VIDCF_FASTTEMPORALC;
constexpr wchar_t kShortName[] = L"x264vfw";
constexpr wchar_t kDescription[] = L"Parvelo H.264 (libx264)";

bool ReadHeader(const BITMAPINFO* bitmap, BitmapHeader* header) {
  if (bitmap == nullptr) return false;
  const BITMAPINFOHEADER& in = bitmap->bmiHeader;
  header->header_bytes = in.biSize;
  header->width = in.biWidth;
  header->height = in.biHeight;
  header->planes = in.biPlanes;
  header->bit_count = in.biBitCount;
  header->compression = in.biCompression;
  header->image_bytes = in.biSizeImage;
  return true;
}

bool AcceptInput(const BITMAPINFO* bitmap, InputLayout* layout) {
  BitmapHeader header;
  return ReadHeader(bitmap, &header) &&
         CheckInputFormat(header, layout) == FormatVerdict::kAccepted;
}

bool SameLayout(const InputLayout& a, const InputLayout& b) {
  return a.width == b.width && a.height == b.height && a.bytes_per_pixel == b.bytes_per_pixel &&
         a.bottom_up == b.bottom_up;
}

LRESULT ErrorFor(EncodeStatus status) {
  switch (status) {
    case EncodeStatus::kOk:
      return ICERR_OK;
    case EncodeStatus::kNoMemory:
      return ICERR_MEMORY;
    case EncodeStatus::kOutputTooLarge:
      return ICERR_BADSIZE;
    case EncodeStatus::kOpenFailed:
    case EncodeStatus::kEncodeFailed:
      break;
  }
  return ICERR_INTERNAL;
}

bool SizeAtLeast(LPARAM size, size_t needed) {
  return size >= 0 && static_cast<size_t>(size) >= needed;
}

}  // namespace

LRESULT Compressor::GetInfo(ICINFO* info, LPARAM size) {
  if (info == nullptr || !SizeAtLeast(size, sizeof(ICINFO))) return 0;
  std::memset(info, 0, sizeof(ICINFO));
  info->dwSize = sizeof(ICINFO);
  info->fccType = ICTYPE_VIDEO;
  info->fccHandler = kHandlerFourCc;
  info->dwFlags = kCapabilities;
  info->dwVersion = kDriverVersion;
  info->dwVersionICM = ICVERSION;
  std::wcsncpy(info->szName, kShortName, std::size(info->szName) - 1);
  std::wcsncpy(info->szDescription, kDescription, std::size(info->szDescription) - 1);
  return sizeof(ICINFO);
}

LRESULT Compressor::GetState(void* block, LPARAM size) const {
  if (block == nullptr) return kStateSizeBytes;
  if (!SizeAtLeast(size, kStateSizeBytes)) return ICERR_BADSIZE;
  StateBlock state = SerializeState(config_);
  std::memcpy(block, state.data(), state.size());
  return ICERR_OK;
}

LRESULT Compressor::SetState(const void* block, LPARAM size) {
  if (block == nullptr) {
    config_ = CodecConfig();
    return 0;
  }
  CodecConfig config;
  if (size < 0 || ParseState(static_cast<const uint8_t*>(block), static_cast<size_t>(size),
                             &config) != StateVerdict::kAccepted) {
    return 0;
  }
  if (!X264AcceptsOptions(kPresetNames[config.preset], config.extra_options)) return 0;
  config_ = config;
  return kStateSizeBytes;
}

LRESULT Compressor::GetDefaultQuality(DWORD* quality) const {
  if (quality == nullptr) return ICERR_BADPARAM;
  *quality = config_.default_quality;
  return ICERR_OK;
}

LRESULT Compressor::GetQuality(DWORD* quality) const {
  if (quality == nullptr) return ICERR_BADPARAM;
  *quality = ResolveQuality(quality_, config_.default_quality);
  return ICERR_OK;
}

LRESULT Compressor::SetQuality(LPARAM quality) {
  DWORD value = static_cast<DWORD>(quality);
  if (value != kQualityDefault && value > kQualityMax) return ICERR_BADPARAM;
  quality_ = value;
  return ICERR_OK;
}

LRESULT Compressor::GetDefaultKeyFrameRate(DWORD* frames) const {
  if (frames == nullptr) return ICERR_BADPARAM;
  *frames = config_.key_frame_interval_frames;
  return ICERR_OK;
}

LRESULT Compressor::Query(const BITMAPINFO* input, const BITMAPINFO* output) const {
  InputLayout layout;
  if (!AcceptInput(input, &layout)) return ICERR_BADFORMAT;
  BitmapHeader out;
  if (ReadHeader(output, &out) && !IsOutputFormatFor(layout, out)) return ICERR_BADFORMAT;
  return ICERR_OK;
}

LRESULT Compressor::GetFormat(const BITMAPINFO* input, BITMAPINFO* output) const {
  InputLayout layout;
  if (!AcceptInput(input, &layout)) return ICERR_BADFORMAT;
  if (output == nullptr) return sizeof(BITMAPINFOHEADER);
  BitmapHeader header = OutputFormatFor(layout);
  BITMAPINFOHEADER& out = output->bmiHeader;
  std::memset(&out, 0, sizeof(out));
  out.biSize = header.header_bytes;
  out.biWidth = header.width;
  out.biHeight = header.height;
  out.biPlanes = header.planes;
  out.biBitCount = header.bit_count;
  out.biCompression = header.compression;
  out.biSizeImage = header.image_bytes;
  return ICERR_OK;
}

LRESULT Compressor::GetSize(const BITMAPINFO* input, const BITMAPINFO* /*output*/) const {
  InputLayout layout;
  if (!AcceptInput(input, &layout)) return ICERR_BADFORMAT;
  return static_cast<LRESULT>(WorstCaseFrameBytes(layout));
}

LRESULT Compressor::FramesInfo(const ICCOMPRESSFRAMES* info, LPARAM size) {
  if (info == nullptr) return ICERR_BADPARAM;
  if (!SizeAtLeast(size, sizeof(ICCOMPRESSFRAMES))) return ICERR_BADSIZE;
  hints_.rate = info->dwRate;
  hints_.scale = info->dwScale;
  hints_.key_rate = info->lKeyRate > 0 ? static_cast<uint32_t>(info->lKeyRate) : 0;
  bool quality_given = info->lQuality >= 0 && static_cast<DWORD>(info->lQuality) <= kQualityMax;
  quality_ = quality_given ? static_cast<DWORD>(info->lQuality) : ICQUALITY_DEFAULT;
  return ICERR_OK;
}

LRESULT Compressor::Begin(const BITMAPINFO* input, const BITMAPINFO* output) {
  InputLayout layout;
  BitmapHeader out;
  if (!AcceptInput(input, &layout) || !ReadHeader(output, &out) ||
      !IsOutputFormatFor(layout, out)) {
    return ICERR_BADFORMAT;
  }
  // A second begin without an end restarts the run (AVIFile does end + begin on a format
  // change, but other callers skip the end).
  session_.reset();
  EncoderSettings settings =
      PlanEncoder(config_, layout, hints_, ResolveQuality(quality_, config_.default_quality));
  EncodeStatus status =
      X264Session::Open(settings, layout, config_.write_log, config_.log_path, &session_);
  if (status != EncodeStatus::kOk) return ErrorFor(status);
  layout_ = layout;
  return ICERR_OK;
}

LRESULT Compressor::Compress(ICCOMPRESS* request, LPARAM size) {
  if (request == nullptr) return ICERR_BADPARAM;
  if (!SizeAtLeast(size, sizeof(ICCOMPRESS))) return ICERR_BADSIZE;
  if (!session_) return ICERR_ERROR;
  if (request->lpbiInput == nullptr || request->lpInput == nullptr ||
      request->lpbiOutput == nullptr || request->lpOutput == nullptr) {
    return ICERR_BADPARAM;
  }
  BitmapHeader header;
  ReadHeader(reinterpret_cast<const BITMAPINFO*>(request->lpbiInput), &header);
  InputLayout layout;
  FormatVerdict verdict = CheckInputFormat(header, &layout);
  if (verdict == FormatVerdict::kShortImage) return ICERR_BADSIZE;
  if (verdict != FormatVerdict::kAccepted || !SameLayout(layout, layout_)) {
    return ICERR_BADFORMAT;
  }

  DWORD quality =
      ResolveQuality(request->dwQuality, ResolveQuality(quality_, config_.default_quality));
  EncodedFrame frame;
  EncodeStatus status = session_->Encode(
      static_cast<const uint8_t*>(request->lpInput), request->lFrameNum,
      (request->dwFlags & ICCOMPRESS_KEYFRAME) != 0, CrfForQuality(quality),
      static_cast<uint8_t*>(request->lpOutput), WorstCaseFrameBytes(layout_), &frame);
  if (status != EncodeStatus::kOk) return ErrorFor(status);
  request->lpbiOutput->biSizeImage = static_cast<DWORD>(frame.bytes);
  if (request->lpdwFlags != nullptr) *request->lpdwFlags = frame.key ? AVIIF_KEYFRAME : 0;
  if (request->lpckid != nullptr) *request->lpckid = cktypeDIBcompressed;
  return ICERR_OK;
}

LRESULT Compressor::End() {
  session_.reset();
  return ICERR_OK;
}

}  // namespace parvelo::codec
