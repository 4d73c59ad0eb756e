#include "audio/win32/mp3_stream.h"

#include <windows.h>

#include <lame/lame.h>

#include "avi/session_stream.h"
#include "session/win32/recorder_globals.h"

namespace {

// The audio thread's stream, which the recording thread may give up waiting for.
SessionStream audioStream;

}  // namespace

bool SetUpMp3Encoder() {
  audioStream.Begin();
  g_recorder.mp3Buffer =
      static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kMp3BufferBytes));
  g_recorder.lameFlags = lame_init();
  if (g_recorder.lameFlags) {
    lame_set_in_samplerate(g_recorder.lameFlags, kPcmSamplesPerSecond);
    lame_set_num_channels(g_recorder.lameFlags, kPcmChannels);
    // No room for a tag frame: LAME keeps the first frame for a tag that a
    // lone .mp3 file gets written over it at the end. Inside an AVI stream
    // nothing does, and every reader plays the empty frame as 26 ms of
    // silence before the sound.
    lame_set_bWriteVbrTag(g_recorder.lameFlags, 0);
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

uint32_t Mp3DecodedDelayFrames() {
  return static_cast<uint32_t>(lame_get_encoder_delay(g_recorder.lameFlags)) +
         kMp3DecoderDelayFrames;
}

void CreateAudioStream() {
  auto format = MakeMp3FormatBlock();
  // Without a stream the session goes on without sound.
  audioStream.Create(&g_recorder.aviFile, MakeAudioStreamInfo(), format.data(),
                     static_cast<int32_t>(format.size()));
}

void EncodeAudioBuffer(const uint8_t* pcm, uint32_t byteCount) {
  const uint32_t frames = PcmFrames(byteCount);
  g_recorder.mp3Bytes = lame_encode_buffer_interleaved(
      g_recorder.lameFlags, reinterpret_cast<short*>(const_cast<uint8_t*>(pcm)),
      static_cast<int>(frames), g_recorder.mp3Buffer, static_cast<int>(Mp3Capacity(frames)));
}

void WriteMp3Bytes() {
  // A negative result is a library error, not data.
  if (g_recorder.mp3Bytes < 0) return;
  // The stream declares one byte a sample, so the count is the byte count.
  ReportWriteFailure(audioStream.Append(g_recorder.mp3Buffer, g_recorder.mp3Bytes));
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
  // Once abandoned, the stream and audioDone are no longer ours.
  if (audioStream.Release()) g_recorder.audioDone.store(1);
}

void AbandonMp3Stream() {
  audioStream.Abandon();
}
