// The recorder's one block of process-wide state, shared by the UI thread,
// the start-up task, the recording thread and the audio thread. The flags
// in SessionFields are atomics; everything else has one writer at a time,
// as the comments say.
#pragma once

#include <windows.h>
#include <ddraw.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "audio/mp3_format.h"
#include "session/session_fields.h"
#include "video/video_formats.h"

class AviFile;
class AviStream;
struct lame_global_struct;
struct IDirect3DDevice9;
struct IDirect3DSurface9;

// Names the user-interface side and the capture side both use.
// The codec library, beside the program in the current directory.
constexpr char kCodecLibrary[] = "x264vfw.dll";
// The region frame's window class and title: the frame is found by both.
constexpr char kRegionFrameClassName[] = "selectrecwd";
// IDC_ARROW as a number, for LoadCursorA and LoadCursorW alike.
constexpr WORD kStandardArrowId = 32512;
// sizeof(DDSURFACEDESC), the dwSize every DirectDraw surface description carries.
// The 64-bit build's surface pointer widens the record.
constexpr DWORD kSurfaceDescBytes = sizeof(void*) == 8 ? 120 : 108;
static_assert(sizeof(DDSURFACEDESC) == kSurfaceDescBytes, "DDSURFACEDESC layout");

// The microphone's buffers: zero-initialised storage of their own, so they
// take no room in the program file.
extern uint8_t waveBufferStorage[kAudioBufferCount][kAudioBufferBytes];

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

  // Video side: created and released by CaptureVideo on the recording thread.
  IDirect3DDevice9* d3dDevice = nullptr;
  IDirect3DSurface9* d3dSurface = nullptr;  // the whole screen, in system memory
  IDirectDraw* ddraw = nullptr;
  IDirectDrawSurface* ddPrimarySurface = nullptr;
  IDirectDrawSurface* ddCopySurface = nullptr;  // the capture rectangle
  DDSURFACEDESC ddSurfaceDesc = {};             // filled by every Lock
  RawFrameFormat rawFormat = {};                // the uncompressed frames
  AviStream* videoStream = nullptr;             // the compressed video stream
  int32_t frameBytes = 0;                       // bytes of one frame
  uint8_t* frameBuffer = nullptr;               // zeroed, twice frameBytes

  // Audio side: set up by StartAudioCapture, then the audio thread's.
  HWAVEIN waveIn = nullptr;
  WAVEFORMATEX waveFormat = {};
  WAVEHDR waveHeaders[kAudioBufferCount] = {};
  // Header i always describes buffer i; the buffers live for the process.
  uint8_t (*waveBuffers)[kAudioBufferBytes] = waveBufferStorage;
  lame_global_struct* lameFlags = nullptr;
  uint8_t* mp3Buffer = nullptr;  // kMp3BufferBytes, one per session
  int32_t mp3Bytes = 0;          // result of the last encode or flush

  // timeGetTime at the video's position 0, published by the video loop
  // (videoStarted raised to 1 after it) for the audio side to line up with;
  // videoStarted is kVideoAbsent when the session records no video at all,
  // and its sound is then kept as it comes.
  std::atomic<uint32_t> videoStartMs{0};
  std::atomic<uint8_t> videoStarted{0};
  // timeGetTime when the video loop ended, stored before it returns: the
  // sound is made to run to there.
  std::atomic<uint32_t> videoEndMs{0};

  // Set by the first writer failure of a session (either thread); the
  // dialog is told once and stops the session.
  std::atomic<uint8_t> writeFailed{0};
};

constexpr uint8_t kVideoAbsent = 2;

// What a worker asks the main dialog to tell the user. Workers never show
// a message box that the session would wait on, except before ending the
// process.
enum class RecordingNotice : WPARAM {
  kWriteFailed,       // the file cannot be written: the dialog also stops the session
  kCompressorFailed,  // the video compressor failed: the dialog also stops the session
  kNoCodec,           // the session records without video
  kAudioBusy,         // the last session's audio has not ended: no sound this time
  kNoComputerSound,   // the output device cannot be recorded now: no sound this time
  kMicrophoneOnly,    // with both sounds ticked, the output device cannot be recorded now
  kEndingProcess,     // sent, not posted: the process is about to end, the icon goes now
};
constexpr UINT WM_RECORDING_NOTICE = WM_APP + 1;

// Whether the computer's sound can be recorded here, as trying it once at
// start-up found; posted to the main dialog as the WPARAM of
// WM_LOOPBACK_PROBED.
enum class LoopbackSupport : WPARAM {
  kAvailable,
  kNoOutputDevice,
  kUnsupported,  // no loopback on this system (Wine before 9.12)
};
constexpr UINT WM_LOOPBACK_PROBED = WM_APP + 2;
void PostRecordingNotice(RecordingNotice notice);
// Reports a failed write of the session's file to the UI thread, once a
// session, by its kind: the disk, or the video compressor.
void ReportWriteFailure(int aviResult);
// Before a worker ends the process: the UI thread, which owns the
// notification icon's record, removes the icon; returns once it is gone.
void RemoveTrayIconBeforeExit();

extern RecorderGlobals g_recorder;

// The region frame if it is on the screen, else nullptr.
HWND FindRegionFrame();

// One recording session, from fixing the capture rectangle to closing the
// file and putting the idle captions back. Started by StartRecording.
unsigned __stdcall RecordingThread(void* param);

// Gets the capture side ready ahead of the first session (see
// PrepareCapture); the start-up task's last step, once the recorder is
// ready, so that no Start waits for it. Whether the computer's sound can
// be recorded is found meanwhile on a thread of its own, and the dialog
// told (WM_LOOPBACK_PROBED).
void PrepareRecording();
