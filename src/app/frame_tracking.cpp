#include "app/frame_tracking.h"

#include "session/capture_rect.h"

namespace {

// The frame never gets narrower or lower than this past the opposite edge.
constexpr int32_t kFrameMinSpanPx = 20;

bool Within(int32_t value, int32_t low, int32_t high) {
  return low <= value && value <= high;
}

}  // namespace

FrameEdge HoveredEdge(const FrameBounds& frame, int32_t x, int32_t y) {
  FrameEdge edge = FrameEdge::kNone;
  if (Within(x, frame.left, frame.left + kRegionFrameBorderPx)) edge = FrameEdge::kLeft;
  if (Within(x, frame.right - kRegionFrameBorderPx, frame.right)) edge = FrameEdge::kRight;
  if (Within(y, frame.top, frame.top + kRegionFrameBorderPx)) edge = FrameEdge::kTop;
  if (Within(y, frame.bottom - kRegionFrameBorderPx, frame.bottom)) edge = FrameEdge::kBottom;
  return edge;
}

std::optional<FramePlacement> DraggedPlacement(const FrameBounds& frame, FrameEdge edge, int32_t x,
                                               int32_t y) {
  const int32_t width = frame.right - frame.left;
  const int32_t height = frame.bottom - frame.top;
  switch (edge) {
    case FrameEdge::kTop:
      if (y < frame.bottom - kFrameMinSpanPx) {
        return FramePlacement{frame.left, y, width, frame.bottom - y};
      }
      break;
    case FrameEdge::kBottom:
      // The band ends a band's width below the pointer, so the pointer
      // stays on it while dragging.
      if (y > frame.top + kFrameMinSpanPx) {
        return FramePlacement{frame.left, frame.top, width, y - frame.top + kRegionFrameBorderPx};
      }
      break;
    case FrameEdge::kRight:
      if (x > frame.left + kFrameMinSpanPx) {
        return FramePlacement{frame.left, frame.top, x - frame.left + kRegionFrameBorderPx, height};
      }
      break;
    case FrameEdge::kLeft:
      if (x < frame.right - kFrameMinSpanPx) {
        return FramePlacement{x, frame.top, frame.right - x, height};
      }
      break;
    case FrameEdge::kNone:
      break;
  }
  return std::nullopt;
}

FrameEdge DragAfterTick(FrameEdge dragged, bool leftButtonDown) {
  return leftButtonDown ? dragged : FrameEdge::kNone;
}
