// Microphone capture for a session with sound: the default wave-in device
// fills twenty one-second buffers in turn; the audio thread encodes each
// returned buffer to MP3 and writes it into the session's file.
#pragma once

enum class AudioStart {
  kRunning,  // the audio thread runs: finish it with the audioDone hand-shake
  kNoSound,  // the session goes on without sound (the user may have been told)
  kFatal,    // no device or it cannot be opened: the user has been told; the
             // caller closes the file and ends the process with exit code 1
};

// On the recording thread, after the file is open and before the video loop.
AudioStart StartAudioCapture();

// On the recording thread after the video loop: asks the audio thread to
// finish (audioDone 0) and waits until it has (audioDone 1), at most 3 s;
// a late thread then no longer touches the file, its stream or audioDone.
void FinishAudioCapture();
