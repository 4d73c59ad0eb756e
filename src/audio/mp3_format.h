// The audio stream's headers and the encoder's buffer arithmetic.
#pragma once

#include <array>
#include <cstdint>

#include "avi/avi_writer.h"

// Microphone PCM: 44100 Hz, 2 channels, 16 bits, one second per buffer.
constexpr uint32_t kPcmSamplesPerSecond = 44100;
constexpr uint16_t kPcmChannels = 2;
constexpr uint16_t kPcmBitsPerSample = 16;
constexpr uint16_t kPcmBlockAlign = 4;  // one stereo sample frame
constexpr uint32_t kPcmBytesPerSecond = kPcmSamplesPerSecond * kPcmBlockAlign;  // 176400
constexpr int kAudioBufferCount = 20;
constexpr uint32_t kAudioBufferBytes = kPcmBytesPerSecond;
// Four PCM buffers' worth: room for the worst case of a whole buffer.
constexpr uint32_t kMp3BufferBytes = 4 * kAudioBufferBytes;  // 705600
// LAME's bound for what a flush can return.
constexpr int kMp3FlushBytes = 7200;
// What an MP3 decoder puts in front of the encoder's own delay, in sample
// frames: the 528 of the decoder's filter bank and one (LAME's encoder.h
// accounts a stream's delay as its encoder delay + 528 + 1). No AVI reader
// takes either off.
constexpr uint32_t kMp3DecoderDelayFrames = 529;

// The MP3 stream: 128 kbit/s is 16000 bytes a second, one byte a sample.
constexpr uint32_t kMp3BytesPerSecond = 16000;
constexpr size_t kMp3FormatBytes = 30;

// The 30-byte MPEGLAYER3WAVEFORMAT of the stream, little-endian.
std::array<uint8_t, kMp3FormatBytes> MakeMp3FormatBlock();

AviStreamInfo MakeAudioStreamInfo();

// Stereo sample frames in a PCM byte count; a partial frame at the end is
// not encoded.
uint32_t PcmFrames(uint32_t byteCount);
// LAME's documented worst case for the output of `frames` sample frames:
// 1.25 * frames + 7200 bytes.
uint32_t Mp3Capacity(uint32_t frames);
