// Where a session's sound goes, whichever source it comes from (the
// microphone or the computer's own sound): on one thread of its own, each
// buffer is placed on the picture's time line, encoded to MP3 and written
// into the session's file.
#pragma once

#include <cstdint>

#include "audio/audio_alignment.h"
#include "framework/win32/thread.h"

enum class AudioStart {
  kRunning,  // the sound thread runs: finish it with FinishAudioCapture
  kNoSound,  // the session goes on without sound (the user may have been told)
  kFatal,    // no device or it cannot be opened: the user has been told; the
             // caller closes the file and ends the process with exit code 1
};

// Starts `proc` as the session's sound thread, after the encoder is set
// up, with audioDone raised; returns its id, or 0 with nothing started
// when there is no sound this session: the last session's sound thread
// still runs (the user is told), or the encoder cannot be set up.
unsigned BeginSoundThread(ThreadProc proc);

// On the recording thread after the video loop: asks the sound thread to
// finish (audioDone 0) and waits until it has (audioDone 1), at most 3 s;
// a late thread then no longer touches the file, its stream or audioDone.
void FinishAudioCapture();

// The sound thread's placing, encoding and writing, from its first buffer
// to the end of the stream.
class SoundOutput {
 public:
  // `laterMs`: how much later than its moments the source's sound was
  // heard (0 for the microphone).
  explicit SoundOutput(uint32_t laterMs = 0);

  // A buffer of `frames` stereo frames whose end was taken (or came back)
  // at `endMs` on the millisecond clock.
  void Add(uint32_t endMs, const int16_t* pcm, uint32_t frames);
  // After the last buffer: the sound runs to where the picture ended, the
  // encoder is flushed and the stream released (audioDone raised).
  void Finish();

 private:
  SoundAligner aligner_;
  PlannedPcmWriter writer_;
  bool firstKeptReported_ = false;
};
