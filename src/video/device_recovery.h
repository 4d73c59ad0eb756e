// What a grabbing back-end does when its device or surfaces are lost: the
// lock screen, UAC's secure desktop and display mode changes take them away
// on Windows, and every grab fails until they are restored.
#pragma once

#include <cstdint>

enum class RecoveryStep {
  kNone,      // working: grab as usual
  kWait,      // lost and not restorable yet: frames repeat the last picture
  kReset,     // restorable: Direct3D Reset or DirectDraw Restore, then fresh surfaces
  kRecreate,  // anything else, or a reset that failed: release everything, make it anew
};

// From the answer of IDirect3DDevice9::TestCooperativeLevel.
RecoveryStep Direct3DRecoveryStep(uint32_t cooperativeLevel);

// From the result of a DirectDraw blit, lock or Restore.
RecoveryStep DirectDrawRecoveryStep(uint32_t result);

// Results, as the platform's headers define them.
constexpr uint32_t kD3dOk = 0;
constexpr uint32_t kD3dErrDeviceLost = 0x88760868;      // D3DERR_DEVICELOST
constexpr uint32_t kD3dErrDeviceNotReset = 0x88760869;  // D3DERR_DEVICENOTRESET
constexpr uint32_t kDdOk = 0;
constexpr uint32_t kDdErrSurfaceLost = 0x887601C2;  // DDERR_SURFACELOST
constexpr uint32_t kDdErrWrongMode = 0x8876024B;    // DDERR_WRONGMODE
