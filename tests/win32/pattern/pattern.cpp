// The tests' moving test picture: a borderless window over the whole
// screen with colour blocks at known places and a bar that moves on every
// tick, so a recording can be checked for colours, orientation and motion.
//
//   pattern [tick-ms]
//
// Layout (screen pixels), kept in step with tests/e2e/picture.py:
//   background grey (128,128,128)
//   blocks of 80x80 at y = 40 from x = 40 every 100 px: red, green, blue,
//   white, black, yellow, cyan, magenta
//   a red block of 80x80 touching the bottom-left corner (x 0..79)
//   a blue block of 80x80 touching the bottom-right corner
//   a white bar 16 px wide and 100 px high at y = 200 moving 8 px per tick
#include <windows.h>

#include <cstdlib>

namespace {

constexpr COLORREF kBackground = RGB(128, 128, 128);
constexpr COLORREF kBlockColours[] = {RGB(255, 0, 0),     RGB(0, 255, 0),  RGB(0, 0, 255),
                                      RGB(255, 255, 255), RGB(0, 0, 0),    RGB(255, 255, 0),
                                      RGB(0, 255, 255),   RGB(255, 0, 255)};
constexpr int kBlockPx = 80;
constexpr int kBlockTopPx = 40;
constexpr int kBlockLeftPx = 40;
constexpr int kBlockStepPx = 100;
constexpr int kBarWidthPx = 16;
constexpr int kBarHeightPx = 100;
constexpr int kBarTopPx = 200;
constexpr int kBarStepPx = 8;
constexpr UINT kDefaultTickMs = 20;

int barX = 0;

void Fill(HDC dc, int left, int top, int width, int height, COLORREF colour) {
  RECT r = {left, top, left + width, top + height};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

void Paint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT client;
  GetClientRect(window, &client);
  Fill(dc, 0, 0, client.right, client.bottom, kBackground);
  int x = kBlockLeftPx;
  for (COLORREF colour : kBlockColours) {
    Fill(dc, x, kBlockTopPx, kBlockPx, kBlockPx, colour);
    x += kBlockStepPx;
  }
  Fill(dc, 0, client.bottom - kBlockPx, kBlockPx, kBlockPx, RGB(255, 0, 0));
  Fill(dc, client.right - kBlockPx, client.bottom - kBlockPx, kBlockPx, kBlockPx, RGB(0, 0, 255));
  Fill(dc, barX, kBarTopPx, kBarWidthPx, kBarHeightPx, RGB(255, 255, 255));
  EndPaint(window, &ps);
}

LRESULT CALLBACK PatternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_TIMER: {
      RECT client;
      GetClientRect(window, &client);
      RECT old = {barX, kBarTopPx, barX + kBarWidthPx, kBarTopPx + kBarHeightPx};
      barX = (barX + kBarStepPx) % (client.right - kBarWidthPx);
      RECT now = {barX, kBarTopPx, barX + kBarWidthPx, kBarTopPx + kBarHeightPx};
      InvalidateRect(window, &old, FALSE);
      InvalidateRect(window, &now, FALSE);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  UINT tickMs = commandLine && *commandLine ? static_cast<UINT>(atoi(commandLine)) : kDefaultTickMs;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = PatternProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  windowClass.lpszClassName = L"ParveloTestPattern";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Parvelo test pattern", WS_POPUP, 0,
                                0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                nullptr, nullptr, instance, nullptr);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  UpdateWindow(window);
  SetTimer(window, 1, tickMs, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
