// A modal dialog from a template, with a message table: each entry maps a
// window message, or a control notification of WM_COMMAND, to a handler
// method of the derived class. Messages without an entry, and handlers
// that ask for it, get the dialog's default processing.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

class CDialogBase;

// What a handler gives back: a result, or nothing for default processing.
using MessageResult = std::optional<LRESULT>;

struct MessageEntry {
  UINT message;     // WM_COMMAND for control notifications
  UINT notifyCode;  // WM_COMMAND only
  int firstId;      // WM_COMMAND only: range of control ids
  int lastId;
  MessageResult (*invoke)(CDialogBase& dialog, WPARAM wParam, LPARAM lParam);
};

// Table entries for handler methods of a dialog class D.
namespace message_table {

// void D::Handler(): a control notification; handled.
template <class D, void (D::*Handler)()>
constexpr MessageEntry Command(UINT notifyCode, int firstId, int lastId) {
  return {WM_COMMAND, notifyCode, firstId, lastId,
          [](CDialogBase& d, WPARAM, LPARAM) -> MessageResult {
            (static_cast<D&>(d).*Handler)();
            return 0;
          }};
}

template <class D, void (D::*Handler)()>
constexpr MessageEntry Command(UINT notifyCode, int id) {
  return Command<D, Handler>(notifyCode, id, id);
}

// MessageResult D::Handler(WPARAM, LPARAM): any window message.
template <class D, MessageResult (D::*Handler)(WPARAM, LPARAM)>
constexpr MessageEntry Message(UINT message) {
  return {message, 0, 0, 0, [](CDialogBase& d, WPARAM w, LPARAM l) -> MessageResult {
            return (static_cast<D&>(d).*Handler)(w, l);
          }};
}

}  // namespace message_table

struct MessageTable {
  const MessageEntry* entries;
  size_t count;
};

class CDialogBase {
 public:
  explicit CDialogBase(int templateId);
  virtual ~CDialogBase();
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;

  // Runs the dialog until it ends; returns the EndDialog result.
  INT_PTR DoModal();
  HWND Window() const { return window_; }
  void EndDialog(INT_PTR result);

 protected:
  // WM_INITDIALOG; true lets the dialog manager set the focus.
  virtual BOOL OnInitDialog();
  // IDOK (Enter) and IDCANCEL (Escape, close): end the dialog.
  virtual void OnOK();
  virtual void OnCancel();
  virtual MessageTable GetMessageTable() const;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HWND window_ = nullptr;
};

// A window's title and its class's name, as far as the first 99 characters.
std::string WindowTitle(HWND window);
std::string WindowClassName(HWND window);
