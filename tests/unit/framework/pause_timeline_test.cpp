#include "framework/pause_timeline.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(PauseTimeline, RecordedTimeStandsStillWhilePaused) {
  PauseTimeline pauses;
  pauses.Pause(3000);
  pauses.Resume(6000);
  pauses.Pause(9000);  // still paused
  struct Case {
    double atMs, recordedMs;
    bool paused;
  } cases[] = {
      {0, 0, false},       {2999.5, 2999.5, false}, {3000, 3000, true}, {4500, 3000, true},
      {6000, 3000, false}, {7000, 4000, false},     {9000, 6000, true}, {60000, 6000, true},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(pauses.RecordedMs(c.atMs), c.recordedMs) << c.atMs;
    EXPECT_EQ(pauses.PausedAt(c.atMs), c.paused) << c.atMs;
  }
}

TEST(PauseTimeline, PausedPartsOfAStretch) {
  PauseTimeline pauses;
  pauses.Pause(1200);
  pauses.Resume(1300);
  pauses.Pause(1700);
  pauses.Resume(4200);
  pauses.Pause(4900);
  const auto within = pauses.PausedWithin(1000, 2000);  // two pauses inside one second
  ASSERT_EQ(within.size(), 2u);
  EXPECT_DOUBLE_EQ(within[0].fromMs, 1200);
  EXPECT_DOUBLE_EQ(within[0].toMs, 1300);
  EXPECT_DOUBLE_EQ(within[1].fromMs, 1700);
  EXPECT_DOUBLE_EQ(within[1].toMs, 2000);
  const auto across = pauses.PausedWithin(2000, 3000);  // wholly paused
  ASSERT_EQ(across.size(), 1u);
  EXPECT_DOUBLE_EQ(across[0].toMs - across[0].fromMs, 1000);
  const auto open = pauses.PausedWithin(4000, 5000);  // an end, then the open pause
  ASSERT_EQ(open.size(), 2u);
  EXPECT_DOUBLE_EQ(open[0].toMs, 4200);
  EXPECT_DOUBLE_EQ(open[1].fromMs, 4900);
  EXPECT_DOUBLE_EQ(open[1].toMs, 5000);
  EXPECT_TRUE(pauses.PausedWithin(1400, 1600).empty());
}

TEST(PauseTimeline, ARepeatedAskAndAResumeBeforeThePauseBeganChangeNothing) {
  PauseTimeline pauses;
  pauses.Resume(100);  // nothing paused
  pauses.Pause(500);
  pauses.Pause(700);  // already paused from 500
  pauses.Resume(800);
  pauses.Pause(1066);  // asked at 1040, begins at its slot's end
  pauses.Resume(1050);
  EXPECT_DOUBLE_EQ(pauses.RecordedMs(2000), 1700);
  EXPECT_FALSE(pauses.PausedAt(1060));
  pauses.Clear();
  EXPECT_DOUBLE_EQ(pauses.RecordedMs(2000), 2000);
}

}  // namespace
