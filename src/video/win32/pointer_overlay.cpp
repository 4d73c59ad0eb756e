#include "video/win32/pointer_overlay.h"

#include <optional>

#include "framework/win32/scoped_win.h"
#include "session/win32/recorder_globals.h"
#include "video/pointer_position.h"

namespace {

struct PointerToPaint {
  HCURSOR handle;
  PointerPoint corner;  // top-left of its picture, in the surface's coordinates
};

std::optional<PointerToPaint> FindPointer(int originX, int originY) {
  CURSORINFO info = {};
  info.cbSize = sizeof info;
  GetCursorInfo(&info);
  PointerPicture picture =
      ChoosePointerPicture(info.hCursor != nullptr, (info.flags & CURSOR_SHOWING) != 0);
  if (picture == PointerPicture::kNone) return std::nullopt;
  // Shared system pointer: never destroyed.
  HCURSOR pointer = picture == PointerPicture::kOwn
                        ? info.hCursor
                        : LoadCursorW(nullptr, MAKEINTRESOURCEW(kStandardArrowId));

  std::optional<PointerPoint> hotSpot;
  ICONINFO icon;
  if (GetIconInfo(pointer, &icon)) {
    hotSpot =
        PointerPoint{static_cast<int32_t>(icon.xHotspot), static_cast<int32_t>(icon.yHotspot)};
    // GetIconInfo hands the caller copies of both bitmaps.
    ScopedGdiObject mask(icon.hbmMask), colour(icon.hbmColor);
  }
  return PointerToPaint{pointer, PointerDrawPosition({info.ptScreenPos.x, info.ptScreenPos.y},
                                                     hotSpot, {originX, originY})};
}

// A top-down 32-bit DIB section the size DrawIcon paints at (the system's
// icon size), made at the first frame and kept for the session, so no
// frame allocates.
struct PointerPatch {
  // Declared in the order they are made: undone the other way round.
  ScopedGdiObject bitmap;
  ScopedDc dc;
  std::optional<ScopedSelectObject> selected;
  uint8_t* bits = nullptr;
  int32_t width = 0, height = 0;

  bool Ready() {
    if (dc) return true;
    width = GetSystemMetrics(SM_CXICON);
    height = GetSystemMetrics(SM_CYICON);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = kFrameBitsPerPixel;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    bitmap.Reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    if (!bitmap) return false;
    bits = static_cast<uint8_t*>(pixels);
    dc.Reset(CreateCompatibleDC(nullptr));
    selected.emplace(dc.Get(), bitmap.Get());
    return true;
  }

  void Release() {
    selected.reset();
    dc.Reset();
    bitmap.Reset();
    bits = nullptr;
  }
};

PointerPatch patch;

}  // namespace

void PaintPointer(HDC dc, int originX, int originY) {
  if (auto pointer = FindPointer(originX, originY)) {
    DrawIcon(dc, pointer->corner.x, pointer->corner.y, pointer->handle);
  }
}

void PaintPointerIntoFrame(uint8_t* frame, const FrameGeometry& geometry, int originX,
                           int originY) {
  auto pointer = FindPointer(originX, originY);
  if (!pointer || !patch.Ready()) return;
  const PointerPoint at = pointer->corner;
  const PixelRect area =
      ClipToFrame({at.x, at.y, at.x + patch.width, at.y + patch.height}, geometry);
  if (area.left >= area.right || area.top >= area.bottom) return;
  const int32_t pitch = patch.width * kFrameBytesPerPixel;
  CopyFramePatch(frame, geometry, area, patch.bits, pitch, PatchCopy::kFrameToPatch);
  // DI_DEFAULTSIZE: the system's icon size, as DrawIcon on a surface paints.
  DrawIconEx(patch.dc.Get(), at.x - area.left, at.y - area.top, pointer->handle, 0, 0, 0, nullptr,
             DI_NORMAL | DI_DEFAULTSIZE);
  GdiFlush();
  CopyFramePatch(frame, geometry, area, patch.bits, pitch, PatchCopy::kPatchToFrame);
}

void ReleasePointerPatch() {
  patch.Release();
}
