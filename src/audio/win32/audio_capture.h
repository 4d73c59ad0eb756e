// Microphone capture for a session with sound: the default wave-in device
// fills twenty one-second buffers in turn; the sound thread encodes each
// returned buffer to MP3 and writes it into the session's file.
#pragma once

#include "audio/win32/sound_output.h"

// On the recording thread, after the file is open and before the video
// loop; kFatal when there is no device or it cannot be opened.
AudioStart StartAudioCapture();
