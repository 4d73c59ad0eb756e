#include "audio/win32/audio_capture.h"

#include <windows.h>
#include <mmsystem.h>

#include <atomic>

#include "audio/audio_alignment.h"
#include "audio/mp3_format.h"
#include "audio/win32/mp3_stream.h"
#include "avi/avi_writer.h"
#include "framework/win32/debug_line.h"
#include "framework/win32/message_box.h"
#include "framework/win32/thread.h"
#include "session/win32/recorder_globals.h"

namespace {

constexpr DWORD kAudioPollMs = 10;
// After the reset the device hands every queued buffer back at once; this
// only bounds the wait for a device that does not.
constexpr DWORD kResetDrainMs = 2000;
constexpr UINT kWaveHeaderBytes = sizeof(WAVEHDR);
static_assert(kWaveHeaderBytes == (sizeof(void*) == 8 ? 48 : 32), "WAVEHDR layout");

// The audio thread of the last session with sound. A new capture never
// starts while it lives: all capture state exists once.
ScopedHandle audioThread;
// How long the recording thread waits for the audio side to finish; a
// device that stopped handing buffers back must not hold the file open.
constexpr DWORD kAudioDonePollMs = 100;
constexpr DWORD kAudioDoneWaitMs = 3000;

// Buffers the device holds: counted up by whoever queues one (the
// recording thread at the start, then the audio thread) and down by the
// audio thread as they come back.
std::atomic<int> buffersQueued{0};
// Where each returned buffer goes on the picture's time line, and what
// hands the planned frames to the encoder; the audio thread's once it runs.
SoundAligner aligner;
PlannedPcmWriter pcmWriter;
// The session's first kept buffer has been reported; the audio thread's.
bool firstKeptReported = false;

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

void EncodeAndWrite(const uint8_t* pcm, uint32_t bytes) {
  EncodeAudioBuffer(pcm, bytes);
  WriteMp3Bytes();
}

void EncodePcm(const int16_t* pcm, uint32_t frames) {
  EncodeAndWrite(reinterpret_cast<const uint8_t*>(pcm), frames * kPcmBlockAlign);
}

VideoClock CurrentVideoClock() {
  const uint8_t started = g_recorder.videoStarted.load();
  if (started == kVideoAbsent) return {VideoState::kAbsent, 0};
  if (started == 0) return {};
  return {VideoState::kRunning, g_recorder.videoStartMs.load(), &g_recorder.pauses};
}

// A filled buffer came back: it is placed on the picture's time line
// (left out before the first frame, cut where the recording was paused,
// cut, padded or stretched when the sound has left the picture), encoded
// and written; while recording it is queued again.
void OnBufferDone(WAVEHDR* header, bool requeue) {
  --buffersQueued;
  const uint32_t frames = PcmFrames(header->dwBytesRecorded);
  const DWORD arrivalMs = timeGetTime();
  const BufferPlan plan = aligner.Place(arrivalMs, frames, CurrentVideoClock());
  if (plan.keep && !firstKeptReported) {
    firstKeptReported = true;
    DebugLine("parvelo sound: first kept buffer at %lu ms, %u frames of silence before it, %u cut",
              static_cast<unsigned long>(arrivalMs), plan.silenceFrames, plan.skipFrames);
  } else if (plan.keep) {
    // The recorder's own share of any offset, for the benchmarks.
    DebugLine("parvelo sound: buffer at %lu ms, %+.1f ms off its target",
              static_cast<unsigned long>(arrivalMs), aligner.LastOffsetMs());
  }
  pcmWriter.Write(plan, reinterpret_cast<const int16_t*>(header->lpData), frames, EncodePcm);
  // The writer publishes only inside a write, and none comes while paused.
  if (plan.lastBeforePause) AviFilePublish(g_recorder.aviFile);
  waveInUnprepareHeader(g_recorder.waveIn, header, kWaveHeaderBytes);
  if (requeue) QueueBuffer(*header);
}

// Stops the device and takes back every buffer it held, with what each
// recorded so far, in the order they were queued; then closes it. Wine
// never hands back buffers still queued at close, so the reset comes first.
void ResetAndDrain() {
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
      OnBufferDone(reinterpret_cast<WAVEHDR*>(message.lParam), false);
    }
  }
}

unsigned __stdcall AudioThread(void*) {
  // The queue must exist before the device posts its first buffer.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  CreateAudioStream();
  // audioDone is checked on every pass, not only when a buffer returns, so
  // a Stop takes effect within one poll and no recorded sound is lost.
  while (g_recorder.audioDone.load() != 0) {
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) && message.message == MM_WIM_DATA) {
      OnBufferDone(reinterpret_cast<WAVEHDR*>(message.lParam), true);
    }
    Sleep(kAudioPollMs);
  }
  ResetAndDrain();
  pcmWriter.Write(aligner.Finish(g_recorder.videoEndMs.load(), CurrentVideoClock()), nullptr, 0,
                  EncodePcm);
  FinishMp3Encoder();
  if (g_recorder.waveIn) waveInClose(g_recorder.waveIn);
  g_recorder.waveIn = nullptr;
  ReleaseMp3StreamAndSignal();
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

AudioStart StartAudioCapture() {
  if (ThreadRunning(audioThread)) {
    // The last session's audio thread is still stuck on its device.
    PostRecordingNotice(RecordingNotice::kAudioBusy);
    return AudioStart::kNoSound;
  }
  if (waveInGetNumDevs() < 1) {
    // The process ends after the message: the icon goes first.
    RemoveTrayIconBeforeExit();
    MessageBoxOk("Not Find WaveIn");
    return AudioStart::kFatal;
  }
  if (!SetUpMp3Encoder()) return AudioStart::kNoSound;
  g_recorder.waveFormat = PcmFormat();
  // Raised before the thread starts, which polls it from its first pass.
  g_recorder.audioDone.store(1);
  buffersQueued = 0;
  aligner = SoundAligner{SoundLeadFrames(Mp3DecodedDelayFrames(), g_recorder.framesPerSecond)};
  firstKeptReported = false;
  g_recorder.waveIn = nullptr;
  unsigned threadId = 0;
  audioThread = BeginThread(AudioThread, nullptr, THREAD_PRIORITY_NORMAL, &threadId);
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

void FinishAudioCapture() {
  g_recorder.audioDone.store(0);
  for (DWORD waited = 0; waited < kAudioDoneWaitMs; waited += kAudioDonePollMs) {
    Sleep(kAudioDonePollMs);
    if (g_recorder.audioDone.load() != 0) return;
  }
  // The thread is stuck on its device: the file is closed without it.
  AbandonMp3Stream();
}
