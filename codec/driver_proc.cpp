// x264vfw - H.264 Video-for-Windows compressor built on libx264.
// Copyright (C) Parvelo developers.
//
// This program is free software; you can redistribute it and/or modify it under the terms of
// the GNU General Public License as published by the Free Software Foundation; either version 2
// of the License, or (at your option) any later version. It is distributed WITHOUT ANY
// WARRANTY; see the GNU General Public License (LICENSE in the source tree) for details.

// The installable-driver entry point. Every DRV_OPEN makes an independent Compressor whose
// address is the driver id; messages are answered only for ids of instances that are open
// now, because the id that arrives with other messages cannot be trusted: under Wine it is
// garbage on DRV_LOAD, DRV_ENABLE and DRV_OPEN, a freed pointer on DRV_DISABLE and DRV_FREE
// after DRV_CLOSE, and 0 on one ICM_GETINFO. Nothing may escape into the caller as a C++
// exception, so the entry point turns every one into an error code.
#include <windows.h>
#include <vfw.h>

#include <memory>
#include <mutex>
#include <new>
#include <set>

#include "codec/compressor.h"

namespace {

using parvelo::codec::Compressor;

constexpr LRESULT kDriverOk = 1;
constexpr LRESULT kDriverFailed = 0;
// Letters in a four-character code become lower case when this bit is set in each byte.
constexpr DWORD kFourCcLowerCaseBits = 0x20202020;

class InstanceRegistry {
 public:
  LRESULT Open() {
    auto compressor = std::make_unique<Compressor>();
    std::lock_guard<std::mutex> lock(mutex_);
    open_.insert(compressor.get());
    return reinterpret_cast<LRESULT>(compressor.release());
  }

  bool Close(DWORD_PTR id) {
    std::unique_ptr<Compressor> closing;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto found = open_.find(reinterpret_cast<Compressor*>(id));
      if (found == open_.end()) return false;
      closing.reset(*found);
      open_.erase(found);
    }
    return true;
  }

  // Two threads never use one instance at once (a Video for Windows rule), so the instance
  // itself needs no lock: only the set of open instances does.
  Compressor* Find(DWORD_PTR id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = open_.find(reinterpret_cast<Compressor*>(id));
    return found == open_.end() ? nullptr : *found;
  }

 private:
  std::mutex mutex_;
  std::set<Compressor*> open_;
};

InstanceRegistry& Instances() {
  static InstanceRegistry registry;
  return registry;
}

bool OpensForCompression(const ICOPEN* open) {
  // Opened without ICOPEN (a plain OpenDriver, e.g. to configure): serve it like a query.
  if (open == nullptr) return true;
  bool video = (open->fccType | kFourCcLowerCaseBits) == ICTYPE_VIDEO;
  bool mode = open->dwFlags == ICMODE_COMPRESS || open->dwFlags == ICMODE_FASTCOMPRESS ||
              open->dwFlags == ICMODE_QUERY;
  return video && mode;
}

LRESULT OpenInstance(ICOPEN* open) {
  if (!OpensForCompression(open)) {
    // A decompressor or another kind of stream: let the manager look elsewhere.
    open->dwError = ICERR_UNSUPPORTED;
    return kDriverFailed;
  }
  LRESULT id = Instances().Open();
  if (open != nullptr) open->dwError = ICERR_OK;
  return id;
}

template <typename T>
T* Pointer(LPARAM value) {
  return reinterpret_cast<T*>(value);
}

LRESULT InstanceMessage(Compressor& c, UINT message, LPARAM p1, LPARAM p2) {
  switch (message) {
    case ICM_GETSTATE:
      return c.GetState(Pointer<void>(p1), p2);
    case ICM_SETSTATE:
      return c.SetState(Pointer<const void>(p1), p2);
    case ICM_GETDEFAULTQUALITY:
      return c.GetDefaultQuality(Pointer<DWORD>(p1));
    case ICM_GETQUALITY:
      return c.GetQuality(Pointer<DWORD>(p1));
    case ICM_SETQUALITY:
      return c.SetQuality(p1);
    case ICM_GETDEFAULTKEYFRAMERATE:
      return c.GetDefaultKeyFrameRate(Pointer<DWORD>(p1));
    case ICM_COMPRESS_QUERY:
      return c.Query(Pointer<const BITMAPINFO>(p1), Pointer<const BITMAPINFO>(p2));
    case ICM_COMPRESS_GET_FORMAT:
      return c.GetFormat(Pointer<const BITMAPINFO>(p1), Pointer<BITMAPINFO>(p2));
    case ICM_COMPRESS_GET_SIZE:
      return c.GetSize(Pointer<const BITMAPINFO>(p1), Pointer<const BITMAPINFO>(p2));
    case ICM_COMPRESS_FRAMES_INFO:
      return c.FramesInfo(Pointer<const ICCOMPRESSFRAMES>(p1), p2);
    case ICM_COMPRESS_BEGIN:
      return c.Begin(Pointer<const BITMAPINFO>(p1), Pointer<const BITMAPINFO>(p2));
    case ICM_COMPRESS:
      return c.Compress(Pointer<ICCOMPRESS>(p1), p2);
    case ICM_COMPRESS_END:
      return c.End();
  }
  return ICERR_UNSUPPORTED;
}

LRESULT Dispatch(DWORD_PTR id, UINT message, LPARAM p1, LPARAM p2) {
  switch (message) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
      // Nothing process-wide to set up or tear down; instances live from DRV_OPEN to
      // DRV_CLOSE, and Wine sends load/free around every open, even while others are open.
      return kDriverOk;
    case DRV_OPEN:
      return OpenInstance(Pointer<ICOPEN>(p2));
    case DRV_CLOSE:
      return Instances().Close(id) ? kDriverOk : kDriverFailed;
    case DRV_QUERYCONFIGURE:
      return kDriverFailed;  // no configuration dialog
    case DRV_CONFIGURE:
      return DRVCNF_CANCEL;
    case ICM_CONFIGURE:
    case ICM_ABOUT:
      // No dialogs; the query form (p1 == -1) takes the same answer, which means "none".
      return ICERR_UNSUPPORTED;
    case ICM_GETINFO:
      return Compressor::GetInfo(Pointer<ICINFO>(p1), p2);
  }
  Compressor* compressor = Instances().Find(id);
  if (compressor == nullptr) return ICERR_BADHANDLE;
  return InstanceMessage(*compressor, message, p1, p2);
}

// The answer for a message whose handling threw: a failed open, or an ICM error.
LRESULT FailureFor(UINT message, LRESULT error) {
  return message < ICM_USER ? kDriverFailed : error;
}

}  // namespace

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR driver_id, HDRVR /*driver*/, UINT message, LPARAM p1,
                                     LPARAM p2) {
  try {
    return Dispatch(driver_id, message, p1, p2);
  } catch (const std::bad_alloc&) {
    return FailureFor(message, ICERR_MEMORY);
  } catch (...) {
    return FailureFor(message, ICERR_INTERNAL);
  }
}
