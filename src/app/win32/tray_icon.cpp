#include "app/win32/tray_icon.h"

#include <shellapi.h>

#include <cstddef>
#include <cstring>

#include "framework/win32/dialog.h"

namespace {

// The ANSI record with guidItem and without hBalloonIcon, the size every
// system from XP on accepts (wider in the 64-bit build, whose handles are).
constexpr DWORD kTrayRecordBytes = sizeof(void*) == 8 ? 520 : 504;
static_assert(offsetof(NOTIFYICONDATAA, guidItem) + sizeof(GUID) == kTrayRecordBytes,
              "tray record layout");

NOTIFYICONDATAA trayRecord;
bool trayIconAdded = false;

}  // namespace

void UpdateTrayIcon(HWND dialog, int iconId, DWORD action) {
  trayRecord.cbSize = kTrayRecordBytes;
  trayRecord.hWnd = dialog;
  trayRecord.uID = 0;
  trayRecord.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  trayRecord.uCallbackMessage = WM_TRAYNOTIFY;
  trayRecord.hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(iconId));
  std::strncpy(trayRecord.szTip, WindowTitle(dialog).c_str(), sizeof trayRecord.szTip - 1);
  Shell_NotifyIconA(action, &trayRecord);
  if (action == NIM_ADD) trayIconAdded = true;
}

void DeleteTrayIcon() {
  if (!trayIconAdded) return;
  Shell_NotifyIconA(NIM_DELETE, &trayRecord);
  trayIconAdded = false;
}
