// A stand-in d3d9.dll for the end-to-end tests: our own small COM objects
// with just the calls Parvelo's Direct3D back-end makes. The front-buffer
// copy is the real screen, taken through GDI, so under Wine (whose own copy
// is black) the Direct3D path records what is shown.
//
// It refuses as the Direct3D 9 documentation says, not as Parvelo hopes:
// GetDC only on R5G6B5, X1R5G5B5, R8G8B8 and X8R8G8B8 surfaces; no LockRect
// while a DC is out (and no second lock); GetFrontBufferData only into an
// A8R8G8B8 system-memory surface of the display's size. Its surfaces have a
// pitch wider than width x 4. Every method it does not implement ends the
// process, naming the interface and the slot, so a forgotten call is loud.
//
// PARVELO_TEST_D3D9_LOSS="<lost-ms>,<resettable-ms>", counted from the
// first CreateDevice: from <lost-ms> every call of a device made before
// then fails with D3DERR_DEVICELOST, and TestCooperativeLevel says
// D3DERR_DEVICELOST until <resettable-ms>, then D3DERR_DEVICENOTRESET until
// the device is reset (or a new one made); it never heals by itself. With
// a third field "<width>x<height>" the loss is a display mode change: from
// <lost-ms> the display has that size (the top-left part of the screen).
#define CINTERFACE
#include <windows.h>
#include <d3d9.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

namespace {

constexpr UINT kExitUnimplementedCall = 3;
constexpr UINT kSdkVersion = 32;  // D3D_SDK_VERSION
constexpr UINT kBytesPerPixel = 4;
// Extra pixels at the end of every surface row.
constexpr UINT kRowPaddingPx = 8;
constexpr BYTE kOpaqueAlpha = 0xFF;
constexpr char kLossScheduleVariable[] = "PARVELO_TEST_D3D9_LOSS";

// -- the stub behind every slot we do not implement ------------------------

template <typename Vtbl>
struct InterfaceName;
template <>
struct InterfaceName<IDirect3D9Vtbl> {
  static constexpr const char* kName = "IDirect3D9";
};
template <>
struct InterfaceName<IDirect3DDevice9Vtbl> {
  static constexpr const char* kName = "IDirect3DDevice9";
};
template <>
struct InterfaceName<IDirect3DSurface9Vtbl> {
  static constexpr const char* kName = "IDirect3DSurface9";
};

[[noreturn]] void EndOnUnimplemented(const char* interfaceName, int slot) {
  char line[160];
  std::snprintf(line, sizeof line, "d3d9 stand-in: %s vtable slot %d is not implemented\n",
                interfaceName, slot);
  OutputDebugStringA(line);
  std::fputs(line, stderr);
  std::fflush(stderr);
  ExitProcess(kExitUnimplementedCall);
}

// One instance per slot, so the stub knows which slot was called. It never
// returns, so whatever arguments the caller pushed do not matter.
template <typename Vtbl, int Slot>
void WINAPI UnimplementedSlot() {
  EndOnUnimplemented(InterfaceName<Vtbl>::kName, Slot);
}

template <typename Vtbl, int... Slots>
Vtbl StubTable(std::integer_sequence<int, Slots...>) {
  using Entry = void(WINAPI*)();
  const Entry entries[] = {&UnimplementedSlot<Vtbl, Slots>...};
  Vtbl table;
  static_assert(sizeof table == sizeof entries, "a vtable is an array of function pointers");
  std::memcpy(&table, entries, sizeof table);
  return table;
}

template <typename Vtbl>
Vtbl StubTable() {
  return StubTable<Vtbl>(std::make_integer_sequence<int, sizeof(Vtbl) / sizeof(void*)>());
}

// -- the loss schedule ------------------------------------------------------

struct LossSchedule {
  bool active = false;
  DWORD lostMs = 0;
  DWORD resettableMs = 0;
  UINT widthAfter = 0, heightAfter = 0;  // 0: the display keeps its size
};

LossSchedule ReadLossSchedule() {
  LossSchedule schedule;
  const char* text = std::getenv(kLossScheduleVariable);
  unsigned long lost = 0, resettable = 0, width = 0, height = 0;
  if (text && std::sscanf(text, "%lu,%lu,%lux%lu", &lost, &resettable, &width, &height) >= 2) {
    schedule = {true, static_cast<DWORD>(lost), static_cast<DWORD>(resettable),
                static_cast<UINT>(width), static_cast<UINT>(height)};
  }
  return schedule;
}

// Shared by every device: the clock starts at the first CreateDevice.
LossSchedule lossSchedule;
DWORD clockStartMs = 0;
bool clockStarted = false;

DWORD ScheduleNowMs() {
  return GetTickCount() - clockStartMs;
}

// -- objects ---------------------------------------------------------------

struct Direct3D {
  IDirect3D9 iface;
  LONG refs;
};

struct Device {
  IDirect3DDevice9 iface;
  LONG refs;
  Direct3D* direct3D;
  // Made after the loss began, or reset once it could be: not lost.
  bool healed;
};

struct Surface {
  IDirect3DSurface9 iface;
  LONG refs;
  Device* device;
  UINT width, height;
  D3DFORMAT format;
  D3DPOOL pool;
  // The pixels are a top-down DIB section, always selected into `memoryDc`,
  // `pitchBytes` wide per row.
  HBITMAP bitmap;
  HBITMAP previousBitmap;
  HDC memoryDc;
  BYTE* bits;
  INT pitchBytes;
  bool dcOut;
  bool locked;
};

Direct3D* Self(IDirect3D9* p) {
  return reinterpret_cast<Direct3D*>(p);
}
Device* Self(IDirect3DDevice9* p) {
  return reinterpret_cast<Device*>(p);
}
Surface* Self(IDirect3DSurface9* p) {
  return reinterpret_cast<Surface*>(p);
}

bool IsLost(const Device* device) {
  return lossSchedule.active && !device->healed && ScheduleNowMs() >= lossSchedule.lostMs;
}

D3DDISPLAYMODE CurrentDisplayMode() {
  DEVMODEW mode = {};
  mode.dmSize = sizeof mode;
  EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode);
  D3DDISPLAYMODE out = {};
  out.Width = mode.dmPelsWidth;
  out.Height = mode.dmPelsHeight;
  out.RefreshRate = mode.dmDisplayFrequency;
  out.Format = D3DFMT_X8R8G8B8;
  if (lossSchedule.active && lossSchedule.widthAfter && clockStarted &&
      ScheduleNowMs() >= lossSchedule.lostMs) {
    out.Width = lossSchedule.widthAfter;
    out.Height = lossSchedule.heightAfter;
  }
  return out;
}

// What an object holds, freed with its last reference.
void Destroy(Direct3D*) {}
void Destroy(Device* device);
void Destroy(Surface* surface);

template <typename Interface>
ULONG WINAPI AddRefOf(Interface* This) {
  return static_cast<ULONG>(InterlockedIncrement(&Self(This)->refs));
}

template <typename Interface>
ULONG WINAPI ReleaseOf(Interface* This) {
  auto* object = Self(This);
  LONG left = InterlockedDecrement(&object->refs);
  if (left == 0) {
    Destroy(object);
    delete object;
  }
  return static_cast<ULONG>(left);
}

// The interface's stub table with IUnknown's reference counting and the
// slots `fill` sets, made once per interface.
template <typename Interface, typename Fill>
auto* TableWith(Fill fill) {
  using Vtbl = std::remove_pointer_t<decltype(Interface::lpVtbl)>;
  static Vtbl table = [&] {
    Vtbl t = StubTable<Vtbl>();
    t.AddRef = AddRefOf<Interface>;
    t.Release = ReleaseOf<Interface>;
    fill(t);
    return t;
  }();
  return &table;
}

// A new object with one reference, answering through `table`.
template <typename Object, typename Vtbl>
Object* NewObject(Vtbl* table) {
  auto* object = new Object{};
  object->iface.lpVtbl = table;
  object->refs = 1;
  return object;
}

// -- IDirect3DSurface9 -----------------------------------------------------

void Destroy(Surface* s) {
  SelectObject(s->memoryDc, s->previousBitmap);
  DeleteDC(s->memoryDc);
  DeleteObject(s->bitmap);
  ReleaseOf(&s->device->iface);
}

bool HasDcSupport(D3DFORMAT format) {
  return format == D3DFMT_R5G6B5 || format == D3DFMT_X1R5G5B5 || format == D3DFMT_R8G8B8 ||
         format == D3DFMT_X8R8G8B8;
}

HRESULT WINAPI SurfaceGetDC(IDirect3DSurface9* This, HDC* dc) {
  Surface* s = Self(This);
  if (!dc) return D3DERR_INVALIDCALL;
  if (IsLost(s->device)) return D3DERR_DEVICELOST;
  if (!HasDcSupport(s->format) || s->dcOut || s->locked) return D3DERR_INVALIDCALL;
  s->dcOut = true;
  *dc = s->memoryDc;
  return D3D_OK;
}

HRESULT WINAPI SurfaceReleaseDC(IDirect3DSurface9* This, HDC dc) {
  Surface* s = Self(This);
  if (!s->dcOut || dc != s->memoryDc) return D3DERR_INVALIDCALL;
  GdiFlush();
  s->dcOut = false;
  return D3D_OK;
}

HRESULT WINAPI SurfaceLockRect(IDirect3DSurface9* This, D3DLOCKED_RECT* locked, const RECT* rect,
                               DWORD) {
  Surface* s = Self(This);
  if (!locked) return D3DERR_INVALIDCALL;
  if (IsLost(s->device)) return D3DERR_DEVICELOST;
  if (s->dcOut || s->locked) return D3DERR_INVALIDCALL;
  if (rect && (rect->left < 0 || rect->top < 0 || rect->right > static_cast<LONG>(s->width) ||
               rect->bottom > static_cast<LONG>(s->height) || rect->left >= rect->right ||
               rect->top >= rect->bottom)) {
    return D3DERR_INVALIDCALL;
  }
  GdiFlush();
  const LONG left = rect ? rect->left : 0;
  const LONG top = rect ? rect->top : 0;
  locked->Pitch = s->pitchBytes;
  locked->pBits = s->bits + top * s->pitchBytes + left * static_cast<LONG>(kBytesPerPixel);
  s->locked = true;
  return D3D_OK;
}

HRESULT WINAPI SurfaceUnlockRect(IDirect3DSurface9* This) {
  Surface* s = Self(This);
  if (!s->locked) return D3DERR_INVALIDCALL;
  s->locked = false;
  return D3D_OK;
}

IDirect3DSurface9Vtbl* SurfaceTable() {
  return TableWith<IDirect3DSurface9>([](IDirect3DSurface9Vtbl& t) {
    t.LockRect = SurfaceLockRect;
    t.UnlockRect = SurfaceUnlockRect;
    t.GetDC = SurfaceGetDC;
    t.ReleaseDC = SurfaceReleaseDC;
  });
}

Surface* NewSurface(Device* device, UINT width, UINT height, D3DFORMAT format, D3DPOOL pool) {
  const UINT rowPx = width + kRowPaddingPx;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(rowPx);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, as a surface is
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = kBytesPerPixel * 8;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  auto* s = NewObject<Surface>(SurfaceTable());
  s->device = device;
  AddRefOf(&device->iface);
  s->width = width;
  s->height = height;
  s->format = format;
  s->pool = pool;
  s->bitmap = bitmap;
  s->memoryDc = dc;
  s->previousBitmap = static_cast<HBITMAP>(SelectObject(dc, bitmap));
  s->bits = static_cast<BYTE*>(bits);
  s->pitchBytes = static_cast<INT>(rowPx * kBytesPerPixel);
  return s;
}

// -- IDirect3DDevice9 ------------------------------------------------------

void Destroy(Device* d) {
  ReleaseOf(&d->direct3D->iface);
}

HRESULT WINAPI DeviceTestCooperativeLevel(IDirect3DDevice9* This) {
  if (!IsLost(Self(This))) return D3D_OK;
  return ScheduleNowMs() < lossSchedule.resettableMs ? D3DERR_DEVICELOST : D3DERR_DEVICENOTRESET;
}

HRESULT WINAPI DeviceGetDisplayMode(IDirect3DDevice9* This, UINT swapChain, D3DDISPLAYMODE* mode) {
  if (swapChain != 0 || !mode) return D3DERR_INVALIDCALL;
  if (IsLost(Self(This))) return D3DERR_DEVICELOST;
  *mode = CurrentDisplayMode();
  return D3D_OK;
}

bool ValidPresentation(const D3DPRESENT_PARAMETERS* p) {
  return p && p->Windowed && p->SwapEffect == D3DSWAPEFFECT_DISCARD && p->hDeviceWindow;
}

HRESULT WINAPI DeviceReset(IDirect3DDevice9* This, D3DPRESENT_PARAMETERS* parameters) {
  Device* d = Self(This);
  if (!ValidPresentation(parameters)) return D3DERR_INVALIDCALL;
  if (IsLost(d) && ScheduleNowMs() < lossSchedule.resettableMs) return D3DERR_DEVICELOST;
  if (IsLost(d)) d->healed = true;
  return D3D_OK;
}

HRESULT WINAPI DeviceGetFrontBufferData(IDirect3DDevice9* This, UINT swapChain,
                                        IDirect3DSurface9* destination) {
  Device* d = Self(This);
  if (swapChain != 0 || !destination) return D3DERR_INVALIDCALL;
  if (IsLost(d)) return D3DERR_DEVICELOST;
  Surface* s = Self(destination);
  const D3DDISPLAYMODE mode = CurrentDisplayMode();
  if (s->format != D3DFMT_A8R8G8B8 || s->pool != D3DPOOL_SYSTEMMEM || s->width != mode.Width ||
      s->height != mode.Height || s->locked || s->dcOut) {
    return D3DERR_INVALIDCALL;
  }
  HDC screen = GetDC(nullptr);
  BitBlt(s->memoryDc, 0, 0, static_cast<int>(s->width), static_cast<int>(s->height), screen, 0, 0,
         SRCCOPY);
  ReleaseDC(nullptr, screen);
  GdiFlush();
  // GDI leaves the alpha byte at zero; the front buffer is opaque.
  for (UINT y = 0; y < s->height; ++y) {
    BYTE* row = s->bits + y * static_cast<UINT>(s->pitchBytes);
    for (UINT x = 0; x < s->width; ++x) row[x * kBytesPerPixel + 3] = kOpaqueAlpha;
  }
  return D3D_OK;
}

HRESULT WINAPI DeviceCreateOffscreenPlainSurface(IDirect3DDevice9* This, UINT width, UINT height,
                                                 D3DFORMAT format, D3DPOOL pool,
                                                 IDirect3DSurface9** surface, HANDLE* shared) {
  Device* d = Self(This);
  if (!surface || shared || width == 0 || height == 0 || pool == D3DPOOL_MANAGED) {
    return D3DERR_INVALIDCALL;
  }
  if (IsLost(d)) return D3DERR_DEVICELOST;
  // Only the 32-bit layouts are kept here; others are not needed by Parvelo.
  if (format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8) return D3DERR_NOTAVAILABLE;
  Surface* s = NewSurface(d, width, height, format, pool);
  if (!s) return E_OUTOFMEMORY;
  *surface = &s->iface;
  return D3D_OK;
}

IDirect3DDevice9Vtbl* DeviceTable() {
  return TableWith<IDirect3DDevice9>([](IDirect3DDevice9Vtbl& t) {
    t.TestCooperativeLevel = DeviceTestCooperativeLevel;
    t.GetDisplayMode = DeviceGetDisplayMode;
    t.Reset = DeviceReset;
    t.GetFrontBufferData = DeviceGetFrontBufferData;
    t.CreateOffscreenPlainSurface = DeviceCreateOffscreenPlainSurface;
  });
}

// -- IDirect3D9 ------------------------------------------------------------

HRESULT WINAPI Direct3DGetAdapterDisplayMode(IDirect3D9*, UINT adapter, D3DDISPLAYMODE* mode) {
  if (adapter != D3DADAPTER_DEFAULT || !mode) return D3DERR_INVALIDCALL;
  *mode = CurrentDisplayMode();
  return D3D_OK;
}

HRESULT WINAPI Direct3DGetDeviceCaps(IDirect3D9*, UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) {
  if (adapter != D3DADAPTER_DEFAULT || !caps) return D3DERR_INVALIDCALL;
  if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
  *caps = {};
  caps->DeviceType = D3DDEVTYPE_HAL;
  caps->AdapterOrdinal = D3DADAPTER_DEFAULT;
  caps->DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
  return D3D_OK;
}

HRESULT WINAPI Direct3DCreateDevice(IDirect3D9* This, UINT adapter, D3DDEVTYPE type, HWND focus,
                                    DWORD behaviour, D3DPRESENT_PARAMETERS* parameters,
                                    IDirect3DDevice9** device) {
  constexpr DWORD kVertexProcessing =
      D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  const DWORD vertex = behaviour & kVertexProcessing;
  if (adapter != D3DADAPTER_DEFAULT || !device || !ValidPresentation(parameters) ||
      (vertex != D3DCREATE_HARDWARE_VERTEXPROCESSING &&
       vertex != D3DCREATE_SOFTWARE_VERTEXPROCESSING) ||
      (!focus && !parameters->hDeviceWindow)) {
    return D3DERR_INVALIDCALL;
  }
  if (type != D3DDEVTYPE_HAL) return D3DERR_NOTAVAILABLE;
  if (!clockStarted) {
    clockStartMs = GetTickCount();
    clockStarted = true;
  }
  const DWORD now = ScheduleNowMs();
  const bool lossBegun = lossSchedule.active && now >= lossSchedule.lostMs;
  if (lossBegun && now < lossSchedule.resettableMs) return D3DERR_DEVICELOST;
  auto* d = NewObject<Device>(DeviceTable());
  d->direct3D = Self(This);
  AddRefOf(&d->direct3D->iface);
  d->healed = lossBegun;
  *device = &d->iface;
  return D3D_OK;
}

IDirect3D9Vtbl* Direct3DTable() {
  return TableWith<IDirect3D9>([](IDirect3D9Vtbl& t) {
    t.GetAdapterDisplayMode = Direct3DGetAdapterDisplayMode;
    t.GetDeviceCaps = Direct3DGetDeviceCaps;
    t.CreateDevice = Direct3DCreateDevice;
  });
}

}  // namespace

extern "C" IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
  if (sdkVersion != kSdkVersion) return nullptr;
  lossSchedule = ReadLossSchedule();
  return &NewObject<Direct3D>(Direct3DTable())->iface;
}
