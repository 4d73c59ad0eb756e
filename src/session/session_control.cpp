#include "session/session_control.h"

#include <cstdio>
#include <iterator>

#include "text/scrambled_text.h"

namespace {

// Entries of the frame-rate list, by index.
constexpr int32_t kFramesPerSecondByIndex[] = {8, 15, 25, 30};

constexpr unsigned kSecondsPerMinute = 60;

void DeferStart(SessionFields& fields, SessionHost& host) {
  fields.startPending = true;
  host.SetDialogTimer(kDeferredStartTimerId, kDeferredStartTimerMs);
}

}  // namespace

int32_t FramesPerSecondForSelection(int selection, int32_t previous) {
  if (selection < 0 || selection >= static_cast<int>(std::size(kFramesPerSecondByIndex))) {
    return previous;
  }
  return kFramesPerSecondByIndex[selection];
}

std::string FormatElapsed(uint32_t seconds) {
  char text[24];
  std::snprintf(text, sizeof text, "%u:%u", seconds / kSecondsPerMinute,
                seconds % kSecondsPerMinute);
  return text;
}

std::string PausedStartCaption(uint32_t seconds) {
  return FormatElapsed(seconds) + " " + Unscrambled<texts::PausedMark>();
}

std::string IdleStartCaption() {
  return Unscrambled<texts::StartCaption>();
}

std::string IdleStopCaption() {
  return Unscrambled<texts::StopCaption>();
}

void StartRecording(SessionFields& fields, SessionHost& host) {
  // Not ready yet, or the previous session is still closing its file: the
  // Start is kept on the deferred-start timer, which runs it again. A
  // second Start meanwhile only re-arms that timer.
  if (fields.configReady.load(std::memory_order_acquire) == 0) {
    DeferStart(fields, host);
    return;
  }
  if (fields.idleFlag.load() != 1) return;
  if (host.PreviousSessionRunning()) {
    DeferStart(fields, host);
    return;
  }

  fields.idleFlag.store(0);
  fields.pauseWanted.store(0);
  fields.elapsedSeconds = 0;
  fields.secondBeganMs = host.NowMs();
  fields.shortSecondPending = false;
  host.SetDialogTimer(kElapsedTimerId, kElapsedTimerMs);

  fields.drawPointer = host.CheckBoxState(kPointerBoxId);
  fields.recordSound = host.CheckBoxState(kSoundBoxId);
  fields.recordComputerSound = host.CheckBoxState(kComputerSoundBoxId);
  fields.framesPerSecond =
      FramesPerSecondForSelection(host.FrameRateSelection(), fields.framesPerSecond);
  if (fields.recordSound != 0 && host.WaveInDeviceCount() < 1) fields.recordSound = 0;

  // The region frame belongs to this thread: it stops following drags
  // before the recording thread reads its rectangle.
  host.FreezeRegionFrame();
  host.StartRecordingThread();
  host.SetTrayIcon(kRecordingIconId);
  host.SetButtonCaption(kPauseButtonId, Unscrambled<texts::PauseCaption>());
  host.EnableControl(kPauseButtonId, true);
  host.RegisterPauseHotkey();
}

void StopRecording(SessionFields& fields, SessionHost& host) {
  // A Start still waiting on the deferred-start timer is the user's
  // earlier wish; Stop is the later one and overrides it, also while
  // nothing records.
  fields.startPending = false;
  host.KillDialogTimer(kDeferredStartTimerId);
  if (fields.idleFlag.load() != 0) return;
  // The saving caption stays on the Start button until the file is closed.
  host.SetButtonCaption(kStartButtonId, Unscrambled<texts::SavingCaption>());
  fields.idleFlag.store(1);
  host.KillDialogTimer(kElapsedTimerId);
  host.ResumeRegionFrame();
  host.SetTrayIcon(kIdleIconId);
  host.UnregisterPauseHotkey();
  host.EnableControl(kPauseButtonId, false);
  host.SetButtonCaption(kPauseButtonId, Unscrambled<texts::PauseCaption>());
}

void TogglePause(SessionFields& fields, SessionHost& host) {
  if (fields.idleFlag.load() != 0) return;
  if (fields.pauseWanted.load() == 0) {
    // The elapsed time stops where it is, part of a second included.
    const uint32_t intoSecondMs = host.NowMs() - fields.secondBeganMs;
    fields.pausedIntoSecondMs = intoSecondMs < kElapsedTimerMs ? intoSecondMs : kElapsedTimerMs - 1;
    host.KillDialogTimer(kElapsedTimerId);
    fields.pauseWanted.store(1);
    host.SetButtonCaption(kStartButtonId, PausedStartCaption(fields.elapsedSeconds));
    host.SetButtonCaption(kPauseButtonId, Unscrambled<texts::ResumeCaption>());
    return;
  }
  fields.pauseWanted.store(0);
  // The second the pause cut short is finished first; its tick re-arms
  // the full second.
  fields.secondBeganMs = host.NowMs() - fields.pausedIntoSecondMs;
  fields.shortSecondPending = true;
  host.SetDialogTimer(kElapsedTimerId, kElapsedTimerMs - fields.pausedIntoSecondMs);
  host.SetButtonCaption(kStartButtonId, FormatElapsed(fields.elapsedSeconds));
  host.SetButtonCaption(kPauseButtonId, Unscrambled<texts::PauseCaption>());
}

void OnSessionTimer(SessionFields& fields, SessionHost& host, unsigned timerId) {
  if (timerId == kElapsedTimerId) {
    ++fields.elapsedSeconds;
    fields.secondBeganMs = host.NowMs();
    if (fields.shortSecondPending) {
      fields.shortSecondPending = false;
      host.SetDialogTimer(kElapsedTimerId, kElapsedTimerMs);
    }
    host.SetButtonCaption(kStartButtonId, FormatElapsed(fields.elapsedSeconds));
  } else if (timerId == kDeferredStartTimerId) {
    host.KillDialogTimer(kDeferredStartTimerId);
    if (!fields.startPending) return;
    fields.startPending = false;
    StartRecording(fields, host);
  }
}
