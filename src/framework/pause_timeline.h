// The pauses of one recording, on a clock in milliseconds counted from the
// recording's start, and what they make of any moment on it: the
// recording's own time, which stands still while it is paused. The picture
// and the sound are both placed by that time, so a pause leaves no gap in
// either and they meet at the same point after it.
//
// Written by the capture loop, read by the sound's thread while it places
// buffers that were heard up to seconds earlier: every call takes the
// timeline's own lock.
#pragma once

#include <mutex>
#include <vector>

struct PausedSpan {
  double fromMs;
  double toMs;  // infinity while the pause lasts
};

class PauseTimeline {
 public:
  // A new recording: no pauses.
  void Clear();
  // The recording pauses from `atMs` on; `atMs` may lie a little ahead.
  // Ignored while a pause is open.
  void Pause(double atMs);
  // The open pause ends at `atMs`; one that has not begun by then is
  // called off. Ignored while no pause is open.
  void Resume(double atMs);

  // `atMs` less every paused stretch before it.
  double RecordedMs(double atMs) const;
  bool PausedAt(double atMs) const;
  // The parts of [fromMs, toMs) that lie in pauses, in order.
  std::vector<PausedSpan> PausedWithin(double fromMs, double toMs) const;

 private:
  mutable std::mutex mutex_;
  std::vector<PausedSpan> pauses_;  // in order, the last one maybe open
};
