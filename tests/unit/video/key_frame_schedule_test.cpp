#include "video/key_frame_schedule.h"

#include <gtest/gtest.h>

namespace {

TEST(KeyFrameDue, FirstFrameAndEveryIntervalCountedInPositions) {
  struct Case {
    int64_t position;
    std::optional<int64_t> lastKey;
    uint32_t interval;
    bool due;
  } cases[] = {
      {0, std::nullopt, 15, true},  // the first frame
      {7, std::nullopt, 15, true},  // the first frame, wherever it lands
      {14, 0, 15, false},          {15, 0, 15, true},
      {16, 0, 15, true},                                // a gap skipped position 15: still due
      {20, 16, 15, false},                              // counted from the last key frame made
      {31, 16, 15, true},          {100, 0, 0, false},  // interval 0: only the first frame
      {0, std::nullopt, 0, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyFrameDue(c.position, c.lastKey, c.interval), c.due)
        << c.position << " after " << (c.lastKey ? *c.lastKey : -1) << " every " << c.interval;
  }
}

}  // namespace
