#include "video/win32/capture_video.h"

#include <windows.h>
#include <mmsystem.h>

#include <memory>

#include "avi/avi_writer.h"
#include "framework/win32/debug_line.h"
#include "framework/win32/message_box.h"
#include "session/win32/recorder_globals.h"
#include "text/scrambled_text.h"
#include "video/win32/capture_backend.h"
#include "video/slot_clock.h"
#include "video/win32/codec_installation.h"
#include "video/win32/compressed_stream.h"

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

bool Recording() {
  return g_recorder.idleFlag.load() == 0;
}

void WaitForStop() {
  while (Recording()) WaitServingMessages(kStopPollMs);
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

bool PauseWanted() {
  return g_recorder.pauseWanted.load() != 0;
}

class FrameRecorder {
 public:
  FrameRecorder(CaptureBackend backend, const FrameGeometry& geometry)
      : backend_(backend),
        geometry_(geometry),
        start_(timeGetTime()),
        clock_(PacingFor(g_recorder.framesPerSecond), g_recorder.pauses) {
    QueryPerformanceFrequency(&stats_.frequency);
  }

  uint32_t StartMs() const { return start_; }

  // Grabs back to back until Stop, writing each grab whose slot is new,
  // and pauses when asked. The first pass is made even when Stop came
  // during the set-up: a session that made its stream always holds a
  // picture (a stream without frames is one that common players and
  // decoders refuse), and the sound, already lined up with this first
  // frame, is not lined up with one that never comes. A pause asked before
  // the first frame takes effect after it.
  void Run() {
    do {
      // Taken before the grab: a frame belongs to the slot its grab began in.
      const uint32_t index = clock_.Slot(ElapsedMs());
      const bool grabbed = TimedGrab();
      if (index != lastIndex_) WriteFrame(index);
      lastIndex_ = index;
      if (grabbed) {
        ServeWindowMessages();
      } else {
        WaitServingMessages(kLostDeviceWaitMs);
      }
      if (PauseWanted() && Recording()) PauseUntilResumed();
    } while (Recording());
    g_recorder.videoEndMs.store(timeGetTime());
    stats_.Report(backend_ == CaptureBackend::kDirect3D ? "Direct3D" : "DirectDraw");
  }

 private:
  uint32_t ElapsedMs() const { return timeGetTime() - start_; }

  bool TimedGrab() {
    const int64_t grabStart = CaptureStats::Now();
    const bool grabbed = Grab(backend_, geometry_);
    stats_.grabTicks += CaptureStats::Now() - grabStart;
    ++stats_.grabs;
    return grabbed;
  }

  void WriteFrame(uint32_t index) {
    const int64_t writeStart = CaptureStats::Now();
    int result = AviStreamWrite(g_recorder.videoStream, static_cast<int32_t>(index), 1,
                                g_recorder.frameBuffer, g_recorder.frameBytes, kAviIfKeyframe,
                                nullptr, nullptr);
    if (result != kAviOk) ReportWriteFailure(result);
    stats_.writeTicks += CaptureStats::Now() - writeStart;
    ++stats_.writes;
    stats_.slots = index + 1;
  }

  // The recording stops at the end of the last slot written: its frame
  // stands until the pause, and the sound is cut at the same moment. The
  // loop then only serves its window's messages until the user resumes or
  // stops. Before the recording goes on, a grab must work again (a device
  // lost meanwhile to the lock screen or UAC is recovered), so the first
  // frame after the pause is a fresh one; it goes to the next position and
  // is a key frame, where seeking lands.
  void PauseUntilResumed() {
    const uint32_t pauseAtMs = clock_.Pause(ElapsedMs(), static_cast<uint32_t>(lastIndex_));
    // Nothing is written while paused: what is there is published now.
    AviFilePublish(g_recorder.aviFile);
    DebugLine("parvelo capture: paused at %lu ms", static_cast<unsigned long>(start_ + pauseAtMs));
    for (;;) {
      while (PauseWanted() && Recording()) WaitServingMessages(kStopPollMs);
      if (!Recording()) return;
      if (Grab(backend_, geometry_)) break;
      WaitServingMessages(kLostDeviceWaitMs);
    }
    const uint32_t resumeAtMs = ElapsedMs();
    clock_.Resume(resumeAtMs);
    AviAskKeyFrame(g_recorder.videoStream);
    DebugLine("parvelo capture: resumed at %lu ms",
              static_cast<unsigned long>(start_ + resumeAtMs));
  }

  const CaptureBackend backend_;
  const FrameGeometry& geometry_;
  const DWORD start_;
  SlotClock clock_;
  CaptureStats stats_;
  int64_t lastIndex_ = -1;
};

void RecordFrames(CaptureBackend backend, const FrameGeometry& geometry, const StepClock& steps) {
  g_recorder.pauses.Clear();
  FrameRecorder recorder(backend, geometry);
  const DWORD start = recorder.StartMs();
  g_recorder.videoStartMs.store(start);
  g_recorder.videoStarted.store(1);
  DebugLine("parvelo capture: first frame at %lu ms, set-up %lu ms: %s",
            static_cast<unsigned long>(start), static_cast<unsigned long>(start - steps.StartMs()),
            steps.Text());
  recorder.Run();
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
