#include "video/device_recovery.h"

#include <cstddef>

namespace {

struct RecoveryRule {
  uint32_t result;
  RecoveryStep step;
};

constexpr RecoveryRule kDirect3DRules[] = {
    {kD3dOk, RecoveryStep::kNone},
    {kD3dErrDeviceLost, RecoveryStep::kWait},
    {kD3dErrDeviceNotReset, RecoveryStep::kReset},
};

constexpr RecoveryRule kDirectDrawRules[] = {
    {kDdErrSurfaceLost, RecoveryStep::kReset},
    // The display mode changed: the old surfaces cannot come back.
    {kDdErrWrongMode, RecoveryStep::kRecreate},
};

template <size_t N>
RecoveryStep StepFor(const RecoveryRule (&rules)[N], uint32_t result, RecoveryStep otherwise) {
  for (const RecoveryRule& rule : rules) {
    if (rule.result == result) return rule.step;
  }
  return otherwise;
}

}  // namespace

RecoveryStep Direct3DRecoveryStep(uint32_t cooperativeLevel) {
  // Anything else (D3DERR_DRIVERINTERNALERROR, say) needs a new device.
  return StepFor(kDirect3DRules, cooperativeLevel, RecoveryStep::kRecreate);
}

RecoveryStep DirectDrawRecoveryStep(uint32_t result) {
  // Other failures (a busy surface, a blit refused) pass by themselves; the
  // frame keeps its last picture meanwhile.
  return StepFor(kDirectDrawRules, result, RecoveryStep::kNone);
}
