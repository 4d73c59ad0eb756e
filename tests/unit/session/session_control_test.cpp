#include "session/session_control.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Records what the session logic asks of the dialog, with a settable
// dialog and system state.
class FakeHost : public SessionHost {
 public:
  std::map<unsigned, unsigned> timers;  // id -> period, armed timers only
  int timerArms = 0;
  std::map<int, int> checks = {{kPointerBoxId, 1}, {kSoundBoxId, 1}};
  int frameRateSelection = 1;
  unsigned waveInDevices = 1;
  bool previousRunning = false;
  int threadsStarted = 0;
  std::vector<int> trayIcons;
  std::map<int, std::string> captions;
  int freezes = 0, resumes = 0;
  std::map<int, bool> enabled;
  bool pauseHotkey = false;
  uint32_t nowMs = 0;

  void SetDialogTimer(unsigned id, unsigned periodMs) override {
    timers[id] = periodMs;
    ++timerArms;
  }
  void KillDialogTimer(unsigned id) override { timers.erase(id); }
  int CheckBoxState(int id) override { return checks[id]; }
  int FrameRateSelection() override { return frameRateSelection; }
  unsigned WaveInDeviceCount() override { return waveInDevices; }
  bool PreviousSessionRunning() override { return previousRunning; }
  void StartRecordingThread() override {
    ++threadsStarted;
    previousRunning = true;
  }
  void SetTrayIcon(int iconId) override { trayIcons.push_back(iconId); }
  void SetButtonCaption(int id, const std::string& utf8) override { captions[id] = utf8; }
  void FreezeRegionFrame() override { ++freezes; }
  void ResumeRegionFrame() override { ++resumes; }
  void EnableControl(int id, bool on) override { enabled[id] = on; }
  void RegisterPauseHotkey() override { pauseHotkey = true; }
  void UnregisterPauseHotkey() override { pauseHotkey = false; }
  uint32_t NowMs() override { return nowMs; }
};

class SessionControlTest : public ::testing::Test {
 protected:
  SessionControlTest() { fields.configReady.store(1); }
  SessionFields fields;
  FakeHost host;
};

TEST(FramesPerSecondForSelection, ListIndexesAndNoSelection) {
  struct Case {
    int selection;
    int32_t previous, rate;
  } cases[] = {{0, 20, 8},   {1, 20, 15},  {2, 20, 25}, {3, 20, 30},
               {-1, 20, 20}, {-1, 15, 15}, {4, 25, 25}};
  for (const Case& c : cases) {
    EXPECT_EQ(FramesPerSecondForSelection(c.selection, c.previous), c.rate) << c.selection;
  }
}

TEST(FormatElapsed, MinutesAndSecondsWithoutLeadingZeros) {
  struct Case {
    uint32_t seconds;
    const char* text;
  } cases[] = {{0, "0:0"},
               {1, "0:1"},
               {59, "0:59"},
               {60, "1:0"},
               {65, "1:5"},
               {3600, "60:0"},
               {4294967295u, "71582788:15"}};
  for (const Case& c : cases) EXPECT_EQ(FormatElapsed(c.seconds), c.text);
}

TEST_F(SessionControlTest, StartTakesTheSettingsAndLaunchesOneSession) {
  host.checks[kPointerBoxId] = 0;
  host.frameRateSelection = 1;
  StartRecording(fields, host);
  EXPECT_EQ(fields.idleFlag.load(), 0);
  EXPECT_EQ(fields.drawPointer, 0);
  EXPECT_EQ(fields.recordSound, 1);
  EXPECT_EQ(fields.framesPerSecond, 15);
  EXPECT_EQ(host.threadsStarted, 1);
  EXPECT_EQ(host.timers, (std::map<unsigned, unsigned>{{kElapsedTimerId, kElapsedTimerMs}}));
  EXPECT_EQ(host.trayIcons, std::vector<int>{kRecordingIconId});
  EXPECT_EQ(host.freezes, 1);

  StartRecording(fields, host);  // a second Start while recording does nothing
  EXPECT_EQ(host.threadsStarted, 1);
  EXPECT_EQ(host.trayIcons.size(), 1u);
}

// Each sound box is taken as it stands: both ticked, both are recorded.
TEST_F(SessionControlTest, TheSoundBoxesAreTakenAsTheyStand) {
  struct Case {
    int microphone, computer;
  } cases[] = {{1, 1}, {1, 0}, {0, 1}, {0, 0}};
  for (const Case& c : cases) {
    host.checks[kSoundBoxId] = c.microphone;
    host.checks[kComputerSoundBoxId] = c.computer;
    StartRecording(fields, host);
    EXPECT_EQ(fields.recordSound, c.microphone) << c.microphone << c.computer;
    EXPECT_EQ(fields.recordComputerSound, c.computer) << c.microphone << c.computer;
    StopRecording(fields, host);
    host.previousRunning = false;  // its thread has ended
  }
}

TEST_F(SessionControlTest, SoundNeedsAWaveInDeviceAndNoSelectionKeepsTheRate) {
  host.waveInDevices = 0;
  host.frameRateSelection = -1;
  StartRecording(fields, host);
  EXPECT_EQ(fields.recordSound, 0);
  EXPECT_EQ(fields.framesPerSecond, kInitialFramesPerSecond);
}

TEST_F(SessionControlTest, StartBeforeReadyIsDeferredAndHappensOnce) {
  fields.configReady.store(0);
  StartRecording(fields, host);
  StartRecording(fields, host);  // only re-arms the same timer
  EXPECT_EQ(host.timers, (std::map<unsigned, unsigned>{{kDeferredStartTimerId, 100}}));
  EXPECT_EQ(host.timerArms, 2);
  EXPECT_EQ(host.threadsStarted, 0);

  OnSessionTimer(fields, host, kDeferredStartTimerId);  // still not ready: stays pending
  EXPECT_EQ(host.timers.count(kDeferredStartTimerId), 1u);
  EXPECT_EQ(host.threadsStarted, 0);

  fields.configReady.store(1);
  OnSessionTimer(fields, host, kDeferredStartTimerId);
  EXPECT_EQ(host.threadsStarted, 1);
  EXPECT_EQ(host.timers.count(kDeferredStartTimerId), 0u);
  OnSessionTimer(fields, host, kDeferredStartTimerId);  // a stray tick starts nothing more
  EXPECT_EQ(host.threadsStarted, 1);
}

TEST_F(SessionControlTest, StartWhileThePreviousSessionFinishesWaitsForIt) {
  StartRecording(fields, host);
  StopRecording(fields, host);
  ASSERT_TRUE(host.previousRunning);  // still closing its file
  StartRecording(fields, host);
  StartRecording(fields, host);
  EXPECT_EQ(host.threadsStarted, 1);
  EXPECT_EQ(fields.idleFlag.load(), 1);
  EXPECT_EQ(host.timers.count(kDeferredStartTimerId), 1u);

  host.previousRunning = false;
  OnSessionTimer(fields, host, kDeferredStartTimerId);
  EXPECT_EQ(host.threadsStarted, 2);
  EXPECT_EQ(fields.idleFlag.load(), 0);
}

TEST_F(SessionControlTest, StopCancelsAPendingStart) {
  // Pending because the previous session closes its file, or because the
  // start-up task is not done.
  for (bool notReady : {false, true}) {
    SCOPED_TRACE(notReady);
    SessionFields session;
    FakeHost ui;
    session.configReady.store(1);
    StartRecording(session, ui);
    StopRecording(session, ui);
    if (notReady) {
      ui.previousRunning = false;
      session.configReady.store(0);
    }
    StartRecording(session, ui);
    ASSERT_EQ(ui.timers.count(kDeferredStartTimerId), 1u);
    StopRecording(session, ui);
    EXPECT_EQ(ui.timers.count(kDeferredStartTimerId), 0u);
    ui.previousRunning = false;
    session.configReady.store(1);
    OnSessionTimer(session, ui, kDeferredStartTimerId);  // a tick already queued
    EXPECT_EQ(ui.threadsStarted, 1);
    EXPECT_EQ(ui.trayIcons.size(), 2u);  // the finishing session's two, no more
  }
}

TEST_F(SessionControlTest, StopFinishesOnceAndIsIgnoredWhileIdle) {
  StopRecording(fields, host);  // idle: nothing
  EXPECT_TRUE(host.captions.empty());
  EXPECT_TRUE(host.trayIcons.empty());

  StartRecording(fields, host);
  StopRecording(fields, host);
  EXPECT_EQ(fields.idleFlag.load(), 1);
  EXPECT_EQ(host.timers.count(kElapsedTimerId), 0u);
  EXPECT_EQ(host.trayIcons, (std::vector<int>{kRecordingIconId, kIdleIconId}));
  EXPECT_EQ(host.resumes, 1);
  const std::string finishing = host.captions[kStartButtonId];
  EXPECT_FALSE(finishing.empty());
  EXPECT_NE(finishing, IdleStartCaption());

  StopRecording(fields, host);  // a second Stop does nothing
  EXPECT_EQ(host.trayIcons.size(), 2u);
  EXPECT_EQ(host.resumes, 1);
}

TEST_F(SessionControlTest, ElapsedTimerCountsFromEachStart) {
  StartRecording(fields, host);
  for (int i = 0; i < 65; ++i) OnSessionTimer(fields, host, kElapsedTimerId);
  EXPECT_EQ(host.captions[kStartButtonId], "1:5");
  StopRecording(fields, host);
  host.previousRunning = false;
  StartRecording(fields, host);
  OnSessionTimer(fields, host, kElapsedTimerId);
  EXPECT_EQ(host.captions[kStartButtonId], "0:1");
  OnSessionTimer(fields, host, 7);  // other ids are not the session's
  EXPECT_EQ(host.captions[kStartButtonId], "0:1");
}

TEST_F(SessionControlTest, PauseStopsTheRecordedTimeWhereItIsAndResumeFinishesItsSecond) {
  TogglePause(fields, host);  // idle: nothing
  EXPECT_EQ(fields.pauseWanted.load(), 0);
  EXPECT_TRUE(host.captions.empty());

  host.nowMs = 5000;
  StartRecording(fields, host);
  EXPECT_TRUE(host.enabled[kPauseButtonId]);
  EXPECT_TRUE(host.pauseHotkey);
  EXPECT_EQ(host.captions[kPauseButtonId], "暂停");
  for (uint32_t tick = 1; tick <= 3; ++tick) {
    host.nowMs = 5000 + 1000 * tick;
    OnSessionTimer(fields, host, kElapsedTimerId);
  }
  host.nowMs = 8700;  // 3.7 s recorded
  TogglePause(fields, host);
  EXPECT_EQ(fields.pauseWanted.load(), 1);
  EXPECT_EQ(host.timers.count(kElapsedTimerId), 0u);
  EXPECT_EQ(host.captions[kStartButtonId], "0:3 已暂停");
  EXPECT_EQ(host.captions[kPauseButtonId], "继续");

  host.nowMs = 20000;
  TogglePause(fields, host);
  EXPECT_EQ(fields.pauseWanted.load(), 0);
  EXPECT_EQ(host.captions[kStartButtonId], "0:3");
  EXPECT_EQ(host.captions[kPauseButtonId], "暂停");
  EXPECT_EQ(host.timers[kElapsedTimerId], 300u);  // the 0.3 s left of the fourth second
  host.nowMs = 20300;
  OnSessionTimer(fields, host, kElapsedTimerId);
  EXPECT_EQ(host.captions[kStartButtonId], "0:4");
  EXPECT_EQ(host.timers[kElapsedTimerId], kElapsedTimerMs);

  host.nowMs = 20350;  // paused and resumed before the next tick
  TogglePause(fields, host);
  host.nowMs = 30000;
  TogglePause(fields, host);
  EXPECT_EQ(host.timers[kElapsedTimerId], 950u);

  TogglePause(fields, host);
  StopRecording(fields, host);  // while paused
  EXPECT_EQ(fields.idleFlag.load(), 1);
  EXPECT_FALSE(host.enabled[kPauseButtonId]);
  EXPECT_FALSE(host.pauseHotkey);
  EXPECT_EQ(host.captions[kPauseButtonId], "暂停");
  EXPECT_NE(host.captions[kStartButtonId], "0:4 已暂停");  // the saving caption
  TogglePause(fields, host);                               // finishing: nothing
  EXPECT_EQ(host.timers.count(kElapsedTimerId), 0u);

  host.previousRunning = false;
  StartRecording(fields, host);  // a new session is not paused
  EXPECT_EQ(fields.pauseWanted.load(), 0);
}

TEST(IdleCaptions, AreTheTemplateCaptions) {
  EXPECT_EQ(IdleStartCaption(), "开始");
  EXPECT_EQ(IdleStopCaption(), "停止");
}

}  // namespace
