// The start-up task: publishes the capture configuration, then declares
// the recorder ready. A Start before that is retried by the deferred-start
// timer.
#include <windows.h>

#include "session/win32/recorder_globals.h"

unsigned __stdcall StartupThread(void*) {
  g_recorder.ddrawLibraryName = "ddraw.dll";
  g_recorder.ddrawCreateName = "DirectDrawCreate";
  g_recorder.codecFourCCText = "X264";
  // Release: the three settings are visible to whoever sees the flag.
  g_recorder.configReady.store(1, std::memory_order_release);
  return 0;
}
