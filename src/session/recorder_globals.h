// The recorder's one block of process-wide state, shared by the UI thread,
// the start-up task, the recording thread and the audio thread. The flags
// in SessionFields are atomics; everything else has one writer at a time,
// as the comments say.
#pragma once

#include <windows.h>

#include "avi/avi_writer.h"
#include "session/session_fields.h"

struct RecorderGlobals : SessionFields {
  // Main dialog; published in dialog initialisation before any worker exists.
  HWND mainWindow = nullptr;
  // The current session's file; opened and released by the recording thread.
  AviFile* aviFile = nullptr;

  // Capture configuration, stored once by the start-up task before it
  // raises configReady.
  const char* ddrawLibraryName = nullptr;
  const char* ddrawCreateName = nullptr;
  const char* codecFourCCText = nullptr;
};

extern RecorderGlobals g_recorder;

// One recording session, from fixing the capture rectangle to closing the
// file and putting the idle captions back. Started by StartRecording.
unsigned __stdcall RecordingThread(void* param);
