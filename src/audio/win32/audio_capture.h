// Microphone capture for a session with sound: the default wave-in device
// fills twenty one-second buffers in turn; the sound thread encodes each
// returned buffer to MP3 and writes it into the session's file.
#pragma once

#include <cstddef>

#include "audio/win32/sound_output.h"

// On the recording thread, after the file is open and before the video
// loop; kFatal when there is no device or it cannot be opened.
AudioStart StartAudioCapture();

// The same with `soundThread` as the thread the device hands its buffers
// to (in its message queue, which it makes before anything else).
AudioStart StartMicrophone(ThreadProc soundThread);
// On the sound thread: the buffers the device has handed back go to
// `output` as `source`, and are queued again.
void TakeMicrophoneBuffers(SoundOutput& output, size_t source);
// On the sound thread at the end: the device stops and every buffer it
// held goes to `output` with what it recorded; the device is closed.
void StopMicrophone(SoundOutput& output, size_t source);
