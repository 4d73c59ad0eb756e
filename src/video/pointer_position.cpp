#include "video/pointer_position.h"

PointerPoint PointerDrawPosition(PointerPoint screenPosition, std::optional<PointerPoint> hotSpot,
                                 PointerPoint surfaceOrigin) {
  PointerPoint corner = screenPosition;
  if (hotSpot) {
    corner.x -= hotSpot->x;
    corner.y -= hotSpot->y;
  }
  return {corner.x - surfaceOrigin.x, corner.y - surfaceOrigin.y};
}

PointerPicture ChoosePointerPicture(bool havePointerHandle, bool showing) {
  // A handle is painted even when the system calls the pointer hidden.
  if (havePointerHandle) return PointerPicture::kOwn;
  return showing ? PointerPicture::kStandardArrow : PointerPicture::kNone;
}
