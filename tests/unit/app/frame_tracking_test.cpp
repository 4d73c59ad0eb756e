#include "app/frame_tracking.h"

#include <gtest/gtest.h>

namespace {

// The frame as created: (100, 100), 600 x 400.
constexpr FrameBounds kFrame = {100, 100, 700, 500};

TEST(HoveredEdge, BandsAreSixPixelsAndVerticalEdgesWinCorners) {
  struct Case {
    int x, y;
    FrameEdge edge;
  } cases[] = {
      {100, 300, FrameEdge::kLeft},   {105, 300, FrameEdge::kLeft},
      {106, 300, FrameEdge::kNone},   {99, 300, FrameEdge::kNone},
      {695, 300, FrameEdge::kRight},  {700, 300, FrameEdge::kRight},
      {694, 300, FrameEdge::kNone},   {701, 300, FrameEdge::kNone},
      {400, 100, FrameEdge::kTop},    {400, 105, FrameEdge::kTop},
      {400, 495, FrameEdge::kBottom}, {400, 500, FrameEdge::kBottom},
      {400, 300, FrameEdge::kNone},   {102, 102, FrameEdge::kTop},     // corner: top wins
      {698, 498, FrameEdge::kBottom}, {102, 498, FrameEdge::kBottom},  // corners: bottom wins
      {20, 102, FrameEdge::kTop},  // the tests are independent: off the band, still "top"
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HoveredEdge(kFrame, c.x, c.y), c.edge) << c.x << "," << c.y;
  }
}

TEST(DraggedPlacement, MovesTheDraggedEdgeWithinItsLimits) {
  struct Case {
    FrameEdge edge;
    int x, y;
    bool moves;
    FramePlacement placement;
  } cases[] = {
      {FrameEdge::kTop, 400, 150, true, {100, 150, 600, 350}},
      {FrameEdge::kTop, 400, 479, true, {100, 479, 600, 21}},  // 21 px high at least
      {FrameEdge::kTop, 400, 480, false, {}},
      {FrameEdge::kBottom, 400, 300, true, {100, 100, 600, 205}},  // band ends 5 px below
      {FrameEdge::kBottom, 400, 121, true, {100, 100, 600, 26}},   // 26 px at least
      {FrameEdge::kBottom, 400, 120, false, {}},
      {FrameEdge::kRight, 500, 300, true, {100, 100, 405, 400}},
      {FrameEdge::kRight, 121, 300, true, {100, 100, 26, 400}},
      {FrameEdge::kRight, 120, 300, false, {}},
      {FrameEdge::kLeft, 50, 300, true, {50, 100, 650, 400}},
      {FrameEdge::kLeft, 679, 300, true, {679, 100, 21, 400}},
      {FrameEdge::kLeft, 680, 300, false, {}},
      {FrameEdge::kNone, 400, 300, false, {}},
  };
  for (const Case& c : cases) {
    auto placement = DraggedPlacement(kFrame, c.edge, c.x, c.y);
    ASSERT_EQ(placement.has_value(), c.moves)
        << static_cast<int>(c.edge) << " " << c.x << "," << c.y;
    if (placement) {
      EXPECT_EQ(placement->left, c.placement.left);
      EXPECT_EQ(placement->top, c.placement.top);
      EXPECT_EQ(placement->width, c.placement.width);
      EXPECT_EQ(placement->height, c.placement.height);
    }
  }
}

TEST(DragAfterTick, AReleasedButtonEndsTheDragWhereverItHappened) {
  EXPECT_EQ(DragAfterTick(FrameEdge::kLeft, true), FrameEdge::kLeft);
  EXPECT_EQ(DragAfterTick(FrameEdge::kLeft, false), FrameEdge::kNone);
  EXPECT_EQ(DragAfterTick(FrameEdge::kNone, true), FrameEdge::kNone);
}

}  // namespace
