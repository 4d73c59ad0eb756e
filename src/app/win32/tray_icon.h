// The notification-area icon: one process-wide record reused for add,
// modify and delete; the tip is the dialog's title.
#pragma once

#include <windows.h>
#include <shellapi.h>

// WM_USER + 1001: the icon's mouse messages reach the dialog as this.
constexpr UINT WM_TRAYNOTIFY = WM_USER + 1001;

void UpdateTrayIcon(HWND dialog, int iconId, DWORD action);
// Removes the icon; harmless when it is already gone.
void DeleteTrayIcon();
