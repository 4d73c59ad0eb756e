// Both sounds of a session at once: the microphone and the computer's
// sound, taken on one sound thread and mixed into the one MP3 stream.
#pragma once

#include "audio/win32/sound_output.h"

// On the recording thread, after the file is open and before the video
// loop. kFatal as for the microphone alone; when the computer's sound
// cannot be opened now, the microphone is recorded alone (the user told).
AudioStart StartMixedCapture();
