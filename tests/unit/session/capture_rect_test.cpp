#include "session/capture_rect.h"

#include <gtest/gtest.h>

namespace {

TEST(EvenSize, OddSizesLoseOnePixelNegativeOnesToo) {
  struct Case {
    int32_t in, out;
  } cases[] = {{1366, 1366}, {1367, 1366}, {311, 310}, {0, 0},
               {1, 0},       {-1, -2},     {-3, -4},   {-4, -4}};
  for (const Case& c : cases) EXPECT_EQ(EvenSize(c.in), c.out) << c.in;
}

TEST(InsideRegionFrame, InsetsTheBandAndKeepsTheEvenRuleSeparate) {
  CaptureRect inside = InsideRegionFrame(100, 50, 421, 290);
  EXPECT_EQ(inside.left, 105);
  EXPECT_EQ(inside.top, 55);
  EXPECT_EQ(inside.width, 311);
  EXPECT_EQ(inside.height, 230);
  CaptureRect even = WithEvenSize(inside);
  EXPECT_EQ(even.left, 105);
  EXPECT_EQ(even.top, 55);
  EXPECT_EQ(even.width, 310);
  EXPECT_EQ(even.height, 230);

  CaptureRect created = WithEvenSize(InsideRegionFrame(100, 100, 700, 500));
  EXPECT_EQ(created.width, 590);
  EXPECT_EQ(created.height, 390);
}

}  // namespace
