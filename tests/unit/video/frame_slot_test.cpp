#include "video/frame_slot.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(PacingFor, IntervalAndGroupForEveryRate) {
  struct Case {
    int32_t fps;
    uint32_t interval, group;
  } cases[] = {{8, 125, 375}, {15, 66, 200}, {20, 50, 150}, {25, 40, 120}, {30, 33, 100}};
  for (const Case& c : cases) {
    FramePacing p = PacingFor(c.fps);
    EXPECT_EQ(p.frameIntervalMs, c.interval) << c.fps;
    EXPECT_EQ(p.groupLengthMs, c.group) << c.fps;
  }
}

TEST(FrameSlotIndex, SlotsOfTheRateTables) {
  struct Case {
    int32_t fps;
    uint32_t elapsed, index;
  } cases[] = {
      // 30 fps: 0-32 -> 0, 33-65 -> 1, 66-98 -> 2, 99 -> 3, 100-132 -> 3, 133 -> 4
      {30, 0, 0},
      {30, 32, 0},
      {30, 33, 1},
      {30, 65, 1},
      {30, 66, 2},
      {30, 98, 2},
      {30, 99, 3},
      {30, 100, 3},
      {30, 132, 3},
      {30, 133, 4},
      // 15 fps: slot 3 of a group only in its last 2 ms; 198 and 200-265 give 3
      {15, 0, 0},
      {15, 65, 0},
      {15, 66, 1},
      {15, 131, 1},
      {15, 132, 2},
      {15, 197, 2},
      {15, 198, 3},
      {15, 199, 3},
      {15, 200, 3},
      {15, 265, 3},
      {15, 266, 4},
      // 8, 20, 25 fps: three slots a group, no fourth
      {8, 124, 0},
      {8, 125, 1},
      {8, 374, 2},
      {8, 375, 3},
      {20, 149, 2},
      {20, 150, 3},
      {25, 39, 0},
      {25, 40, 1},
      {25, 119, 2},
      {25, 120, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FrameSlotIndex(c.elapsed, PacingFor(c.fps)), c.index)
        << c.fps << " fps, " << c.elapsed;
  }
}

TEST(FrameSlotIndex, NeverDecreasesAndKeepsTheLongRunRate) {
  for (int32_t fps : {8, 15, 20, 25, 30}) {
    FramePacing p = PacingFor(fps);
    uint32_t previous = 0;
    std::set<uint32_t> slots;
    for (uint32_t ms = 0; ms < 60000; ++ms) {
      uint32_t index = FrameSlotIndex(ms, p);
      ASSERT_GE(index, previous) << fps << " fps at " << ms;
      previous = index;
      slots.insert(index);
    }
    // One minute holds 60 * fps slots, each reachable; at 15 and 30 fps the
    // last ms of a group already give the next group's first slot.
    const auto perMinute = static_cast<uint32_t>(60 * fps);
    EXPECT_EQ(FrameSlotIndex(60000, p), perMinute) << fps;
    for (uint32_t slot = 0; slot < perMinute; ++slot) ASSERT_EQ(slots.count(slot), 1u) << slot;
    EXPECT_LE(*slots.rbegin(), perMinute);
  }
}

TEST(FrameSlotIndex, SlowGrabsSkipSlotsAndTheClockWrapIsHarmless) {
  // A grab of 2.5 slots at 25 fps: grabs begin at 0, 100, 200 ms.
  FramePacing p = PacingFor(25);
  EXPECT_EQ(FrameSlotIndex(0, p), 0u);
  EXPECT_EQ(FrameSlotIndex(100, p), 2u);
  EXPECT_EQ(FrameSlotIndex(200, p), 5u);
  // Elapsed time is the unsigned difference of two clock readings.
  const uint32_t start = 0xFFFFFF00u;
  const uint32_t now = 0x00000100u;
  EXPECT_EQ(FrameSlotIndex(now - start, PacingFor(15)), FrameSlotIndex(512, PacingFor(15)));
}

}  // namespace
