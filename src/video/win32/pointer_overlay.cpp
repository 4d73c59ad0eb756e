#include "video/win32/pointer_overlay.h"

#include "session/win32/recorder_globals.h"
#include "video/pointer_position.h"

void PaintPointer(HDC dc, int originX, int originY) {
  CURSORINFO info = {};
  info.cbSize = sizeof info;
  GetCursorInfo(&info);
  PointerPicture picture =
      ChoosePointerPicture(info.hCursor != nullptr, (info.flags & CURSOR_SHOWING) != 0);
  if (picture == PointerPicture::kNone) return;
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
    if (icon.hbmMask) DeleteObject(icon.hbmMask);
    if (icon.hbmColor) DeleteObject(icon.hbmColor);
  }
  PointerPoint at =
      PointerDrawPosition({info.ptScreenPos.x, info.ptScreenPos.y}, hotSpot, {originX, originY});
  DrawIcon(dc, at.x, at.y, pointer);
}
