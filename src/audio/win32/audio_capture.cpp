#include "audio/win32/audio_capture.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "audio/mp3_format.h"
#include "audio/win32/sound_output.h"
#include "framework/win32/message_box.h"
#include "session/win32/recorder_globals.h"

namespace {

// After the reset the device hands every queued buffer back at once; this
// only bounds the wait for a device that does not.
constexpr DWORD kResetDrainMs = 2000;
constexpr UINT kWaveHeaderBytes = sizeof(WAVEHDR);
static_assert(kWaveHeaderBytes == (sizeof(void*) == 8 ? 48 : 32), "WAVEHDR layout");

// Buffers the device holds: counted up by whoever queues one (the
// recording thread at the start, then the audio thread) and down by the
// audio thread as they come back.
std::atomic<int> buffersQueued{0};

void QueueBuffer(WAVEHDR& header) {
  const DWORD_PTR index = header.dwUser;
  header.lpData = reinterpret_cast<LPSTR>(g_recorder.waveBuffers[index]);
  header.dwBufferLength = kAudioBufferBytes;
  header.dwBytesRecorded = 0;
  header.dwFlags = 0;
  header.dwLoops = 0;
  waveInPrepareHeader(g_recorder.waveIn, &header, kWaveHeaderBytes);
  if (waveInAddBuffer(g_recorder.waveIn, &header, kWaveHeaderBytes) == MMSYSERR_NOERROR) {
    ++buffersQueued;
  }
}

// A filled buffer came back: it goes to the file, placed by when it came
// back; while recording it is queued again.
void OnBufferDone(WAVEHDR* header, bool requeue, SoundOutput& output, size_t source) {
  --buffersQueued;
  output.Add(source, timeGetTime(), reinterpret_cast<const int16_t*>(header->lpData),
             PcmFrames(header->dwBytesRecorded));
  waveInUnprepareHeader(g_recorder.waveIn, header, kWaveHeaderBytes);
  if (requeue) QueueBuffer(*header);
}

unsigned __stdcall AudioThread(void*) {
  // The queue must exist before the device posts its first buffer.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  SoundOutput output(1);
  // audioDone is checked on every pass, not only when a buffer returns, so
  // a Stop takes effect within one poll and no recorded sound is lost.
  while (g_recorder.audioDone.load() != 0) {
    TakeMicrophoneBuffers(output, SoundOutput::kOnlySource);
    Sleep(kSoundPollMs);
  }
  StopMicrophone(output, SoundOutput::kOnlySource);
  output.Finish();
  return 0;
}

WAVEFORMATEX PcmFormat() {
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = kPcmChannels;
  format.nSamplesPerSec = kPcmSamplesPerSecond;
  format.nAvgBytesPerSec = kPcmBytesPerSecond;
  format.nBlockAlign = kPcmBlockAlign;
  format.wBitsPerSample = kPcmBitsPerSample;
  format.cbSize = 0;
  return format;
}

}  // namespace

void TakeMicrophoneBuffers(SoundOutput& output, size_t source) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == MM_WIM_DATA) {
      OnBufferDone(reinterpret_cast<WAVEHDR*>(message.lParam), true, output, source);
    }
  }
}

// Wine never hands back buffers still queued at close, so the reset comes
// first; they come back in the order they were queued.
void StopMicrophone(SoundOutput& output, size_t source) {
  if (!g_recorder.waveIn) return;
  waveInReset(g_recorder.waveIn);
  const DWORD start = GetTickCount();
  while (buffersQueued > 0 && GetTickCount() - start < kResetDrainMs) {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(1);
      continue;
    }
    if (message.message == MM_WIM_DATA) {
      OnBufferDone(reinterpret_cast<WAVEHDR*>(message.lParam), false, output, source);
    }
  }
  waveInClose(g_recorder.waveIn);
  g_recorder.waveIn = nullptr;
}

AudioStart StartAudioCapture() {
  return StartMicrophone(AudioThread);
}

AudioStart StartMicrophone(ThreadProc soundThread) {
  if (waveInGetNumDevs() < 1) {
    // The process ends after the message: the icon goes first.
    RemoveTrayIconBeforeExit();
    MessageBoxOk("Not Find WaveIn");
    return AudioStart::kFatal;
  }
  g_recorder.waveFormat = PcmFormat();
  buffersQueued = 0;
  g_recorder.waveIn = nullptr;
  const unsigned threadId = BeginSoundThread(soundThread);
  if (threadId == 0) return AudioStart::kNoSound;
  if (waveInOpen(&g_recorder.waveIn, WAVE_MAPPER, &g_recorder.waveFormat, threadId, 0,
                 CALLBACK_THREAD) != MMSYSERR_NOERROR) {
    g_recorder.waveIn = nullptr;
    RemoveTrayIconBeforeExit();
    MessageBoxOk("open waveIn err!\\n");
    FinishAudioCapture();  // the thread releases its stream and encoder
    return AudioStart::kFatal;
  }
  for (int i = 0; i < kAudioBufferCount; ++i) {
    g_recorder.waveHeaders[i].dwUser = static_cast<DWORD_PTR>(i);
    QueueBuffer(g_recorder.waveHeaders[i]);
  }
  waveInStart(g_recorder.waveIn);
  return AudioStart::kRunning;
}
