#include "framework/win32/message_box.h"

#include <windows.h>

#include "framework/win32/app.h"
#include "framework/win32/dialog.h"
#include "framework/win32/wide_text.h"

namespace {
constexpr wchar_t kMessageBoxCaption[] = L"Parvelo";
}

void MessageBoxOk(const std::string& utf8Text) {
  CAppBase* app = CAppBase::Current();
  HWND owner = app && app->MainWindow() ? app->MainWindow()->Window() : nullptr;
  MessageBoxW(owner, Widen(utf8Text).c_str(), kMessageBoxCaption, MB_OK);
}
