#include "session/win32/recorder_globals.h"

#include "avi/avi_writer.h"
#include "video/win32/compressed_stream.h"

uint8_t waveBufferStorage[kAudioBufferCount][kAudioBufferBytes];
RecorderGlobals g_recorder;

void PostRecordingNotice(RecordingNotice notice) {
  PostMessageW(g_recorder.mainWindow, WM_RECORDING_NOTICE, static_cast<WPARAM>(notice), 0);
}

void ReportWriteFailure(int aviResult) {
  if (aviResult == kAviOk || g_recorder.writeFailed.exchange(1) != 0) return;
  PostRecordingNotice(aviResult == kAviErrorCompressor ? RecordingNotice::kCompressorFailed
                                                       : RecordingNotice::kWriteFailed);
}

void RemoveTrayIconBeforeExit() {
  SendMessageW(g_recorder.mainWindow, WM_RECORDING_NOTICE,
               static_cast<WPARAM>(RecordingNotice::kEndingProcess), 0);
}

HWND FindRegionFrame() {
  return FindWindowA(kRegionFrameClassName, kRegionFrameClassName);
}
