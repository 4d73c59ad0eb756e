// Direct3D 9 back-end: a device on the default adapter copies the whole
// front buffer into a screen-sized surface in system memory; the capture
// rectangle is cut out of it while the rows are copied.
#include <windows.h>
#include <d3d9.h>

#include "framework/win32/scoped_win.h"
#include "session/win32/recorder_globals.h"
#include "video/win32/capture_backend.h"
#include "video/d3d_choices.h"
#include "video/device_recovery.h"
#include "video/win32/pointer_overlay.h"

namespace {

using Direct3DCreate9Proc = IDirect3D9*(WINAPI*)(UINT sdkVersion);
// Loaded at run time, so the program starts on a system without it.
constexpr char kDirect3DLibrary[] = "d3d9.dll";
constexpr UINT kD3dSdkVersion = 32;  // D3D_SDK_VERSION
constexpr UINT kBackBufferWidthPx = 640;
constexpr UINT kBackBufferHeightPx = 480;
// D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_NO_DIRTY_UPDATE
constexpr DWORD kReadOnlyLockFlags = 0x8810;
// One retry: the first copy after the device is made can come up empty.
constexpr int kTestGrabs = 2;
static_assert(static_cast<uint32_t>(D3D_OK) == kD3dOk, "D3D_OK");
static_assert(static_cast<uint32_t>(D3DERR_DEVICELOST) == kD3dErrDeviceLost, "D3DERR_DEVICELOST");
static_assert(static_cast<uint32_t>(D3DERR_DEVICENOTRESET) == kD3dErrDeviceNotReset,
              "D3DERR_DEVICENOTRESET");

static_assert(kD3dSdkVersion == D3D_SDK_VERSION, "SDK version");
static_assert(kReadOnlyLockFlags ==
                  (D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_NO_DIRTY_UPDATE),
              "lock flags");
static_assert(kDevCapsHwTransformAndLight == D3DDEVCAPS_HWTRANSFORMANDLIGHT &&
                  kCreateHardwareVertexProcessing == D3DCREATE_HARDWARE_VERTEXPROCESSING &&
                  kCreateSoftwareVertexProcessing == D3DCREATE_SOFTWARE_VERTEXPROCESSING,
              "vertex processing choice");
static_assert(kD3dFormatD24S8 == D3DFMT_D24S8 && kD3dFormatD16 == D3DFMT_D16,
              "depth-stencil formats");

// The screen size of the display mode, in surface pixels.
PixelRect screenBounds = {};

// The device's window: a hidden window of its own, made on this thread.
// The device never presents, so any window serves, and under Wine a device
// on the dialog's window takes over the dialog's drawing (its buttons
// stopped updating for the rest of the process).
HWND deviceWindow = nullptr;
// What the device was made with, for Reset.
D3DPRESENT_PARAMETERS devicePresentation = {};
// A grab failed: the device (or the screen's size) must be seen to first.
bool deviceLost = false;

void DestroyDeviceWindow() {
  if (deviceWindow) DestroyWindow(deviceWindow);
  deviceWindow = nullptr;
}

IDirect3D9* CreateDirect3D() {
  // The reference is kept for the life of the process: the library stays
  // loaded from the warm-up on.
  HMODULE library = LoadLibraryA(kDirect3DLibrary);
  if (!library) return nullptr;
  auto create = reinterpret_cast<Direct3DCreate9Proc>(
      reinterpret_cast<void*>(GetProcAddress(library, "Direct3DCreate9")));
  return create ? create(kD3dSdkVersion) : nullptr;
}

D3DPRESENT_PARAMETERS PresentationParameters(D3DFORMAT depthStencil) {
  D3DPRESENT_PARAMETERS p = {};
  p.BackBufferWidth = kBackBufferWidthPx;
  p.BackBufferHeight = kBackBufferHeightPx;
  p.BackBufferFormat = D3DFMT_A8R8G8B8;
  p.BackBufferCount = 1;
  p.MultiSampleType = D3DMULTISAMPLE_NONE;
  p.MultiSampleQuality = 0;
  p.SwapEffect = D3DSWAPEFFECT_DISCARD;
  p.hDeviceWindow = deviceWindow;
  p.Windowed = TRUE;
  p.EnableAutoDepthStencil = TRUE;
  p.AutoDepthStencilFormat = depthStencil;
  p.Flags = 0;
  p.FullScreen_RefreshRateInHz = 0;
  p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  return p;
}

// Locks the screen surface read-only and hands its pixels to `use`.
template <typename Use>
bool WithLockedScreen(Use use) {
  D3DLOCKED_RECT locked;
  if (FAILED(g_recorder.d3dSurface->LockRect(&locked, nullptr, kReadOnlyLockFlags))) return false;
  use(SourceSurface{static_cast<const uint8_t*>(locked.pBits), locked.Pitch,
                    SourceFormat::kXrgb8888, screenBounds});
  g_recorder.d3dSurface->UnlockRect();
  return true;
}

// Makes `d3dDevice` on `deviceWindow`: D24S8 first, then D16.
bool CreateDevice(IDirect3D9* direct3D) {
  D3DCAPS9 caps = {};
  direct3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
  DWORD behaviour = VertexProcessingFlags(caps.DevCaps);
  for (uint32_t depthStencil : kDepthStencilFormats) {
    devicePresentation = PresentationParameters(static_cast<D3DFORMAT>(depthStencil));
    D3DPRESENT_PARAMETERS parameters = devicePresentation;
    if (SUCCEEDED(direct3D->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, deviceWindow,
                                         behaviour, &parameters, &g_recorder.d3dDevice))) {
      return true;  // the device keeps its own reference to Direct3D
    }
  }
  return false;
}

// Makes `d3dSurface` the size the display has now.
bool CreateScreenSurface() {
  D3DDISPLAYMODE mode;
  if (FAILED(g_recorder.d3dDevice->GetDisplayMode(0, &mode))) return false;
  if (FAILED(g_recorder.d3dDevice->CreateOffscreenPlainSurface(mode.Width, mode.Height,
                                                               D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                                               &g_recorder.d3dSurface, nullptr))) {
    return false;
  }
  screenBounds = {0, 0, static_cast<int32_t>(mode.Width), static_cast<int32_t>(mode.Height)};
  return true;
}

void ReleaseScreenSurface() {
  if (g_recorder.d3dSurface) g_recorder.d3dSurface->Release();
  g_recorder.d3dSurface = nullptr;
}

void ReleaseDevice() {
  if (g_recorder.d3dDevice) g_recorder.d3dDevice->Release();
  g_recorder.d3dDevice = nullptr;
}

// One attempt to get a working device and a surface of the display's
// present size back; the frame size of the session stays as it is, and
// the part of it the screen no longer covers is black.
bool RecoverDevice() {
  RecoveryStep step = g_recorder.d3dDevice ? Direct3DRecoveryStep(static_cast<uint32_t>(
                                                 g_recorder.d3dDevice->TestCooperativeLevel()))
                                           : RecoveryStep::kRecreate;
  if (step == RecoveryStep::kWait) return false;
  ReleaseScreenSurface();
  if (step == RecoveryStep::kReset) {
    D3DPRESENT_PARAMETERS parameters = devicePresentation;
    if (FAILED(g_recorder.d3dDevice->Reset(&parameters))) step = RecoveryStep::kRecreate;
  }
  if (step == RecoveryStep::kRecreate) {
    ReleaseDevice();
    ComPtr<IDirect3D9> direct3D(CreateDirect3D());
    if (!direct3D || !CreateDevice(direct3D.Get())) return false;
  }
  return CreateScreenSurface();
}

}  // namespace

void WarmUpDirect3D() {
  ComPtr<IDirect3D9> direct3D(CreateDirect3D());
}

bool InitDirect3DCapture() {
  ComPtr<IDirect3D9> direct3D(CreateDirect3D());
  if (!direct3D) {
    MessageBoxA(nullptr, "Direct3DCreate9() - FAILED", nullptr, MB_OK);
    return false;
  }
  deviceWindow = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, kBackBufferWidthPx,
                                 kBackBufferHeightPx, nullptr, nullptr, nullptr, nullptr);
  if (CreateDevice(direct3D.Get())) return true;
  DestroyDeviceWindow();
  return false;
}

bool SetUpDirect3DSurface() {
  if (!CreateScreenSurface()) return false;
  // A front-buffer copy that is all zeros (alpha included) is not the
  // screen: Wine's copy holds only its own 640x480 device buffer, so a
  // session would record black. Such a back-end is not used.
  for (int attempt = 0; attempt < kTestGrabs; ++attempt) {
    bool screen = false;
    if (SUCCEEDED(g_recorder.d3dDevice->GetFrontBufferData(0, g_recorder.d3dSurface)) &&
        WithLockedScreen([&](const SourceSurface& s) { screen = !IsAllZero(s); }) && screen) {
      return true;
    }
  }
  return false;
}

bool GrabDirect3D(const FrameGeometry& geometry) {
  if (deviceLost) {
    if (!RecoverDevice()) return false;
    deviceLost = false;
  }
  // Fails when the device is lost (lock screen, UAC's secure desktop, a
  // mode change) and when the display's size no longer fits the surface.
  if (FAILED(g_recorder.d3dDevice->GetFrontBufferData(0, g_recorder.d3dSurface))) {
    deviceLost = true;
    return false;
  }
  bool pointerPainted = false;
  if (g_recorder.drawPointer != 0) {
    HDC dc = nullptr;
    if (SUCCEEDED(g_recorder.d3dSurface->GetDC(&dc)) && dc) {
      PaintPointer(dc, 0, 0);
      g_recorder.d3dSurface->ReleaseDC(dc);
      pointerPainted = true;
    }
  }
  const bool copied = WithLockedScreen([&](const SourceSurface& s) {
    CopyFrameBottomUp(g_recorder.frameBuffer, geometry, s, g_recorder.captureLeft,
                      g_recorder.captureTop);
  });
  // The front-buffer copy is A8R8G8B8, on which GetDC is refused: the
  // pointer goes into the frame instead.
  if (copied && g_recorder.drawPointer != 0 && !pointerPainted) {
    PaintPointerIntoFrame(g_recorder.frameBuffer, geometry, g_recorder.captureLeft,
                          g_recorder.captureTop);
  }
  return true;
}

void ReleaseDirect3D() {
  ReleaseScreenSurface();
  ReleaseDevice();
  DestroyDeviceWindow();
  ReleasePointerPatch();
  deviceLost = false;
}
