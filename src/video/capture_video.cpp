#include "video/capture_video.h"

#include <windows.h>

#include "session/recorder_globals.h"

namespace {
constexpr DWORD kIdlePollMs = 10;
}

void CaptureVideo() {
  while (g_recorder.idleFlag.load() == 0) Sleep(kIdlePollMs);
}
