#include "video/win32/codec_installation.h"

#include <windows.h>
#include <vfw.h>

#include <vector>

#include "framework/win32/debug_line.h"
#include "session/win32/recorder_globals.h"
#include "video/win32/compressed_stream.h"

namespace {

constexpr char kDriverProcName[] = "DriverProc";
constexpr DWORD kCodecQuality = 7500;
// The two bytes of the compressor's state the recorder sets: offset 28 to
// 1 (one frame out for every frame in) and offset 604 to 0 (no statistics
// file beside the recording).
constexpr size_t kStateZeroLatencyOffset = 28;
constexpr uint8_t kStateZeroLatencyOn = 1;
constexpr size_t kStateStatsFileOffset = 604;
constexpr uint8_t kStateStatsFileOff = 0;

using DriverProcFunction = LRESULT(WINAPI*)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM);

// The compressor's state: read from it, adjusted, handed back as its
// configuration; lives until the installation is removed.
std::vector<uint8_t> codecState;
bool codecInstalled = false;
AviStream* rawStream = nullptr;

DriverProcFunction LoadDriverProc() {
  // Loaded by bare name, so the program's own folder comes first; the
  // reference is kept for the life of the process.
  HMODULE library = LoadLibraryA(kCodecLibrary);
  return library ? reinterpret_cast<DriverProcFunction>(
                       reinterpret_cast<void*>(GetProcAddress(library, kDriverProcName)))
                 : nullptr;
}

// Reads the compressor's state and adjusts it; false when it has none.
bool ReadCodecState() {
  HIC compressor =
      ICOpen(ICTYPE_VIDEO, HandlerFromText(g_recorder.codecFourCCText), ICMODE_COMPRESS);
  if (!compressor) return false;
  LRESULT size = ICSendMessage(compressor, ICM_GETSTATE, 0, 0);
  if (size > 0) {
    codecState.assign(static_cast<size_t>(size), 0);
    ICSendMessage(compressor, ICM_GETSTATE, reinterpret_cast<DWORD_PTR>(codecState.data()),
                  static_cast<DWORD_PTR>(size));
    if (codecState.size() > kStateZeroLatencyOffset) {
      codecState[kStateZeroLatencyOffset] = kStateZeroLatencyOn;
    }
    if (codecState.size() > kStateStatsFileOffset) {
      codecState[kStateStatsFileOffset] = kStateStatsFileOff;
    }
  }
  // This instance only served to read the state; the stream opens its own.
  ICClose(compressor);
  return size > 0;
}

AVICOMPRESSOPTIONS CompressionOptions() {
  AVICOMPRESSOPTIONS options = {};
  options.fccType = ICTYPE_VIDEO;
  options.fccHandler = HandlerFromText(g_recorder.codecFourCCText);
  options.dwKeyFrameEvery = static_cast<DWORD>(g_recorder.framesPerSecond);  // one a second
  options.dwQuality = kCodecQuality;
  options.dwBytesPerSecond = 0;
  options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
  options.lpParms = codecState.data();
  options.cbParms = static_cast<DWORD>(codecState.size());
  return options;
}

}  // namespace

// Forwards every call to the library's DriverProc. Installed as a function
// driver, so the compressor is known to this process only.
LRESULT CALLBACK CodecDriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM param1,
                                 LPARAM param2) {
  DriverProcFunction proc = LoadDriverProc();
  return proc ? proc(driverId, driver, message, param1, param2) : 0;
}

bool OpenVideoStream(const FrameGeometry& geometry, StepClock& steps) {
  g_recorder.rawFormat = MakeRawFrameFormat(geometry.width, geometry.height);
  if (!LoadDriverProc()) return false;
  ICInstall(ICTYPE_VIDEO, kCodecHandler, reinterpret_cast<LPARAM>(CodecDriverProc), nullptr,
            ICINSTALL_FUNCTION);
  codecInstalled = true;
  const bool haveState = ReadCodecState();
  steps.Mark("codec");
  if (!haveState) return false;

  AVICOMPRESSOPTIONS options = CompressionOptions();
  AviStreamInfo header =
      MakeVideoStreamInfo(HandlerFromText(g_recorder.codecFourCCText), geometry.width,
                          geometry.height, g_recorder.framesPerSecond, geometry.frameBytes);
  if (AviFileCreateStream(g_recorder.aviFile, &rawStream, &header) != kAviOk) return false;
  if (AviMakeCompressedStream(&g_recorder.videoStream, rawStream, &options) != kAviOk ||
      AviStreamSetFormat(g_recorder.videoStream, 0, &g_recorder.rawFormat,
                         sizeof g_recorder.rawFormat) != kAviOk) {
    // The stream exists in the file now: it keeps the frames' own format,
    // so the file stays whole (a video stream without frames) and the
    // streams made after it are listed.
    AviStreamSetFormat(rawStream, 0, &g_recorder.rawFormat, sizeof g_recorder.rawFormat);
    CloseVideoStream();
    return false;
  }
  steps.Mark("streams");
  return true;
}

void CloseVideoStream() {
  if (g_recorder.videoStream) AviStreamRelease(g_recorder.videoStream);
  g_recorder.videoStream = nullptr;
  if (rawStream) AviStreamRelease(rawStream);
  rawStream = nullptr;
}

void RemoveCodec() {
  codecState.clear();
  codecState.shrink_to_fit();
  if (codecInstalled) ICRemove(ICTYPE_VIDEO, kCodecHandler, 0);
  codecInstalled = false;
}
