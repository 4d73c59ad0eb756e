// Edge tracking of the region frame: which band the pointer is on, and
// where a dragged edge takes the frame. Screen pixels throughout.
#pragma once

#include <cstdint>
#include <optional>

enum class FrameEdge { kNone, kLeft, kRight, kTop, kBottom };

struct FrameBounds {
  int32_t left, top, right, bottom;
};

struct FramePlacement {
  int32_t left, top, width, height;
};

// The edge whose band (6 pixels, both ends inclusive) holds the pointer.
// The tests run Left, Right, Top, Bottom, each later hit replacing an
// earlier one, so at a corner the top or bottom edge wins.
FrameEdge HoveredEdge(const FrameBounds& frame, int32_t x, int32_t y);

// Where dragging `edge` to the pointer puts the frame; nothing when the
// move would make the frame smaller than its limits (or edge is None).
std::optional<FramePlacement> DraggedPlacement(const FrameBounds& frame, FrameEdge edge, int32_t x,
                                               int32_t y);

// A drag ends on the first tick that finds the left button up, wherever
// it was released.
FrameEdge DragAfterTick(FrameEdge dragged, bool leftButtonDown);
