#include "app/win32/region_frame.h"

#include <optional>

#include "app/frame_tracking.h"
#include "framework/win32/message_box.h"
#include "framework/win32/scoped_win.h"
#include "session/capture_rect.h"
#include "session/win32/recorder_globals.h"

namespace {

constexpr int kFrameLeftPx = 100;
constexpr int kFrameTopPx = 100;
constexpr int kFrameWidthPx = 600;
constexpr int kFrameHeightPx = 400;
constexpr COLORREF kFrameColour = RGB(0, 255, 0);
constexpr DWORD kFrameExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOPARENTNOTIFY;
constexpr DWORD kFrameStyle = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

// At most one frame exists, so the edges it tracks are process-wide.
// Touched only by the frame's window procedure on the UI thread.
FrameEdge hoveredEdge = FrameEdge::kNone;
FrameEdge draggedEdge = FrameEdge::kNone;
// Where the last tick of the current drag put the frame. A window manager
// may report a move and a resize of the frame at different moments (Wine
// under X does): a rectangle read back in between joins the new size to
// the old place, and a drag that took it as its base would carry the
// opposite edge away. So a drag goes on from where it put the frame.
std::optional<FrameBounds> draggedBounds;

FrameBounds WindowFrameRect(HWND frame) {
  RECT r;
  GetWindowRect(frame, &r);
  return {r.left, r.top, r.right, r.bottom};
}

// The window keeps only its 5-pixel band; the inside is see-through and
// lets clicks through to whatever lies beneath.
void ApplyFrameShape(HWND frame) {
  FrameBounds r = WindowFrameRect(frame);
  int w = r.right - r.left;
  int h = r.bottom - r.top;
  ScopedGdiObject outer(CreateRectRgn(0, 0, w, h));
  ScopedGdiObject inner(CreateRectRgn(kRegionFrameBorderPx, kRegionFrameBorderPx,
                                      w - kRegionFrameBorderPx, h - kRegionFrameBorderPx));
  CombineRgn(static_cast<HRGN>(outer.Get()), static_cast<HRGN>(outer.Get()),
             static_cast<HRGN>(inner.Get()), RGN_XOR);
  // The system owns the region from here on.
  SetWindowRgn(frame, static_cast<HRGN>(outer.Detach()), TRUE);
}

bool LeftButtonDown() {
  // The async state is of the physical button; with swapped buttons the
  // logical left one is the physical right.
  int button = GetSystemMetrics(SM_SWAPBUTTON) ? VK_RBUTTON : VK_LBUTTON;
  return (GetAsyncKeyState(button) & 0x8000) != 0;
}

// One tick of edge tracking: refresh the hovered edge, end a drag whose
// button is up, and move the dragged edge to the pointer.
void TrackFrameDrag(HWND frame) {
  POINT pointer;
  GetCursorPos(&pointer);
  FrameBounds r = WindowFrameRect(frame);
  hoveredEdge = HoveredEdge(r, pointer.x, pointer.y);
  draggedEdge = DragAfterTick(draggedEdge, LeftButtonDown());
  if (draggedEdge == FrameEdge::kNone) draggedBounds.reset();
  const FrameBounds base = draggedBounds.value_or(r);
  if (auto placement = DraggedPlacement(base, draggedEdge, pointer.x, pointer.y)) {
    SetWindowPos(frame, nullptr, placement->left, placement->top, placement->width,
                 placement->height, SWP_NOZORDER);
    draggedBounds = FrameBounds{placement->left, placement->top, placement->left + placement->width,
                                placement->top + placement->height};
  }
}

// System pointer ids: IDC_SIZEWE, IDC_SIZENS.
constexpr WORD kCursorSizeWestEast = 32644;
constexpr WORD kCursorSizeNorthSouth = 32645;

WORD CursorForEdge(FrameEdge edge) {
  switch (edge) {
    case FrameEdge::kLeft:
    case FrameEdge::kRight:
      return kCursorSizeWestEast;
    case FrameEdge::kTop:
    case FrameEdge::kBottom:
      return kCursorSizeNorthSouth;
    case FrameEdge::kNone:
      break;
  }
  return kStandardArrowId;
}

// The low four bits of a system command are the system's own.
constexpr WPARAM kSysCommandMask = 0xFFF0;

LRESULT CALLBACK RegionFrameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      ApplyFrameShape(frame);
      return 0;
    case WM_SYSCOMMAND:
      // Alt+F4 on the frame would leave the full-screen box cleared with no
      // frame, and the next recording full screen: only the box closes it.
      if ((wParam & kSysCommandMask) == SC_CLOSE) return 0;
      return DefWindowProcA(frame, message, wParam, lParam);
    case WM_CLOSE:
      DestroyWindow(frame);
      return 0;
    case WM_SETCURSOR:
      SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(CursorForEdge(hoveredEdge))));
      return TRUE;
    case WM_TIMER:
      TrackFrameDrag(frame);
      return 0;
    case WM_LBUTTONDOWN:
      if (hoveredEdge != FrameEdge::kNone) draggedEdge = hoveredEdge;
      return 0;
    case WM_LBUTTONUP:
      draggedEdge = FrameEdge::kNone;
      draggedBounds.reset();
      return 0;
    default:
      return DefWindowProcA(frame, message, wParam, lParam);
  }
}

bool RegisterFrameClass(HINSTANCE instance) {
  WNDCLASSA frameClass = {};
  frameClass.style = CS_HREDRAW | CS_VREDRAW;
  frameClass.lpfnWndProc = RegionFrameProc;
  frameClass.hInstance = instance;
  frameClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(kStandardArrowId));
  // The class keeps the brush for the life of the process.
  frameClass.hbrBackground = CreateSolidBrush(kFrameColour);
  frameClass.lpszClassName = kRegionFrameClassName;
  if (RegisterClassA(&frameClass)) return true;
  // Registered by an earlier frame: the class is there, which is success.
  bool alreadyThere = GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  DeleteObject(frameClass.hbrBackground);
  return alreadyThere;
}

}  // namespace

void CreateRegionFrame() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (!RegisterFrameClass(instance)) {
    MessageBoxOk("window reg error!");
    return;
  }
  HWND frame = CreateWindowExA(kFrameExStyle, kRegionFrameClassName, kRegionFrameClassName,
                               kFrameStyle, kFrameLeftPx, kFrameTopPx, kFrameWidthPx,
                               kFrameHeightPx, nullptr, nullptr, instance, nullptr);
  if (!frame) return;
  ShowWindow(frame, SW_SHOW);
  UpdateWindow(frame);
  SetTimer(frame, kFrameTrackTimerId, kFrameTrackTimerMs, nullptr);
}
