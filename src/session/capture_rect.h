// The captured area: the whole screen, or the open inside of the region
// frame, with even width and height (the encoder needs 4:2:0 blocks).
#pragma once

#include <cstdint>

// Width of the region frame's band; the area inside it is recorded.
constexpr int32_t kRegionFrameBorderPx = 5;

struct CaptureRect {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
};

// Drops one pixel from an odd size; the test is the signed remainder, so
// a negative odd size loses one too.
constexpr int32_t EvenSize(int32_t size) {
  return size % 2 != 0 ? size - 1 : size;
}

// The inside of a region frame whose window rectangle is (left, top) to
// (right, bottom), before the even rule.
CaptureRect InsideRegionFrame(int32_t left, int32_t top, int32_t right, int32_t bottom);

// Applies the even rule to width and height.
CaptureRect WithEvenSize(CaptureRect rect);
