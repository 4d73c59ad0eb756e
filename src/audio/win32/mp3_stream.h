// MP3 encoding (LAME, its default 128 kbit/s) and the session's audio
// stream: each write is one chunk at the running byte position.
#pragma once

#include <cstdint>

// Allocates the output buffer and sets up the encoder; false (with nothing
// left allocated) when either fails.
bool SetUpMp3Encoder();

// Sample frames by which a decoder's output of the set-up encoder lags its
// input: the encoder's own delay, read from it, and the decoder's.
uint32_t Mp3DecodedDelayFrames();

// On the audio thread: creates the audio stream and gives it its format.
void CreateAudioStream();

// Encodes whole stereo frames of `byteCount` PCM bytes into mp3Buffer.
void EncodeAudioBuffer(const uint8_t* pcm, uint32_t byteCount);

// Writes what the last encode or flush produced (nothing when it failed).
void WriteMp3Bytes();

// Flushes and closes the encoder, then writes the flushed bytes.
void FinishMp3Encoder();

// Frees the output buffer, releases the audio stream and raises audioDone,
// the audio side's last step. After AbandonMp3Stream only the buffer is
// freed.
void ReleaseMp3StreamAndSignal();

// On the recording thread, when the audio thread did not finish in time:
// releases the stream before the file, and from here on the audio thread's
// writes, release and audioDone are skipped.
void AbandonMp3Stream();
