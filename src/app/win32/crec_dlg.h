// The main dialog: Start, Stop and Pause, the four check boxes, the hidden
// hotkey and frame-rate lists, the notification icon and the session's
// timers. All recorder state lives in RecorderGlobals.
#pragma once

#include <windows.h>

#include "framework/win32/dialog.h"
#include "framework/win32/scoped_win.h"
#include "session/session_control.h"

class CrecDlg : public CDialogBase, private SessionHost {
 public:
  CrecDlg();
  ~CrecDlg() override;

  void StartRecording();
  void StopRecording();
  void TogglePause();

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  MessageTable GetMessageTable() const override;

 private:
  friend struct CrecDlgTable;

  MessageResult OnPaint(WPARAM, LPARAM);
  MessageResult OnQueryDragIcon(WPARAM, LPARAM);
  MessageResult HandleHotKey(WPARAM id, LPARAM);
  MessageResult OnTrayNotify(WPARAM, LPARAM mouseMessage);
  MessageResult OnSysCommand(WPARAM command, LPARAM);
  MessageResult OnTimer(WPARAM id, LPARAM);
  MessageResult OnRecordingNotice(WPARAM notice, LPARAM);
  MessageResult OnQueryEndSession(WPARAM, LPARAM);
  MessageResult OnEndSession(WPARAM ending, LPARAM);
  MessageResult OnLoopbackProbed(WPARAM support, LPARAM);
  void ToggleFullScreen();
  void RegisterStartHotkey();
  void RegisterStopHotkey();

  void FillLists();
  void BringToFront();
  // Before the dialog ends by any way: a running recording is stopped and
  // its file closed, then the notification icon goes.
  void FinishBeforeEnd();
  // Stops a running recording and handles messages until its file is closed.
  void FinishRecording();

  // SessionHost
  void SetDialogTimer(unsigned id, unsigned periodMs) override;
  void KillDialogTimer(unsigned id) override;
  int CheckBoxState(int controlId) override;
  int FrameRateSelection() override;
  unsigned WaveInDeviceCount() override;
  bool PreviousSessionRunning() override;
  void StartRecordingThread() override;
  void SetTrayIcon(int iconId) override;
  void SetButtonCaption(int controlId, const std::string& utf8) override;
  void FreezeRegionFrame() override;
  void ResumeRegionFrame() override;
  void EnableControl(int controlId, bool enabled) override;
  void RegisterPauseHotkey() override;
  void UnregisterPauseHotkey() override;
  uint32_t NowMs() override;

  HICON icon_;
  // The last session's recording thread, to know when it has ended.
  ScopedHandle recordingThread_;
  bool ending_ = false;
  bool waitingForSession_ = false;
};
