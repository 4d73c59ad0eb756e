// Lining the sound up with the picture. The microphone is started before
// the video's set-up, so its sound normally begins first; some devices
// deliver their first samples only later (Wine's PulseAudio input can take
// half a second or more), and the sound would then run early against the
// picture and end before it. Both are measured once, when the session's
// first buffer comes back: sound from before the video's position 0 is left
// out, and a late start is filled with silence.
#pragma once

#include <cstdint>

struct SoundAlignment {
  uint32_t silenceFrames = 0;  // stereo sample frames of silence to put first
  uint32_t skipFrames = 0;     // frames at the start of the first buffer to leave out
};

// For the first buffer, which came back at `arrivalMs` holding
// `bytesRecorded` bytes; the video's position 0 was taken at `videoStartMs`
// (if the video has started; without it nothing changes). Times are
// timeGetTime readings; their difference wraps harmlessly. Never skips more
// than the buffer holds.
SoundAlignment AlignFirstBuffer(uint32_t arrivalMs, uint32_t bytesRecorded, bool videoStarted,
                                uint32_t videoStartMs);
