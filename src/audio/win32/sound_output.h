// Where a session's sound goes, from the microphone, the computer's own
// sound or both: on one thread of its own, each buffer is placed on the
// picture's time line, the two sources mixed when there are two, encoded
// to MP3 and written into the session's file.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "audio/session_sound.h"
#include "framework/win32/thread.h"

// A sound thread's pass: what its device handed over is taken at most
// this late, and a Stop takes effect within one, so no recorded sound is
// lost.
constexpr DWORD kSoundPollMs = 10;

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

// The sound thread's placing, mixing, encoding and writing, from its
// first buffer to the end of the stream.
class SoundOutput {
 public:
  // A session's sources: one alone, or the two mixed, in this order.
  enum Source : size_t { kOnlySource = 0, kMicrophone = 0, kComputerSound = 1 };
  static constexpr size_t kSourcesMixed = 2;

  // `sources`: 1 (encoded as it is placed) or kSourcesMixed.
  explicit SoundOutput(size_t sources);

  // A buffer of `frames` stereo frames of `source` whose end was taken at
  // `endMs` on the millisecond clock.
  void Add(size_t source, uint32_t endMs, const int16_t* pcm, uint32_t frames);
  // After the last buffers: the sound runs to where the picture ended, the
  // encoder is flushed and the stream released (audioDone raised).
  void Finish();

 private:
  SessionSound sound_;
  bool firstKeptReported_[kSourcesMixed] = {};
};
