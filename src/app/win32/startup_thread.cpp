// The start-up task: publishes the capture configuration, declares the
// recorder ready, then gets the capture side ready. A Start before the
// recorder is ready is retried by the deferred-start timer.
#include <windows.h>

#include "session/win32/recorder_globals.h"

unsigned __stdcall StartupThread(void*) {
  g_recorder.ddrawLibraryName = "ddraw.dll";
  g_recorder.ddrawCreateName = "DirectDrawCreate";
  g_recorder.codecFourCCText = "X264";
  // Release: the three settings are visible to whoever sees the flag.
  g_recorder.configReady.store(1, std::memory_order_release);
  // The first use of the grabbing libraries in a process is the longest
  // part of a session's set-up (under Wine, half a second of its OpenGL
  // stack); paid here, after the flag, a Start that comes meanwhile waits
  // only for what is left of it.
  PrepareRecording();
  return 0;
}
