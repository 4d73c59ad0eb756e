#include "video/slot_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(SlotStartMs, FirstMillisecondOfEachSlot) {
  struct Case {
    int32_t fps;
    uint32_t index, startMs;
  } cases[] = {
      {8, 0, 0},    {8, 1, 125},  {8, 3, 375},  {15, 1, 66},  {15, 2, 132},
      {15, 3, 198}, {15, 4, 266}, {15, 6, 398}, {20, 3, 150}, {25, 4, 160},
      {30, 0, 0},   {30, 3, 99},  {30, 4, 133}, {30, 6, 199},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SlotStartMs(c.index, PacingFor(c.fps)), c.startMs) << c.fps << " fps, " << c.index;
  }
}

TEST(SlotClock, APauseBeginsWhereTheLastSlotEndsAndGoesOnFromThere) {
  struct Case {
    int32_t fps;
    uint32_t lastSlot, askMs, pauseAtMs, resumeMs, slotAtResume;
  } cases[] = {
      {15, 0, 10, 66, 5000, 1},   {15, 2, 197, 198, 900, 3},  // slot 2's last ms: slot 3 comes next
      {15, 3, 199, 266, 3000, 4},                             // slot 3 in its group's last 2 ms
      {15, 2, 201, 198, 900, 3},  // the last grab ran into slot 3: the pause began behind
      {30, 3, 99, 133, 700, 4},   // slot 3 from its group's last ms
      {30, 2, 98, 99, 99, 3},     // resumed the moment it began: no pause at all
      {8, 2, 374, 375, 376, 3},   {20, 0, 0, 50, 3600050, 1},  // an hour's pause
      {25, 1, 41, 80, 81, 2},
  };
  for (const Case& c : cases) {
    PauseTimeline pauses;
    SlotClock clock(PacingFor(c.fps), pauses);
    EXPECT_EQ(clock.Pause(c.askMs, c.lastSlot), c.pauseAtMs) << c.fps << " fps, " << c.askMs;
    clock.Resume(c.resumeMs);
    EXPECT_EQ(clock.Slot(c.resumeMs), c.slotAtResume) << c.fps << " fps, " << c.askMs;
  }
}

// A loop whose passes take `passMs`, asked to pause or go on at the given
// moments (the last ask before a pass counts): it writes positions 0, 1,
// 2, ... without a repeat or a hole, and as many as the recorded time holds.
TEST(SlotClock, WrittenPositionsContinueAcrossPausesAtEveryRate) {
  const std::vector<uint32_t> toggles = {1000, 4000, 4001, 4002, 5990, 6100,  6101,
                                         6102, 6103, 9000, 9017, 9018, 12345, 20000};
  constexpr uint32_t kEndMs = 24000;
  for (int32_t fps : {8, 15, 20, 25, 30}) {
    for (uint32_t passMs : {1u, 7u, 29u}) {
      PauseTimeline pauses;
      SlotClock clock(PacingFor(fps), pauses);
      bool paused = false;
      uint32_t pausedMs = 0, pauseAtMs = 0;
      std::vector<uint32_t> written;
      for (uint32_t ms = 0; ms <= kEndMs; ms += passMs) {
        const auto asks = std::upper_bound(toggles.begin(), toggles.end(), ms) - toggles.begin();
        const bool pauseWanted = asks % 2 == 1;
        if (paused && pauseWanted) continue;  // waiting, not grabbing
        if (paused) {
          clock.Resume(ms);
          pausedMs += ms > pauseAtMs ? ms - pauseAtMs : 0;
          paused = false;
        }
        const uint32_t slot = clock.Slot(ms);
        if (written.empty() || written.back() != slot) written.push_back(slot);
        if (pauseWanted) {
          pauseAtMs = clock.Pause(ms + passMs - 1, written.back());
          paused = true;
        }
      }
      const std::string where = std::to_string(fps) + " fps, passes of " + std::to_string(passMs);
      for (size_t i = 0; i < written.size(); ++i) ASSERT_EQ(written[i], i) << where;
      // 24 s less the asked pauses' 13.665 s, give or take a pass and a slot each.
      EXPECT_NEAR(kEndMs - pausedMs, 10335, 7 * (passMs + 1000 / fps)) << where;
      // Positions 0 to the recorded time's.
      EXPECT_NEAR(static_cast<double>(written.size()), (kEndMs - pausedMs) * fps / 1000.0 + 1, 1)
          << where;
    }
  }
}

}  // namespace
