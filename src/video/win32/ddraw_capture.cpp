// DirectDraw back-end: the capture rectangle is blitted from the primary
// surface into a copy surface of exactly the capture size. The library is
// not linked: its name and creation entry come from the capture settings.
#include <windows.h>
#include <ddraw.h>

#include "framework/win32/scoped_win.h"
#include "session/win32/recorder_globals.h"
#include "video/device_recovery.h"
#include "video/win32/capture_backend.h"
#include "video/win32/pointer_overlay.h"

namespace {

using DirectDrawCreateProc = HRESULT(WINAPI*)(GUID* driver, IDirectDraw** ddraw, IUnknown* outer);
static_assert(static_cast<uint32_t>(DDERR_SURFACELOST) == kDdErrSurfaceLost, "DDERR_SURFACELOST");
static_assert(static_cast<uint32_t>(DDERR_WRONGMODE) == kDdErrWrongMode, "DDERR_WRONGMODE");

// The screen (primary surface) and the copy surface's pixel layout.
PixelRect screenBounds = {};
SourceFormat copyFormat = SourceFormat::kXrgb8888;

DDSURFACEDESC SurfaceDesc(DWORD flags, DWORD caps) {
  DDSURFACEDESC desc = {};
  desc.dwSize = kSurfaceDescBytes;
  desc.dwFlags = flags;
  desc.ddsCaps.dwCaps = caps;
  return desc;
}

// The part of the capture rectangle on the screen: a blit needs a source
// inside the primary surface, and the rest of the frame stays black.
PixelRect VisiblePart() {
  PixelRect capture = {g_recorder.captureLeft, g_recorder.captureTop,
                       g_recorder.captureLeft + g_recorder.captureWidth,
                       g_recorder.captureTop + g_recorder.captureHeight};
  return Intersect(capture, screenBounds);
}

// Makes the primary and the copy surface and reads the screen's size and
// the copy's pixel layout.
bool CreateSurfaces() {
  DDSURFACEDESC primary = SurfaceDesc(DDSD_CAPS, DDSCAPS_PRIMARYSURFACE);
  if (g_recorder.ddraw->CreateSurface(&primary, &g_recorder.ddPrimarySurface, nullptr) != DD_OK) {
    return false;
  }
  // In system memory: the copy is read by the CPU on every pass, and a
  // video-memory surface makes each lock and DC a read-back (under Wine
  // four times the cost of the whole grab).
  DDSURFACEDESC copy = SurfaceDesc(DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH,
                                   DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY);
  copy.dwHeight = static_cast<DWORD>(g_recorder.captureHeight);
  copy.dwWidth = static_cast<DWORD>(g_recorder.captureWidth);
  if (g_recorder.ddraw->CreateSurface(&copy, &g_recorder.ddCopySurface, nullptr) != DD_OK) {
    return false;
  }

  DDSURFACEDESC screen = SurfaceDesc(0, 0);
  g_recorder.ddPrimarySurface->GetSurfaceDesc(&screen);
  screenBounds = {0, 0, static_cast<int32_t>(screen.dwWidth),
                  static_cast<int32_t>(screen.dwHeight)};
  // The copy surface has the display's format; frames are 32-bit, so a
  // 16- or 24-bit display is converted and anything else is refused.
  DDSURFACEDESC described = SurfaceDesc(0, 0);
  g_recorder.ddCopySurface->GetSurfaceDesc(&described);
  const DDPIXELFORMAT& pf = described.ddpfPixelFormat;
  auto format = SourceFormatFor(pf.dwRGBBitCount, pf.dwRBitMask, pf.dwGBitMask, pf.dwBBitMask);
  if (!format) return false;
  copyFormat = *format;
  return true;
}

void ReleaseSurfaces() {
  if (g_recorder.ddCopySurface) g_recorder.ddCopySurface->Release();
  g_recorder.ddCopySurface = nullptr;
  if (g_recorder.ddPrimarySurface) g_recorder.ddPrimarySurface->Release();
  g_recorder.ddPrimarySurface = nullptr;
}

// Surfaces made anew after the display mode changed, or after a failed
// attempt to make them.
bool SurfacesReady() {
  if (g_recorder.ddPrimarySurface && g_recorder.ddCopySurface) return true;
  ReleaseSurfaces();
  return CreateSurfaces();
}

// After a blit or lock that failed with `result`: lost surfaces are
// restored, or dropped to be made anew when the display mode changed.
// False when the pass has no picture.
bool RecoverFrom(HRESULT result) {
  RecoveryStep step = DirectDrawRecoveryStep(static_cast<uint32_t>(result));
  if (step == RecoveryStep::kNone) return true;
  if (step == RecoveryStep::kReset) {
    HRESULT restored = g_recorder.ddPrimarySurface->Restore();
    if (restored == DD_OK) restored = g_recorder.ddCopySurface->Restore();
    step = restored == DD_OK ? RecoveryStep::kNone : DirectDrawRecoveryStep(restored);
  }
  if (step == RecoveryStep::kRecreate) ReleaseSurfaces();
  return false;
}

// The library's creation entry, from the capture settings' names; the
// library's reference is kept for the life of the process.
DirectDrawCreateProc LoadDirectDrawCreate() {
  HMODULE library = LoadLibraryA(g_recorder.ddrawLibraryName);
  return library ? reinterpret_cast<DirectDrawCreateProc>(
                       reinterpret_cast<void*>(GetProcAddress(library, g_recorder.ddrawCreateName)))
                 : nullptr;
}

}  // namespace

void WarmUpDirectDraw() {
  ComPtr<IDirectDraw> ddraw;
  if (DirectDrawCreateProc create = LoadDirectDrawCreate())
    create(nullptr, ddraw.Receive(), nullptr);
}

bool InitDirectDrawCapture() {
  DirectDrawCreateProc create = LoadDirectDrawCreate();
  if (!create || create(nullptr, &g_recorder.ddraw, nullptr) != DD_OK) return false;
  // The normal level needs no window. With the dialog's window Wine's
  // primary surface blits black.
  if (g_recorder.ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL) != DD_OK) return false;
  return CreateSurfaces();
}

bool GrabDirectDraw(const FrameGeometry& geometry) {
  if (!SurfacesReady()) return false;
  PixelRect visible = VisiblePart();
  const int32_t left = g_recorder.captureLeft;
  const int32_t top = g_recorder.captureTop;
  if (visible.left < visible.right && visible.top < visible.bottom) {
    RECT source = {visible.left, visible.top, visible.right, visible.bottom};
    HRESULT blit = g_recorder.ddCopySurface->BltFast(
        static_cast<DWORD>(visible.left - left), static_cast<DWORD>(visible.top - top),
        g_recorder.ddPrimarySurface, &source, DDBLTFAST_WAIT);
    if (!RecoverFrom(blit)) return false;
  }
  if (g_recorder.drawPointer != 0) {
    HDC dc = nullptr;
    if (g_recorder.ddCopySurface->GetDC(&dc) == DD_OK && dc) {
      PaintPointer(dc, left, top);
      g_recorder.ddCopySurface->ReleaseDC(dc);
    }
  }
  HRESULT lock =
      g_recorder.ddCopySurface->Lock(nullptr, &g_recorder.ddSurfaceDesc, DDLOCK_READONLY, nullptr);
  if (lock != DD_OK) {
    return RecoverFrom(lock);  // not read this pass: the frame keeps its last content
  }
  SourceSurface copy = {
      static_cast<const uint8_t*>(g_recorder.ddSurfaceDesc.lpSurface),
      g_recorder.ddSurfaceDesc.lPitch,
      copyFormat,
      {visible.left - left, visible.top - top, visible.right - left, visible.bottom - top}};
  CopyFrameBottomUp(g_recorder.frameBuffer, geometry, copy, 0, 0);
  g_recorder.ddCopySurface->Unlock(nullptr);
  return true;
}

void ReleaseDirectDraw() {
  ReleaseSurfaces();
  if (g_recorder.ddraw) g_recorder.ddraw->Release();
  g_recorder.ddraw = nullptr;
}
