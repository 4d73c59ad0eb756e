#include "audio/win32/mp3_stream.h"

#include <windows.h>

#include <lame/lame.h>

#include <mutex>

#include "session/win32/recorder_globals.h"

namespace {

// The audio thread's stream and where its next write starts. The lock
// keeps the audio thread's use of the stream apart from a recording thread
// that gave up waiting for it (and then owns the stream).
std::mutex streamLock;
AviStream* audioStream = nullptr;
int32_t audioPosition = 0;
bool streamAbandoned = false;

}  // namespace

bool SetUpMp3Encoder() {
  g_recorder.mp3Buffer =
      static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kMp3BufferBytes));
  g_recorder.lameFlags = lame_init();
  if (g_recorder.lameFlags) {
    lame_set_in_samplerate(g_recorder.lameFlags, kPcmSamplesPerSecond);
    lame_set_num_channels(g_recorder.lameFlags, kPcmChannels);
  }
  if (g_recorder.mp3Buffer && g_recorder.lameFlags && lame_init_params(g_recorder.lameFlags) >= 0) {
    return true;
  }
  if (g_recorder.lameFlags) lame_close(g_recorder.lameFlags);
  g_recorder.lameFlags = nullptr;
  if (g_recorder.mp3Buffer) HeapFree(GetProcessHeap(), 0, g_recorder.mp3Buffer);
  g_recorder.mp3Buffer = nullptr;
  return false;
}

void CreateAudioStream() {
  std::lock_guard<std::mutex> lock(streamLock);
  streamAbandoned = false;
  audioPosition = 0;
  AviStreamInfo header = MakeAudioStreamInfo();
  auto format = MakeMp3FormatBlock();
  if (AviFileCreateStream(g_recorder.aviFile, &audioStream, &header) != kAviOk) {
    audioStream = nullptr;  // the session goes on without sound
    return;
  }
  AviStreamSetFormat(audioStream, 0, format.data(), static_cast<int32_t>(format.size()));
}

void EncodeAudioBuffer(const uint8_t* pcm, uint32_t byteCount) {
  const uint32_t frames = PcmFrames(byteCount);
  g_recorder.mp3Bytes = lame_encode_buffer_interleaved(
      g_recorder.lameFlags, reinterpret_cast<short*>(const_cast<uint8_t*>(pcm)),
      static_cast<int>(frames), g_recorder.mp3Buffer, static_cast<int>(Mp3Capacity(frames)));
}

void WriteMp3Bytes() {
  std::lock_guard<std::mutex> lock(streamLock);
  // A negative result is a library error, not data.
  if (streamAbandoned || !audioStream || g_recorder.mp3Bytes < 0) return;
  // The stream declares one byte a sample, so the count is the byte count.
  const int32_t count = g_recorder.mp3Bytes;
  int result = AviStreamWrite(audioStream, audioPosition, count, g_recorder.mp3Buffer, count, 0,
                              nullptr, nullptr);
  if (result != kAviOk) {
    ReportWriteFailure(result);
    return;
  }
  audioPosition += count;
}

void FinishMp3Encoder() {
  g_recorder.mp3Bytes =
      lame_encode_flush(g_recorder.lameFlags, g_recorder.mp3Buffer, kMp3FlushBytes);
  lame_close(g_recorder.lameFlags);
  g_recorder.lameFlags = nullptr;
  WriteMp3Bytes();
}

void ReleaseMp3StreamAndSignal() {
  HeapFree(GetProcessHeap(), 0, g_recorder.mp3Buffer);
  g_recorder.mp3Buffer = nullptr;
  std::lock_guard<std::mutex> lock(streamLock);
  if (streamAbandoned) return;  // the stream and audioDone are no longer ours
  if (audioStream) AviStreamRelease(audioStream);
  audioStream = nullptr;
  g_recorder.audioDone.store(1);
}

void AbandonMp3Stream() {
  std::lock_guard<std::mutex> lock(streamLock);
  streamAbandoned = true;
  if (audioStream) AviStreamRelease(audioStream);
  audioStream = nullptr;
}
