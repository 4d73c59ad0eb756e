// The computer's own sound for a session: what the default output device
// plays, taken by WASAPI loopback in shared mode and placed on the picture
// by the moments its packets carry.
#pragma once

#include "audio/win32/sound_output.h"

// Tries loopback on the default output device, then tells the main window
// what it found (WM_LOOPBACK_PROBED with a LoopbackSupport). A thread of
// its own at start-up: the device may take a while to answer.
unsigned __stdcall LoopbackProbeThread(void* param);

// On the recording thread, after the file is open and before the video
// loop; kNoSound (the user told) when loopback cannot be opened now.
AudioStart StartLoopbackCapture();
