// When to try an output device again once it is lost (unplugged, taken by
// a program in exclusive mode, gone for a new default): at once, then
// after a wait that doubles up to a bound, for as long as the recording
// runs; at once again when a change of device is announced.
#pragma once

#include <cstdint>

class DeviceRetry {
 public:
  // The device was lost, or opening it failed, at `nowMs` (timeGetTime;
  // differences wrap harmlessly).
  void Failed(uint32_t nowMs);
  // The system said which device is the default now.
  void Announced(uint32_t nowMs) { dueMs_ = nowMs; }
  // The device opened: the next loss is tried at once again.
  void Opened() { waitMs_ = 0; }
  bool Due(uint32_t nowMs) const { return static_cast<int32_t>(nowMs - dueMs_) >= 0; }

 private:
  uint32_t waitMs_ = 0;  // before the try after the next failure
  uint32_t dueMs_ = 0;
};
