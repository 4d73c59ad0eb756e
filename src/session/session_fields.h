// The part of the recorder's shared state that the session logic decides
// on: the flags the threads signal through and the settings taken at
// Start. The Windows side extends it into RecorderGlobals with the
// platform handles.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/pause_timeline.h"

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
  // 1 while the user wants the recording paused. Written by the UI thread,
  // polled by the video loop, which then pauses and resumes the recording.
  std::atomic<uint8_t> pauseWanted{0};
  // When the recording was paused, on its own clock: written by the video
  // loop, read by the audio thread as it places the sound.
  PauseTimeline pauses;

  // Settings taken at Start, before the recording thread exists, and left
  // alone for the session.
  int32_t framesPerSecond = kInitialFramesPerSecond;
  int32_t drawPointer = 0;  // BM_GETCHECK of the pointer box
  int32_t recordSound = 0;  // BM_GETCHECK of the sound box, 0 without a device
  // BM_GETCHECK of the computer's sound box; with the sound box too, the
  // two sounds are mixed.
  int32_t recordComputerSound = 0;

  // Whole seconds recorded, shown on the Start button; UI thread only.
  uint32_t elapsedSeconds = 0;
  // When the elapsed time last went up a second (the session's start at
  // first), and how far into a second the recording paused: a resume
  // finishes that second before the next tick. UI thread only.
  uint32_t secondBeganMs = 0;
  uint32_t pausedIntoSecondMs = 0;
  bool shortSecondPending = false;  // the tick after a resume re-arms the full second
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
