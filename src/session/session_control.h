// Start, Stop and the dialog's session timers, as decisions over the
// shared flags. The dialog provides SessionHost; tests provide a fake.
#pragma once

#include <cstdint>
#include <string>

#include "res/resource.h"
#include "session/session_fields.h"

// Controls of the main dialog that a session reads or changes.
constexpr int kStartButtonId = IDC_START;
constexpr int kStopButtonId = IDC_STOP;
constexpr int kPauseButtonId = IDC_PAUSE;
constexpr int kSoundBoxId = IDC_SOUND;
constexpr int kPointerBoxId = IDC_POINTER;
constexpr int kComputerSoundBoxId = IDC_COMPUTER_SOUND;

// Dialog timers.
constexpr unsigned kElapsedTimerId = 1;
constexpr unsigned kElapsedTimerMs = 1000;
constexpr unsigned kDeferredStartTimerId = 3;
constexpr unsigned kDeferredStartTimerMs = 100;

// Notification-area icons.
constexpr int kIdleIconId = IDR_MAINFRAME;
constexpr int kRecordingIconId = IDI_RECORDING;

// What the session logic asks of the dialog and the system.
class SessionHost {
 public:
  virtual ~SessionHost() = default;
  virtual void SetDialogTimer(unsigned id, unsigned periodMs) = 0;
  virtual void KillDialogTimer(unsigned id) = 0;
  virtual int CheckBoxState(int controlId) = 0;
  virtual int FrameRateSelection() = 0;
  virtual unsigned WaveInDeviceCount() = 0;
  // The previous session's recording thread has not ended yet.
  virtual bool PreviousSessionRunning() = 0;
  virtual void StartRecordingThread() = 0;
  virtual void SetTrayIcon(int iconId) = 0;
  virtual void SetButtonCaption(int controlId, const std::string& utf8) = 0;
  virtual void EnableControl(int controlId, bool enabled) = 0;
  // The pause hotkey exists only while a session records; one that is
  // taken is left unregistered without a word (the button still works).
  virtual void RegisterPauseHotkey() = 0;
  virtual void UnregisterPauseHotkey() = 0;
  // A millisecond clock for the elapsed-time display.
  virtual uint32_t NowMs() = 0;
  // The region frame, if present, stops or resumes following drags.
  virtual void FreezeRegionFrame() = 0;
  virtual void ResumeRegionFrame() = 0;
};

// Frame rate for an index of the frame-rate list; any other index (no
// selection) keeps the previous rate.
int32_t FramesPerSecondForSelection(int selection, int32_t previous);

// "minutes:seconds" without leading zeros: 65 s shows as "1:5".
std::string FormatElapsed(uint32_t seconds);

void StartRecording(SessionFields& fields, SessionHost& host);
void StopRecording(SessionFields& fields, SessionHost& host);
// The Pause button and hotkey: pauses a recording, or resumes a paused
// one; does nothing while no session records.
void TogglePause(SessionFields& fields, SessionHost& host);
// Runs the session's part of a dialog timer tick; the caller then does the
// window's default processing for every id.
void OnSessionTimer(SessionFields& fields, SessionHost& host, unsigned timerId);

// The Start button while paused: the recorded time, standing, marked.
std::string PausedStartCaption(uint32_t seconds);

// Captions the recording thread puts back once the file is closed.
std::string IdleStartCaption();
std::string IdleStopCaption();
