// Direct3D 9 back-end: a device on the default adapter copies the whole
// front buffer into a screen-sized surface in system memory; the capture
// rectangle is cut out of it while the rows are copied.
#include <windows.h>
#include <d3d9.h>

#include "framework/win32/scoped_win.h"
#include "session/win32/recorder_globals.h"
#include "video/win32/capture_backend.h"
#include "video/d3d_choices.h"
#include "video/win32/pointer_overlay.h"

namespace {

using Direct3DCreate9Proc = IDirect3D9*(WINAPI*)(UINT sdkVersion);
constexpr UINT kD3dSdkVersion = 32;  // D3D_SDK_VERSION
constexpr UINT kBackBufferWidthPx = 640;
constexpr UINT kBackBufferHeightPx = 480;
// D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_NO_DIRTY_UPDATE
constexpr DWORD kReadOnlyLockFlags = 0x8810;
// One retry: the first copy after the device is made can come up empty.
constexpr int kTestGrabs = 2;

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

void DestroyDeviceWindow() {
  if (deviceWindow) DestroyWindow(deviceWindow);
  deviceWindow = nullptr;
}

IDirect3D9* CreateDirect3D() {
  // Loaded by name, so the program starts on a system without Direct3D 9.
  HMODULE library = LoadLibraryA("d3d9.dll");
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

}  // namespace

bool InitDirect3DCapture() {
  ComPtr<IDirect3D9> direct3D(CreateDirect3D());
  if (!direct3D) {
    MessageBoxA(nullptr, "Direct3DCreate9() - FAILED", nullptr, MB_OK);
    return false;
  }
  D3DCAPS9 caps = {};
  direct3D.Get()->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps);
  DWORD behaviour = VertexProcessingFlags(caps.DevCaps);
  deviceWindow = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, kBackBufferWidthPx,
                                 kBackBufferHeightPx, nullptr, nullptr, nullptr, nullptr);
  for (uint32_t depthStencil : kDepthStencilFormats) {
    D3DPRESENT_PARAMETERS parameters = PresentationParameters(static_cast<D3DFORMAT>(depthStencil));
    if (SUCCEEDED(direct3D.Get()->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, deviceWindow,
                                               behaviour, &parameters, &g_recorder.d3dDevice))) {
      return true;  // the device keeps its own reference to Direct3D
    }
  }
  DestroyDeviceWindow();
  return false;
}

bool SetUpDirect3DSurface() {
  D3DDISPLAYMODE mode;
  if (FAILED(g_recorder.d3dDevice->GetDisplayMode(0, &mode))) return false;
  if (FAILED(g_recorder.d3dDevice->CreateOffscreenPlainSurface(mode.Width, mode.Height,
                                                               D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                                               &g_recorder.d3dSurface, nullptr))) {
    return false;
  }
  screenBounds = {0, 0, static_cast<int32_t>(mode.Width), static_cast<int32_t>(mode.Height)};
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

void GrabDirect3D(const FrameGeometry& geometry) {
  g_recorder.d3dDevice->GetFrontBufferData(0, g_recorder.d3dSurface);
  if (g_recorder.drawPointer != 0) {
    HDC dc = nullptr;
    if (SUCCEEDED(g_recorder.d3dSurface->GetDC(&dc)) && dc) {
      PaintPointer(dc, 0, 0);
      g_recorder.d3dSurface->ReleaseDC(dc);
    }
  }
  WithLockedScreen([&](const SourceSurface& s) {
    CopyFrameBottomUp(g_recorder.frameBuffer, geometry, s, g_recorder.captureLeft,
                      g_recorder.captureTop);
  });
}

void ReleaseDirect3D() {
  if (g_recorder.d3dSurface) g_recorder.d3dSurface->Release();
  g_recorder.d3dSurface = nullptr;
  if (g_recorder.d3dDevice) g_recorder.d3dDevice->Release();
  g_recorder.d3dDevice = nullptr;
  DestroyDeviceWindow();
}
