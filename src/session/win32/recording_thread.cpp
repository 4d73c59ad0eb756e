#include <windows.h>

#include <string>

#include "audio/win32/audio_capture.h"
#include "audio/win32/loopback_capture.h"
#include "audio/win32/mixed_capture.h"
#include "framework/win32/app.h"
#include "framework/win32/debug_line.h"
#include "framework/win32/message_box.h"
#include "framework/win32/thread.h"
#include "framework/win32/wide_text.h"
#include "session/capture_rect.h"
#include "session/output_file_name.h"
#include "session/win32/recorder_globals.h"
#include "session/session_control.h"
#include "text/scrambled_text.h"
#include "video/win32/capture_video.h"

namespace {

// Lets the UI thread's last frame move settle before the rectangle is read.
constexpr DWORD kRegionFrameSettleMs = 30;
constexpr int kExitFileNotCreated = 1;
constexpr int kExitNoCaptureBackend = 1;
constexpr int kExitNoSoundDevice = 1;

CaptureRect ScreenOrRegion() {
  DEVMODEA mode = {};
  mode.dmSize = sizeof mode;
  EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode);
  CaptureRect rect = {0, 0, static_cast<int32_t>(mode.dmPelsWidth),
                      static_cast<int32_t>(mode.dmPelsHeight)};
  if (HWND frame = FindRegionFrame()) {
    Sleep(kRegionFrameSettleMs);
    RECT outer;
    GetWindowRect(frame, &outer);
    rect = InsideRegionFrame(outer.left, outer.top, outer.right, outer.bottom);
  }
  return WithEvenSize(rect);
}

// Creates the file exclusively, so a recording never replaces another
// file, then hands the reserved name to the writer, which truncates it.
FileCreation TryCreateExclusive(const std::string& name) {
  HANDLE file = CreateFileW(Widen(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return FileCreation::kCreated;
  }
  DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? FileCreation::kExists
                                                                     : FileCreation::kFailed;
}

// A reserved file that could not take its headers (a full disk) goes, so
// nothing empty or half-written is left behind.
[[noreturn]] void FailFileNotCreated(const std::string& reserved) {
  RemoveTrayIconBeforeExit();
  if (!reserved.empty()) DeleteFileW(Widen(reserved).c_str());
  MessageBoxOk(Unscrambled<texts::FileNotCreated>());
  EndProcessAtOnce(kExitFileNotCreated);
}

// The sound and capture sides have told the user already.
[[noreturn]] void EndProcess(int exitCode) {
  RemoveTrayIconBeforeExit();
  EndProcessAtOnce(exitCode);
}

void CloseSessionFile() {
  AviFileRelease(g_recorder.aviFile);
  g_recorder.aviFile = nullptr;
}

}  // namespace

unsigned __stdcall RecordingThread(void*) {
  StepClock steps;
  g_recorder.writeFailed.store(0);
  g_recorder.videoStarted.store(0);
  CaptureRect rect = ScreenOrRegion();
  g_recorder.captureLeft = rect.left;
  g_recorder.captureTop = rect.top;
  g_recorder.captureWidth = rect.width;
  g_recorder.captureHeight = rect.height;
  steps.Mark("rectangle");

  std::string name = ReserveFileName(MakeOutputFileName(), TryCreateExclusive);
  if (name.empty() || AviFileOpen(&g_recorder.aviFile, name.c_str()) != kAviOk) {
    FailFileNotCreated(name);
  }
  steps.Mark("file");

  const bool microphone = g_recorder.recordSound != 0;
  const bool computerSound = g_recorder.recordComputerSound != 0;
  const AudioStart audio = microphone && computerSound ? StartMixedCapture()
                           : computerSound             ? StartLoopbackCapture()
                           : microphone                ? StartAudioCapture()
                                                       : AudioStart::kNoSound;
  if (audio == AudioStart::kFatal) {
    CloseSessionFile();
    EndProcess(kExitNoSoundDevice);
  }
  steps.Mark("sound");
  DebugLine("parvelo session: started at %lu ms, %s", static_cast<unsigned long>(steps.StartMs()),
            steps.Text());

  const VideoOutcome video = CaptureVideo();
  if (audio == AudioStart::kRunning) FinishAudioCapture();
  CloseSessionFile();
  // The file is complete; without a way to grab the screen there is
  // nothing more to record.
  if (video == VideoOutcome::kNoBackend) EndProcess(kExitNoCaptureBackend);

  SetDlgItemTextW(g_recorder.mainWindow, kStopButtonId, Widen(IdleStopCaption()).c_str());
  SetDlgItemTextW(g_recorder.mainWindow, kStartButtonId, Widen(IdleStartCaption()).c_str());
  return 0;
}

void PrepareRecording() {
  BeginThread(LoopbackProbeThread, nullptr);
  PrepareCapture();
}
