// The part of the recorder's shared state that the session logic decides
// on: the flags the threads signal through and the settings taken at
// Start. The Windows side extends it into RecorderGlobals with the
// platform handles.
#pragma once

#include <atomic>
#include <cstdint>

// Frame rate before the first Start has read the selector.
constexpr int32_t kInitialFramesPerSecond = 20;

struct SessionFields {
  // 1 while no session records and from the moment Stop is given; 0 while
  // a session records. Written by the UI thread, polled by the video loop.
  std::atomic<uint8_t> idleFlag{1};
  // 1 once the start-up task has published the capture configuration
  // (release store there, acquire load in StartRecording).
  std::atomic<uint8_t> configReady{0};
  // Audio hand-shake: 0 from the moment the recording thread asks the
  // audio thread to finish until that thread has released everything.
  std::atomic<uint8_t> audioDone{0};

  // Settings taken at Start, before the recording thread exists, and left
  // alone for the session.
  int32_t framesPerSecond = kInitialFramesPerSecond;
  int32_t drawPointer = 0;  // BM_GETCHECK of the pointer box
  int32_t recordSound = 0;  // BM_GETCHECK of the sound box, 0 without a device

  // Whole seconds shown on the Start button; UI thread only.
  uint32_t elapsedSeconds = 0;
  // A Start waits on the deferred-start timer; UI thread only. A tick that
  // was already queued when Stop cancelled the Start finds it false.
  bool startPending = false;

  // Capture rectangle in screen pixels, fixed by the recording thread
  // before its video loop; width and height even.
  int32_t captureLeft = 0;
  int32_t captureTop = 0;
  int32_t captureWidth = 0;
  int32_t captureHeight = 0;
};
