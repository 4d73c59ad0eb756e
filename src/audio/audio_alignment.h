// Lining the sound up with the picture. The microphone is started before
// the video's set-up, so its sound normally begins first. Some devices
// deliver their first samples only later (Wine's PulseAudio input takes
// half a second or more); then the sound would run early against the
// picture and end before it. The missing lead-in is filled with silence.
#pragma once

#include <cstdint>

// Stereo sample frames of silence to put before the first buffer, which
// came back at `arrivalMs` holding `bytesRecorded` bytes; the video's
// position 0 was taken at `videoStartMs` (if the video has started).
// Times are timeGetTime readings; their difference wraps harmlessly.
uint32_t LeadInSilenceFrames(uint32_t arrivalMs, uint32_t bytesRecorded, bool videoStarted,
                             uint32_t videoStartMs);
