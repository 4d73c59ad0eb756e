#include "audio/win32/mixed_capture.h"

#include <windows.h>

#include "audio/win32/audio_capture.h"
#include "audio/win32/loopback_capture.h"
#include "session/win32/recorder_globals.h"

namespace {

unsigned __stdcall MixedSoundThread(void*) {
  // The queue must exist before the microphone posts its first buffer.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  ComApartment com;
  LoopbackInput loopback;
  const bool both = loopback.Open();
  SoundOutput output(both ? SoundOutput::kSourcesMixed : 1);
  if (both) loopback.Start(output, SoundOutput::kComputerSound);
  // The microphone's buffers wait in this thread's queue and the loopback
  // stream is polled: both on each pass.
  while (g_recorder.audioDone.load() != 0) {
    TakeMicrophoneBuffers(output, SoundOutput::kMicrophone);
    if (both) loopback.Poll();
    Sleep(kSoundPollMs);
  }
  StopMicrophone(output, SoundOutput::kMicrophone);
  if (both) loopback.Finish();
  output.Finish();
  return 0;
}

}  // namespace

AudioStart StartMixedCapture() {
  ExpectLoopbackOpen();
  const AudioStart microphone = StartMicrophone(MixedSoundThread);
  if (microphone != AudioStart::kRunning) return microphone;
  if (!AwaitLoopbackOpen()) PostRecordingNotice(RecordingNotice::kMicrophoneOnly);
  return AudioStart::kRunning;
}
