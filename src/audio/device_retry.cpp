#include "audio/device_retry.h"

#include <algorithm>

namespace {

// A device in use is often let go within a moment (a notification sound);
// a program that keeps it is asked no more often than the bound.
constexpr uint32_t kFirstWaitMs = 250;
constexpr uint32_t kLongestWaitMs = 2000;
constexpr uint32_t kWaitGrowthFactor = 2;

}  // namespace

void DeviceRetry::Failed(uint32_t nowMs) {
  dueMs_ = nowMs + waitMs_;
  waitMs_ = waitMs_ == 0 ? kFirstWaitMs : std::min(kWaitGrowthFactor * waitMs_, kLongestWaitMs);
}
