#include "app/win32/crec_dlg.h"

#include <io.h>
#include <mmsystem.h>
#include <commctrl.h>

#include <iterator>
#include <string>

#include "app/hotkey_map.h"
#include "app/win32/region_frame.h"
#include "app/win32/tray_icon.h"
#include "framework/win32/app.h"
#include "framework/win32/message_box.h"
#include "framework/win32/thread.h"
#include "framework/win32/wide_text.h"
#include "res/resource.h"
#include "session/win32/recorder_globals.h"
#include "text/scrambled_text.h"

unsigned __stdcall StartupThread(void* param);

namespace {

constexpr char kTitleSuffix[] = "v2.0";
constexpr int kExistenceMode = 0;
constexpr int kExitAlreadyRunning = 1;
constexpr int kExitCodecMissing = 1;
constexpr char kStartHotkeyAtom[] = "hotkeyvosmek";
constexpr char kStopHotkeyAtom[] = "hotkeyvosmek2";
constexpr char kPauseHotkeyAtom[] = "hotkeyvosmek3";
constexpr int kDefaultFrameRateEntry = 1;
constexpr UINT kPointsInRect = 2;
const wchar_t* const kModifierLabels[] = {L"Ctrl", L"Alt", L"Shift"};

void InsertListEntry(HWND dialog, int listId, int index, const std::wstring& text) {
  SendDlgItemMessageW(dialog, listId, CB_INSERTSTRING, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(text.c_str()));
}

int ListSelection(HWND dialog, int listId) {
  return static_cast<int>(SendDlgItemMessageW(dialog, listId, CB_GETCURSEL, 0, 0));
}

void SelectListEntry(HWND dialog, int listId, int index) {
  SendDlgItemMessageW(dialog, listId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// (Re)registers one hotkey from its modifier and key lists. A combination
// that is taken already sends the key list back to its empty entry.
void RegisterHotkeyFromLists(HWND dialog, const char* atomName, int modifierList, int keyList) {
  int id = GlobalAddAtomA(atomName);
  UnregisterHotKey(dialog, id);
  auto choice =
      HotkeyForSelection(ListSelection(dialog, modifierList), ListSelection(dialog, keyList));
  if (!choice) return;
  if (!RegisterHotKey(dialog, id, choice->modifiers, choice->virtualKey)) {
    SelectListEntry(dialog, keyList, 0);
    MessageBoxOk(Unscrambled<texts::HotkeyTaken>());
  }
}

}  // namespace

struct CrecDlgTable {
  using D = CrecDlg;
  static constexpr MessageEntry kEntries[] = {
      message_table::Message<D, &D::OnPaint>(WM_PAINT),
      message_table::Message<D, &D::OnQueryDragIcon>(WM_QUERYDRAGICON),
      message_table::Command<D, &D::StartRecording>(BN_CLICKED, IDC_START),
      message_table::Message<D, &D::HandleHotKey>(WM_HOTKEY),
      message_table::Message<D, &D::OnTrayNotify>(WM_TRAYNOTIFY),
      message_table::Command<D, &D::StopRecording>(BN_CLICKED, IDC_STOP),
      message_table::Command<D, &D::TogglePause>(BN_CLICKED, IDC_PAUSE),
      message_table::Message<D, &D::OnSysCommand>(WM_SYSCOMMAND),
      message_table::Message<D, &D::OnTimer>(WM_TIMER),
      message_table::Message<D, &D::OnRecordingNotice>(WM_RECORDING_NOTICE),
      message_table::Message<D, &D::OnQueryEndSession>(WM_QUERYENDSESSION),
      message_table::Message<D, &D::OnEndSession>(WM_ENDSESSION),
      message_table::Command<D, &D::ToggleFullScreen>(BN_CLICKED, IDC_FULL_SCREEN),
      message_table::Message<D, &D::OnLoopbackProbed>(WM_LOOPBACK_PROBED),
      message_table::Command<D, &D::RegisterStartHotkey>(CBN_SELCHANGE, IDC_START_MODIFIER,
                                                         IDC_START_KEY),
      message_table::Command<D, &D::RegisterStopHotkey>(CBN_SELCHANGE, IDC_STOP_MODIFIER,
                                                        IDC_STOP_KEY),
  };
};

CrecDlg::CrecDlg()
    : CDialogBase(IDD_PARVELO_DIALOG),
      icon_(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

CrecDlg::~CrecDlg() = default;

MessageTable CrecDlg::GetMessageTable() const {
  return {CrecDlgTable::kEntries, std::size(CrecDlgTable::kEntries)};
}

BOOL CrecDlg::OnInitDialog() {
  HWND dialog = Window();
  const std::string className = WindowClassName(dialog);
  const std::string fullTitle = WindowTitle(dialog) + kTitleSuffix;

  // One instance: the running one, shown or hidden in the tray, comes to
  // the front instead. This dialog does not have the full title yet, so it
  // never finds itself.
  if (HWND running = FindWindowA(className.c_str(), fullTitle.c_str())) {
    ShowWindow(running, SW_RESTORE);
    ShowWindow(running, SW_SHOW);
    SetForegroundWindow(running);
    EndProcessAtOnce(kExitAlreadyRunning);
  }

  g_recorder.mainWindow = dialog;
  SetWindowTextW(dialog, Widen(fullTitle).c_str());
  CDialogBase::OnInitDialog();
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  if (_access(kCodecLibrary, kExistenceMode) != 0) {
    MessageBoxOk(Unscrambled<texts::CodecLibraryMissing>());
    EndProcessAtOnce(kExitCodecMissing);
  }

  for (int box : {IDC_POINTER, IDC_SOUND, IDC_FULL_SCREEN}) {
    SendDlgItemMessageW(dialog, box, BM_SETCHECK, BST_CHECKED, 0);
  }
  if (SendDlgItemMessageW(dialog, IDC_FULL_SCREEN, BM_GETCHECK, 0, 0) != BST_CHECKED) {
    CreateRegionFrame();
  }

  FillLists();
  RegisterStartHotkey();
  RegisterStopHotkey();
  UpdateTrayIcon(dialog, IDR_MAINFRAME, NIM_ADD);
  BeginThread(StartupThread, nullptr);
  return TRUE;
}

void CrecDlg::FillLists() {
  HWND dialog = Window();
  std::wstring none = Widen(Unscrambled<texts::NoModifierEntry>());
  for (int list : {IDC_START_MODIFIER, IDC_STOP_MODIFIER}) {
    InsertListEntry(dialog, list, 0, none);
    for (int i = 1; i < kModifierEntries; ++i)
      InsertListEntry(dialog, list, i, kModifierLabels[i - 1]);
  }
  for (int list : {IDC_START_KEY, IDC_STOP_KEY}) {
    InsertListEntry(dialog, list, 0, none);
    for (int k = 1; k <= kFunctionKeyEntries; ++k) {
      InsertListEntry(dialog, list, k, L"F" + std::to_wstring(k));
    }
  }
  SelectListEntry(dialog, IDC_START_MODIFIER, kDefaultStartModifier);
  SelectListEntry(dialog, IDC_START_KEY, kDefaultStartKey);
  SelectListEntry(dialog, IDC_STOP_MODIFIER, kDefaultStopModifier);
  SelectListEntry(dialog, IDC_STOP_KEY, kDefaultStopKey);

  InsertListEntry(dialog, IDC_FRAME_RATE, 0, Widen(Unscrambled<texts::LowRateEntry>()));
  InsertListEntry(dialog, IDC_FRAME_RATE, 1, Widen(Unscrambled<texts::MediumRateEntry>()));
  InsertListEntry(dialog, IDC_FRAME_RATE, 2, Widen(Unscrambled<texts::HighRateEntry>()));
  SelectListEntry(dialog, IDC_FRAME_RATE, kDefaultFrameRateEntry);
}

void CrecDlg::StartRecording() {
  // Nothing starts while the dialog ends or waits for the session it
  // stopped: a new session would keep the wait going.
  if (ending_ || waitingForSession_) return;
  ::StartRecording(g_recorder, *this);
}

void CrecDlg::StopRecording() {
  ::StopRecording(g_recorder, *this);
}

void CrecDlg::TogglePause() {
  ::TogglePause(g_recorder, *this);
}

void CrecDlg::RegisterStartHotkey() {
  RegisterHotkeyFromLists(Window(), kStartHotkeyAtom, IDC_START_MODIFIER, IDC_START_KEY);
}

void CrecDlg::RegisterStopHotkey() {
  RegisterHotkeyFromLists(Window(), kStopHotkeyAtom, IDC_STOP_MODIFIER, IDC_STOP_KEY);
}

MessageResult CrecDlg::HandleHotKey(WPARAM id, LPARAM) {
  if (id == GlobalAddAtomA(kStartHotkeyAtom)) StartRecording();
  if (id == GlobalAddAtomA(kStopHotkeyAtom)) StopRecording();
  if (id == GlobalAddAtomA(kPauseHotkeyAtom)) TogglePause();
  return 0;
}

MessageResult CrecDlg::OnTimer(WPARAM id, LPARAM) {
  OnSessionTimer(g_recorder, *this, static_cast<unsigned>(id));
  return std::nullopt;
}

MessageResult CrecDlg::OnRecordingNotice(WPARAM notice, LPARAM) {
  switch (static_cast<RecordingNotice>(notice)) {
    case RecordingNotice::kEndingProcess:
      DeleteTrayIcon();
      break;
    case RecordingNotice::kWriteFailed:
    case RecordingNotice::kCompressorFailed:
      // The writer has stopped and kept what is on disk: end the session
      // as Stop does, then say why.
      StopRecording();
      MessageBoxOk(static_cast<RecordingNotice>(notice) == RecordingNotice::kWriteFailed
                       ? Unscrambled<texts::WriteFailed>()
                       : Unscrambled<texts::CompressorFailed>());
      break;
    case RecordingNotice::kNoCodec:
      MessageBoxOk(Unscrambled<texts::NoCodec>());
      break;
    case RecordingNotice::kAudioBusy:
      MessageBoxOk(Unscrambled<texts::AudioBusy>());
      break;
    case RecordingNotice::kNoComputerSound:
      MessageBoxOk(Unscrambled<texts::NoComputerSound>());
      break;
    case RecordingNotice::kMicrophoneOnly:
      MessageBoxOk(Unscrambled<texts::MicrophoneOnly>());
      break;
  }
  return 0;
}

MessageResult CrecDlg::OnPaint(WPARAM, LPARAM) {
  HWND dialog = Window();
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  RECT client;
  GetClientRect(dialog, &client);
  if (IsIconic(dialog)) {
    SendMessageW(dialog, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
  } else {
    // Stretched, not tiled: at display scaling above 100 % the client area
    // is larger than the picture, and a tiled gradient would start again.
    ScopedGdiObject picture(
        LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_BACKGROUND)));
    BITMAP size = {};
    ScopedDc source(picture ? CreateCompatibleDC(dc) : nullptr);
    if (source && GetObjectW(picture.Get(), sizeof size, &size)) {
      ScopedSelectObject select(source.Get(), picture.Get());
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);
      StretchBlt(dc, client.left, client.top, client.right - client.left,
                 client.bottom - client.top, source.Get(), 0, 0, size.bmWidth, size.bmHeight,
                 SRCCOPY);
    }
  }
  EndPaint(dialog, &paint);
  return 0;
}

MessageResult CrecDlg::OnQueryDragIcon(WPARAM, LPARAM) {
  return reinterpret_cast<LRESULT>(icon_);
}

void CrecDlg::BringToFront() {
  HWND dialog = Window();
  ShowWindow(dialog, SW_RESTORE);
  ShowWindow(dialog, SW_SHOW);
  SetForegroundWindow(dialog);
}

MessageResult CrecDlg::OnTrayNotify(WPARAM, LPARAM mouseMessage) {
  if (mouseMessage == WM_LBUTTONDOWN || mouseMessage == WM_RBUTTONDOWN) BringToFront();
  return 0;
}

MessageResult CrecDlg::OnSysCommand(WPARAM command, LPARAM) {
  // The whole value is compared: the minimise button hides to the tray;
  // close goes on to the default handling, which ends the dialog through
  // OnCancel.
  if (command == SC_MINIMIZE) {
    ShowWindow(Window(), SW_HIDE);
    return 0;
  }
  return std::nullopt;
}

// The computer's sound box is greyed until start-up has found that it
// can be recorded; a tip says what it does, or why it stays greyed.
MessageResult CrecDlg::OnLoopbackProbed(WPARAM support, LPARAM) {
  HWND dialog = Window();
  HWND box = GetDlgItem(dialog, IDC_COMPUTER_SOUND);
  TTTOOLINFOW tool = {};
  tool.cbSize = sizeof tool;
  tool.hwnd = dialog;
  std::wstring text;
  const auto found = static_cast<LoopbackSupport>(support);
  switch (found) {
    case LoopbackSupport::kAvailable:
      EnableWindow(box, TRUE);
      tool.uFlags = TTF_SUBCLASS | TTF_IDISHWND;
      tool.uId = reinterpret_cast<UINT_PTR>(box);
      text = Widen(Unscrambled<texts::ComputerSoundTip>());
      break;
    case LoopbackSupport::kNoOutputDevice:
    case LoopbackSupport::kUnsupported:
      // A disabled control gets no mouse messages, its parent does: the
      // tip is the dialog's, over the box's rectangle.
      tool.uFlags = TTF_SUBCLASS;
      tool.uId = IDC_COMPUTER_SOUND;
      GetWindowRect(box, &tool.rect);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&tool.rect), kPointsInRect);
      text =
          Widen(found == LoopbackSupport::kNoOutputDevice ? Unscrambled<texts::NoOutputDeviceTip>()
                                                          : Unscrambled<texts::NoLoopbackTip>());
      break;
  }
  tool.lpszText = text.data();
  // The tip window is the dialog's and goes with it.
  HWND tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  return 0;
}

void CrecDlg::ToggleFullScreen() {
  if (SendDlgItemMessageW(Window(), IDC_FULL_SCREEN, BM_GETCHECK, 0, 0) == BST_CHECKED) {
    if (HWND frame = FindRegionFrame()) PostMessageA(frame, WM_CLOSE, 0, 0);
  } else if (!FindRegionFrame()) {
    CreateRegionFrame();
  }
}

MessageResult CrecDlg::OnQueryEndSession(WPARAM, LPARAM) {
  // Logging off or shutting down asks every top-level window of the
  // process, the hidden ones of the recording thread too (it drains its
  // messages on every pass of its capture loop): the recording is finished
  // before the answer, and with the thread its windows go.
  FinishRecording();
  return TRUE;
}

MessageResult CrecDlg::OnEndSession(WPARAM ending, LPARAM) {
  // The system may end the process as soon as this returns. An end that
  // was called off leaves the program as it was, idle.
  if (ending) {
    FinishBeforeEnd();
    CDialogBase::OnCancel();
  }
  return 0;
}

void CrecDlg::FinishBeforeEnd() {
  ending_ = true;
  FinishRecording();
  DeleteTrayIcon();
}

void CrecDlg::FinishRecording() {
  waitingForSession_ = true;
  StopRecording();
  // The recording thread sets captions through this dialog while it
  // closes the file, so the wait keeps handling messages.
  while (ThreadRunning(recordingThread_)) {
    HANDLE thread = recordingThread_.Get();
    MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsDialogMessageW(Window(), &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
  }
  waitingForSession_ = false;
}

void CrecDlg::OnOK() {
  if (ending_) return;
  FinishBeforeEnd();
  CDialogBase::OnOK();
}

void CrecDlg::OnCancel() {
  if (ending_) return;
  FinishBeforeEnd();
  CDialogBase::OnCancel();
}

void CrecDlg::SetDialogTimer(unsigned id, unsigned periodMs) {
  SetTimer(Window(), id, periodMs, nullptr);
}

void CrecDlg::KillDialogTimer(unsigned id) {
  KillTimer(Window(), id);
}

int CrecDlg::CheckBoxState(int controlId) {
  return static_cast<int>(SendDlgItemMessageW(Window(), controlId, BM_GETCHECK, 0, 0));
}

int CrecDlg::FrameRateSelection() {
  return ListSelection(Window(), IDC_FRAME_RATE);
}

unsigned CrecDlg::WaveInDeviceCount() {
  return waveInGetNumDevs();
}

bool CrecDlg::PreviousSessionRunning() {
  return ThreadRunning(recordingThread_);
}

void CrecDlg::StartRecordingThread() {
  recordingThread_ = BeginThread(RecordingThread, nullptr);
}

void CrecDlg::SetTrayIcon(int iconId) {
  UpdateTrayIcon(Window(), iconId, NIM_MODIFY);
}

void CrecDlg::SetButtonCaption(int controlId, const std::string& utf8) {
  SetDlgItemTextW(Window(), controlId, Widen(utf8).c_str());
}

void CrecDlg::FreezeRegionFrame() {
  if (HWND frame = FindRegionFrame()) KillTimer(frame, kFrameTrackTimerId);
}

void CrecDlg::ResumeRegionFrame() {
  if (HWND frame = FindRegionFrame())
    SetTimer(frame, kFrameTrackTimerId, kFrameTrackTimerMs, nullptr);
}

void CrecDlg::EnableControl(int controlId, bool enabled) {
  EnableWindow(GetDlgItem(Window(), controlId), enabled ? TRUE : FALSE);
}

void CrecDlg::RegisterPauseHotkey() {
  RegisterHotKey(Window(), GlobalAddAtomA(kPauseHotkeyAtom), kPauseHotkey.modifiers,
                 kPauseHotkey.virtualKey);
}

void CrecDlg::UnregisterPauseHotkey() {
  UnregisterHotKey(Window(), GlobalAddAtomA(kPauseHotkeyAtom));
}

uint32_t CrecDlg::NowMs() {
  return timeGetTime();
}
