#include "audio/win32/sound_output.h"

#include <windows.h>

#include <vector>

#include "audio/mp3_format.h"
#include "audio/win32/mp3_stream.h"
#include "avi/avi_writer.h"
#include "framework/win32/debug_line.h"
#include "session/win32/recorder_globals.h"

namespace {

// The sound thread of the last session with sound. A new one never starts
// while it lives: all sound state exists once.
ScopedHandle soundThread;
// How long the recording thread waits for the sound side to finish; a
// device that stopped handing buffers back must not hold the file open.
constexpr DWORD kAudioDonePollMs = 100;
constexpr DWORD kAudioDoneWaitMs = 3000;

void EncodePcm(const int16_t* pcm, uint32_t frames) {
  EncodeAudioBuffer(reinterpret_cast<const uint8_t*>(pcm), frames * kPcmBlockAlign);
  WriteMp3Bytes();
}

VideoClock CurrentVideoClock() {
  const uint8_t started = g_recorder.videoStarted.load();
  if (started == kVideoAbsent) return {VideoState::kAbsent, 0};
  if (started == 0) return {};
  return {VideoState::kRunning, g_recorder.videoStartMs.load(), &g_recorder.pauses};
}

}  // namespace

unsigned BeginSoundThread(ThreadProc proc) {
  if (ThreadRunning(soundThread)) {
    // The last session's sound thread is still stuck on its device.
    PostRecordingNotice(RecordingNotice::kAudioBusy);
    return 0;
  }
  if (!SetUpMp3Encoder()) return 0;
  // Raised before the thread starts, which polls it from its first pass.
  g_recorder.audioDone.store(1);
  unsigned threadId = 0;
  soundThread = BeginThread(proc, nullptr, THREAD_PRIORITY_NORMAL, &threadId);
  return threadId;
}

void FinishAudioCapture() {
  g_recorder.audioDone.store(0);
  for (DWORD waited = 0; waited < kAudioDoneWaitMs; waited += kAudioDonePollMs) {
    Sleep(kAudioDonePollMs);
    if (g_recorder.audioDone.load() != 0) return;
  }
  // The thread is stuck on its device: the file is closed without it.
  AbandonMp3Stream();
}

SoundOutput::SoundOutput(size_t sources)
    : sound_(std::vector<int32_t>(
                 sources, SoundLeadFrames(Mp3DecodedDelayFrames(), g_recorder.framesPerSecond)),
             EncodePcm) {
  CreateAudioStream();
}

// Placed on the picture's time line (left out before the first frame, cut
// where the recording was paused, cut, padded or stretched when the sound
// has left the picture), mixed with the other source, encoded and written.
void SoundOutput::Add(size_t source, uint32_t endMs, const int16_t* pcm, uint32_t frames) {
  const BufferPlan& plan = sound_.Add(source, endMs, pcm, frames, CurrentVideoClock());
  // Whose lines they are, when there are two.
  const char* whose = sound_.Sources() == 1   ? ""
                      : source == kMicrophone ? " (microphone)"
                                              : " (computer)";
  if (plan.keep && !firstKeptReported_[source]) {
    firstKeptReported_[source] = true;
    DebugLine(
        "parvelo sound: first kept buffer at %lu ms, %u frames of silence before it, %u cut%s",
        static_cast<unsigned long>(endMs), plan.silenceFrames, plan.skipFrames, whose);
  } else if (plan.keep) {
    // The recorder's own share of any offset, for the benchmarks.
    DebugLine("parvelo sound: buffer at %lu ms, %+.1f ms off its target%s",
              static_cast<unsigned long>(endMs), sound_.LastOffsetMs(source), whose);
  }
  // The file publishes only inside a write, and none comes while paused.
  if (plan.lastBeforePause) AviFilePublish(g_recorder.aviFile);
}

void SoundOutput::Finish() {
  sound_.Finish(g_recorder.videoEndMs.load(), CurrentVideoClock());
  FinishMp3Encoder();
  ReleaseMp3StreamAndSignal();
}
