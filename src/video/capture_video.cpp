#include "video/capture_video.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <memory>

#include "framework/message_box.h"
#include "session/recorder_globals.h"
#include "text/scrambled_text.h"
#include "video/capture_backend.h"
#include "video/codec_stream.h"
#include "video/frame_slot.h"

namespace {

constexpr DWORD kStopPollMs = 10;
// Its layout per processor is checked beside the DirectDraw back-end.
constexpr DWORD kSurfaceDescBytes = sizeof(DDSURFACEDESC);

CaptureBackend SetUpBackend() {
  if (InitDirect3DCapture()) {
    if (SetUpDirect3DSurface()) return CaptureBackend::kDirect3D;
    // A device whose surface cannot be made, or whose front-buffer copy is
    // not the screen, is given up for DirectDraw.
    ReleaseDirect3D();
  }
  if (InitDirectDrawCapture()) {
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

void Grab(CaptureBackend backend, const FrameGeometry& geometry) {
  if (backend == CaptureBackend::kDirect3D) {
    GrabDirect3D(geometry);
  } else {
    GrabDirectDraw(geometry);
  }
}

void WaitForStop() {
  while (g_recorder.idleFlag.load() == 0) Sleep(kStopPollMs);
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
    char line[256];
    std::snprintf(line, sizeof line,
                  "parvelo capture: backend %s, %u grabs, %u of %u slots written, "
                  "grab %.2f ms, encode+write %.2f ms\n",
                  backend, grabs, writes, slots, MeanMs(grabTicks, grabs),
                  MeanMs(writeTicks, writes));
    OutputDebugStringA(line);
  }
};

// Grabs back to back until Stop, writing each grab whose slot is new.
void RecordFrames(CaptureBackend backend, const FrameGeometry& geometry) {
  CaptureStats stats;
  QueryPerformanceFrequency(&stats.frequency);
  const FramePacing pacing = PacingFor(g_recorder.framesPerSecond);
  const DWORD start = timeGetTime();
  g_recorder.videoStartMs.store(start);
  g_recorder.videoStarted.store(1);
  int64_t lastIndex = -1;
  while (g_recorder.idleFlag.load() == 0) {
    // Taken before the grab: a frame belongs to the slot its grab began in.
    const uint32_t index = FrameSlotIndex(timeGetTime() - start, pacing);
    const int64_t grabStart = CaptureStats::Now();
    Grab(backend, geometry);
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
  }
  stats.Report(backend == CaptureBackend::kDirect3D ? "Direct3D" : "DirectDraw");
}

}  // namespace

VideoOutcome CaptureVideo() {
  const FrameGeometry geometry = GeometryFor(g_recorder.captureWidth, g_recorder.captureHeight);
  g_recorder.frameBytes = geometry.frameBytes;
  // Zeroed, so a grab that fails before the first frame writes black.
  std::unique_ptr<uint8_t[]> frameBuffer(
      new uint8_t[2 * static_cast<size_t>(geometry.frameBytes)]());
  g_recorder.frameBuffer = frameBuffer.get();

  const CaptureBackend backend = SetUpBackend();
  if (backend == CaptureBackend::kNone) {
    g_recorder.frameBuffer = nullptr;
    // "无法截取屏幕，程序即将退出"
    MessageBoxOk(
        UnscrambleLetters<'D', 'D', 'H', 'I', 'A', 'F', 'A', 'C', 'B', 'V', 'I', 'C', 'H', 'L', 'B',
                          'W', 'E', 'X', 'H', 'T', 'G', 'J', 'I', 'D', 'E', 'P', 'A', 'O', 'E', 'Z',
                          'H', 'K', 'A', 'K', 'J', 'P', 'C', 'D', 'J', 'C', 'H', 'S', 'A', 'N', 'A',
                          'X', 'J', 'L', 'C', 'R', 'H', 'X', 'I', 'I', 'H', 'U', 'H', 'F', 'B', 'Q',
                          'I', 'F', 'D', 'Q', 'D', 'U', 'G', 'D', 'H', 'C', 'D', 'S', 'C', 'J', 'H',
                          'E', 'B', 'Z'>());
    return VideoOutcome::kNoBackend;
  }

  if (OpenVideoStream(geometry)) {
    RecordFrames(backend, geometry);
  } else {
    // No compressor: the session goes on (with sound, if wanted) until the
    // user stops it, and the file is closed properly.
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
