// RAII owners for the Win32 and COM resources the program holds.
#pragma once

#include <windows.h>

#include "framework/unique_resource.h"

// Thread, event and file handles; NULL and INVALID_HANDLE_VALUE are empty.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
  void Release(Handle h) { CloseHandle(h); }
};
using ScopedHandle = UniqueResource<KernelHandleTraits>;

// GDI handles: null when empty, freed by one function.
template <typename H, BOOL(WINAPI* Free)(H)>
struct GdiTraits {
  using Handle = H;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  void Release(Handle h) { Free(h); }
};
// Bitmaps, brushes, regions: anything DeleteObject frees.
using ScopedGdiObject = UniqueResource<GdiTraits<HGDIOBJ, DeleteObject>>;
// Memory device contexts (CreateCompatibleDC).
using ScopedDc = UniqueResource<GdiTraits<HDC, DeleteDC>>;

// A selection into a DC, undone on scope exit.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object)
      : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
  ~ScopedSelectObject() {
    if (previous_) SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A COM interface pointer.
template <typename Interface>
struct ComTraits {
  using Handle = Interface*;
  static Handle Empty() { return nullptr; }
  static bool IsEmpty(Handle h) { return h == nullptr; }
  void Release(Handle h) { h->Release(); }
};
template <typename Interface>
using ComPtr = UniqueResource<ComTraits<Interface>>;
