#include "video/win32/capture_video.h"

#include <windows.h>
#include <mmsystem.h>

#include <memory>

#include "framework/win32/debug_line.h"
#include "framework/win32/message_box.h"
#include "session/win32/recorder_globals.h"
#include "text/scrambled_text.h"
#include "video/win32/capture_backend.h"
#include "video/win32/codec_stream.h"
#include "video/frame_slot.h"

namespace {

constexpr DWORD kStopPollMs = 10;
// While the back-end's device is lost, a pass waits this long (or until a
// message comes) before the next attempt, instead of spinning.
constexpr DWORD kLostDeviceWaitMs = 50;

CaptureBackend SetUpBackend(StepClock& steps) {
  const bool device = InitDirect3DCapture();
  steps.Mark("direct3d device");
  if (device) {
    const bool surface = SetUpDirect3DSurface();
    steps.Mark("direct3d test grabs");
    if (surface) return CaptureBackend::kDirect3D;
    // A device whose surface cannot be made, or whose front-buffer copy is
    // not the screen, is given up for DirectDraw.
    ReleaseDirect3D();
  }
  const bool directDraw = InitDirectDrawCapture();
  steps.Mark("directdraw");
  if (directDraw) {
    g_recorder.ddSurfaceDesc = {};
    g_recorder.ddSurfaceDesc.dwSize = kSurfaceDescBytes;
    return CaptureBackend::kDirectDraw;
  }
  ReleaseDirectDraw();
  return CaptureBackend::kNone;
}

void ReleaseBackend(CaptureBackend backend) {
  if (backend == CaptureBackend::kDirect3D) ReleaseDirect3D();
  if (backend == CaptureBackend::kDirectDraw) ReleaseDirectDraw();
}

bool Grab(CaptureBackend backend, const FrameGeometry& geometry) {
  return backend == CaptureBackend::kDirect3D ? GrabDirect3D(geometry) : GrabDirectDraw(geometry);
}

// The Direct3D device's window belongs to this thread: anything sent to it
// (a broadcast of a settings change, an installer asking every window)
// waits until this thread reads its messages.
void ServeWindowMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Waits for `ms`, or less when a message arrives, then serves messages.
void WaitServingMessages(DWORD ms) {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
  ServeWindowMessages();
}

void WaitForStop() {
  while (g_recorder.idleFlag.load() == 0) WaitServingMessages(kStopPollMs);
}

// Where a session's time went, for the benchmark (read with
// WINEDEBUG=+debugstr, or a debugger's output window on Windows).
struct CaptureStats {
  LARGE_INTEGER frequency;
  int64_t grabTicks = 0;
  int64_t writeTicks = 0;
  uint32_t grabs = 0;
  uint32_t writes = 0;
  uint32_t slots = 0;

  static int64_t Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
  }
  double MeanMs(int64_t ticks, uint32_t count) const {
    return count ? 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart) /
                       count
                 : 0.0;
  }
  void Report(const char* backend) const {
    DebugLine(
        "parvelo capture: backend %s, %u grabs, %u of %u slots written, "
        "grab %.2f ms, encode+write %.2f ms",
        backend, grabs, writes, slots, MeanMs(grabTicks, grabs), MeanMs(writeTicks, writes));
  }
};

// Grabs back to back until Stop, writing each grab whose slot is new. The
// first pass is made even when Stop came during the set-up: a session that
// made its stream always holds a picture (a stream without frames is one
// that common players and decoders refuse), and the sound, already lined
// up with this first frame, is not lined up with one that never comes.
void RecordFrames(CaptureBackend backend, const FrameGeometry& geometry, const StepClock& steps) {
  CaptureStats stats;
  QueryPerformanceFrequency(&stats.frequency);
  const FramePacing pacing = PacingFor(g_recorder.framesPerSecond);
  const DWORD start = timeGetTime();
  g_recorder.videoStartMs.store(start);
  g_recorder.videoStarted.store(1);
  DebugLine("parvelo capture: first frame at %lu ms, set-up %lu ms: %s",
            static_cast<unsigned long>(start), static_cast<unsigned long>(start - steps.StartMs()),
            steps.Text());
  int64_t lastIndex = -1;
  do {
    // Taken before the grab: a frame belongs to the slot its grab began in.
    const uint32_t index = FrameSlotIndex(timeGetTime() - start, pacing);
    const int64_t grabStart = CaptureStats::Now();
    const bool grabbed = Grab(backend, geometry);
    const int64_t grabEnd = CaptureStats::Now();
    stats.grabTicks += grabEnd - grabStart;
    ++stats.grabs;
    if (index != lastIndex) {
      int result = AviStreamWrite(g_recorder.videoStream, static_cast<int32_t>(index), 1,
                                  g_recorder.frameBuffer, g_recorder.frameBytes, kAviIfKeyframe,
                                  nullptr, nullptr);
      if (result != kAviOk) ReportWriteFailure(result);
      stats.writeTicks += CaptureStats::Now() - grabEnd;
      ++stats.writes;
      stats.slots = index + 1;
    }
    lastIndex = index;
    if (grabbed) {
      ServeWindowMessages();
    } else {
      WaitServingMessages(kLostDeviceWaitMs);
    }
  } while (g_recorder.idleFlag.load() == 0);
  stats.Report(backend == CaptureBackend::kDirect3D ? "Direct3D" : "DirectDraw");
}

}  // namespace

void PrepareCapture() {
  WarmUpDirect3D();
  WarmUpDirectDraw();
}

VideoOutcome CaptureVideo() {
  const FrameGeometry geometry = GeometryFor(g_recorder.captureWidth, g_recorder.captureHeight);
  g_recorder.frameBytes = geometry.frameBytes;
  // Zeroed, so a grab that fails before the first frame writes black.
  std::unique_ptr<uint8_t[]> frameBuffer(
      new uint8_t[2 * static_cast<size_t>(geometry.frameBytes)]());
  g_recorder.frameBuffer = frameBuffer.get();

  StepClock steps;
  const CaptureBackend backend = SetUpBackend(steps);
  if (backend == CaptureBackend::kNone) {
    g_recorder.frameBuffer = nullptr;
    // The process ends after the message: the icon goes first.
    RemoveTrayIconBeforeExit();
    MessageBoxOk(Unscrambled<texts::NoCaptureBackend>());
    return VideoOutcome::kNoBackend;
  }

  if (OpenVideoStream(geometry, steps)) {
    RecordFrames(backend, geometry, steps);
  } else {
    // No compressor: the session goes on (with sound, if wanted) until the
    // user stops it, and the file is closed properly.
    g_recorder.videoStarted.store(kVideoAbsent);
    PostRecordingNotice(RecordingNotice::kNoCodec);
    WaitForStop();
  }

  CloseVideoStream();
  g_recorder.frameBuffer = nullptr;
  frameBuffer.reset();
  ReleaseBackend(backend);
  RemoveCodec();
  return VideoOutcome::kFinished;
}
