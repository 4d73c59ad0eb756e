#include "framework/win32/dialog.h"

#include "framework/win32/app.h"

namespace {

// Messages whose result a dialog procedure returns directly instead of
// through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
  switch (message) {
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
      return true;
    default:
      return false;
  }
}

bool Matches(const MessageEntry& entry, UINT message, WPARAM wParam) {
  if (entry.message != message) return false;
  if (message != WM_COMMAND) return true;
  int id = LOWORD(wParam);
  return HIWORD(wParam) == entry.notifyCode && id >= entry.firstId && id <= entry.lastId;
}

}  // namespace

CDialogBase::CDialogBase(int templateId) : templateId_(templateId) {}

CDialogBase::~CDialogBase() = default;

INT_PTR CDialogBase::DoModal() {
  HINSTANCE instance = CAppBase::Current() ? CAppBase::Current()->Instance() : nullptr;
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId_), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

void CDialogBase::EndDialog(INT_PTR result) {
  ::EndDialog(window_, result);
}

BOOL CDialogBase::OnInitDialog() {
  // Centred on the work area of the screen the dialog is on.
  RECT box, work;
  GetWindowRect(window_, &box);
  MONITORINFO monitor = {sizeof monitor, {}, {}, 0};
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  work = monitor.rcWork;
  int width = box.right - box.left;
  int height = box.bottom - box.top;
  SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

void CDialogBase::OnOK() {
  EndDialog(IDOK);
}

void CDialogBase::OnCancel() {
  EndDialog(IDCANCEL);
}

MessageTable CDialogBase::GetMessageTable() const {
  return {nullptr, 0};
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialogBase* dialog;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<CDialogBase*>(lParam);
    dialog->window_ = window;
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
  } else {
    dialog = reinterpret_cast<CDialogBase*>(GetWindowLongPtrW(window, DWLP_USER));
  }
  return dialog ? dialog->Dispatch(message, wParam, lParam) : FALSE;
}

INT_PTR CDialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return OnInitDialog();

  MessageTable table = GetMessageTable();
  for (size_t i = 0; i < table.count; ++i) {
    if (!Matches(table.entries[i], message, wParam)) continue;
    MessageResult result = table.entries[i].invoke(*this, wParam, lParam);
    if (!result) return FALSE;
    if (ReturnsDirectly(message)) return static_cast<INT_PTR>(*result);
    SetWindowLongPtrW(window_, DWLP_MSGRESULT, static_cast<LONG_PTR>(*result));
    return TRUE;
  }

  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == IDOK) {
      OnOK();
      return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
      OnCancel();
      return TRUE;
    }
  }
  return FALSE;
}

namespace {

constexpr int kTitleBufferChars = 100;

}  // namespace

std::string WindowTitle(HWND window) {
  char title[kTitleBufferChars] = {};
  GetWindowTextA(window, title, kTitleBufferChars);
  return title;
}

std::string WindowClassName(HWND window) {
  char name[kTitleBufferChars] = {};
  GetClassNameA(window, name, kTitleBufferChars);
  return name;
}
