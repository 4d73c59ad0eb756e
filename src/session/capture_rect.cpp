#include "session/capture_rect.h"

CaptureRect InsideRegionFrame(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return {left + kRegionFrameBorderPx, top + kRegionFrameBorderPx,
          (right - left) - 2 * kRegionFrameBorderPx, (bottom - top) - 2 * kRegionFrameBorderPx};
}

CaptureRect WithEvenSize(CaptureRect rect) {
  rect.width = EvenSize(rect.width);
  rect.height = EvenSize(rect.height);
  return rect;
}
