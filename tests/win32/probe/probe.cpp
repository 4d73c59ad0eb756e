// The tests' window probe: finds Parvelo's dialog from outside, the way a
// user sees it, and reads or presses its controls. Wide-character calls
// throughout, so the Chinese captions come back intact. Results go to
// standard output as UTF-8 lines "key=value"; exit code 0 on success,
// 2 when the window or control was not found in time (and never 1, which
// is Wine's own exit code for a program it could not run).
//
//   probe dialog [timeout-ms]          title, visibility and every control's state
//   probe click <id>                    BM_CLICK on a dialog button (posted); prints
//                                       at=<timeGetTime ms> of the click, the clock
//                                       Parvelo's debug lines use
//   probe click-timed <id> <watch-id> <hex> [timeout-ms [first-hex]]
//                                       BM_CLICK (sent, so the handler has run when it
//                                       returns), then the milliseconds until control
//                                       <watch-id> reads the text whose UTF-8 bytes are
//                                       <hex> (hex keeps any script intact on the
//                                       command line); with <first-hex>, the click
//                                       waits until <watch-id> reads that; exit 3 on
//                                       timeout
//   probe select <id> <index>           choose a list entry as a user would (CBN_SELCHANGE)
//   probe messagebox [timeout-ms]       text of the process's message box; presses OK
//   probe window <class> <title> [ms]   a top-level window's rectangle and visibility
//   probe close                         WM_CLOSE to the dialog (the close button)
//   probe sysminimize                   WM_SYSCOMMAND SC_MINIMIZE (the minimise button)
//   probe wait-gone [timeout-ms]        waits until no Parvelo dialog exists
//   probe region <x> <y> <w> <h>        puts up a stand-in region frame (class and
//                                       title "selectrecwd", a hollow 5-px band)
//                                       and keeps it until the process is ended
//   probe holdhotkey <mods> <vk>        registers a hotkey as another program would and
//                                       keeps it until the process is ended
//   probe burst <id> ...                BM_CLICK to each button in turn, all posted at once:
//                                       they queue before Parvelo handles the first
//   probe client                        the dialog's client rectangle, in screen pixels
//   probe sysclose <class> <title>      WM_SYSCOMMAND SC_CLOSE to a top-level window, what
//                                       Alt+F4 sends to the active window
//   probe answer [timeout-ms]           SendMessageTimeout(WM_NULL) to every top-level
//                                       window of Parvelo's process, as a broadcast would;
//                                       exit 4 when any window did not answer in time
//   probe tips                          every tooltip the dialog owns, as tip.<id>=<text>
//                                       (the control's id, or the tool's for a rectangle)
#include <windows.h>
#include <mmsystem.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 50;
constexpr DWORD kDefaultTimeoutMs = 10000;
constexpr int kExitNotFound = 2;
constexpr int kExitTimedOut = 3;
constexpr int kExitUnanswered = 4;
// Never 1: that is what Wine itself exits with when the program did not run.
constexpr int kExitFailed = 5;
constexpr DWORD kTimedPollMs = 1;
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kDialogTitlePrefix[] = L"Parvelo";
constexpr int kControlIds[] = {1000, 1001, 1004, 1005, 1006, 1007,
                               1008, 1009, 1010, 1011, 1012, 1013};

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], bytes,
                      nullptr, nullptr);
  return out;
}

std::wstring Wide(const char* text) {
  int chars = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], chars);
  out.resize(wcslen(out.c_str()));
  return out;
}

std::string FromHex(const char* hex) {
  std::string out;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
    const char pair[3] = {hex[i], hex[i + 1], '\0'};
    out.push_back(static_cast<char>(strtoul(pair, nullptr, 16)));
  }
  return out;
}

std::wstring WindowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

struct DialogSearch {
  HWND found = nullptr;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  if (ClassOf(window) == kDialogClass && WindowText(window).rfind(kDialogTitlePrefix, 0) == 0 &&
      GetDlgItem(window, 1000)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindParveloDialog() {
  DialogSearch search;
  EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

template <typename Find>
HWND WaitFor(Find find, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND window = find()) return window;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(kPollMs);
  }
}

DWORD TimeoutArg(int argc, char** argv, int index) {
  return argc > index ? static_cast<DWORD>(strtoul(argv[index], nullptr, 10)) : kDefaultTimeoutMs;
}

void PrintLine(const char* key, const std::string& value) {
  printf("%s=%s\n", key, value.c_str());
}

void PrintControl(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) {
    printf("%d.missing=1\n", id);
    return;
  }
  std::wstring cls = ClassOf(control);
  printf("%d.class=%s\n", id, Utf8(cls).c_str());
  printf("%d.text=%s\n", id, Utf8(WindowText(control)).c_str());
  printf("%d.visible=%d\n", id, IsWindowVisible(control) ? 1 : 0);
  printf("%d.enabled=%d\n", id, IsWindowEnabled(control) ? 1 : 0);
  if (_wcsicmp(cls.c_str(), L"Button") == 0) {
    printf("%d.check=%d\n", id, static_cast<int>(SendMessageW(control, BM_GETCHECK, 0, 0)));
  } else if (_wcsicmp(cls.c_str(), L"ComboBox") == 0) {
    int count = static_cast<int>(SendMessageW(control, CB_GETCOUNT, 0, 0));
    printf("%d.cursel=%d\n", id, static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0)));
    std::string items;
    for (int i = 0; i < count; ++i) {
      wchar_t item[256] = {};
      SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
      items += (i ? "|" : "") + Utf8(item);
    }
    printf("%d.items=%s\n", id, items.c_str());
  }
}

int DialogCommand(DWORD timeoutMs) {
  HWND dialog = WaitFor(FindParveloDialog, timeoutMs);
  if (!dialog) return kExitNotFound;
  RECT rect;
  GetWindowRect(dialog, &rect);
  DWORD pid = 0;
  GetWindowThreadProcessId(dialog, &pid);
  PrintLine("title", Utf8(WindowText(dialog)));
  printf("visible=%d\niconic=%d\nenabled=%d\npid=%lu\n", IsWindowVisible(dialog) ? 1 : 0,
         IsIconic(dialog) ? 1 : 0, IsWindowEnabled(dialog) ? 1 : 0, pid);
  printf("rect=%ld,%ld,%ld,%ld\n", rect.left, rect.top, rect.right, rect.bottom);
  printf("foreground=%d\n", GetForegroundWindow() == dialog ? 1 : 0);
  for (int id : kControlIds) PrintControl(dialog, id);
  return 0;
}

struct MessageBoxSearch {
  HWND dialog;
  HWND found = nullptr;
};

// A message box is a "#32770" window of Parvelo's process that is not the
// main dialog (it has a static text with id 0xFFFF).
BOOL CALLBACK FindMessageBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<MessageBoxSearch*>(param);
  // Found once its text is in place: the box is made before it is filled.
  HWND text = GetDlgItem(window, 0xFFFF);
  if (window != search->dialog && ClassOf(window) == kDialogClass && IsWindowVisible(window) &&
      text && GetWindowTextLengthW(text) > 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// Answers the box `answerAfterMs` after it was found, as a user who reads
// it first.
int MessageBoxCommand(DWORD timeoutMs, DWORD answerAfterMs) {
  HWND box = WaitFor(
      [] {
        MessageBoxSearch search{FindParveloDialog()};
        EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&search));
        return search.found;
      },
      timeoutMs);
  if (!box) return kExitNotFound;
  PrintLine("caption", Utf8(WindowText(box)));
  PrintLine("text", Utf8(WindowText(GetDlgItem(box, 0xFFFF))));
  Sleep(answerAfterMs);
  HWND ok = GetDlgItem(box, IDOK);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(ok ? IDOK : IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(ok ? ok : GetDlgItem(box, IDCANCEL)));
  // Gone before the next look, so a following call never sees it again.
  WaitFor([box]() -> HWND { return IsWindow(box) && IsWindowVisible(box) ? nullptr : box; },
          kDefaultTimeoutMs);
  return 0;
}

int WindowCommand(const char* cls, const char* title, DWORD timeoutMs) {
  std::wstring wideClass = Wide(cls), wideTitle = Wide(title);
  HWND window =
      WaitFor([&] { return FindWindowW(wideClass.c_str(), wideTitle.c_str()); }, timeoutMs);
  if (!window) return kExitNotFound;
  RECT rect;
  GetWindowRect(window, &rect);
  printf("rect=%ld,%ld,%ld,%ld\nvisible=%d\n", rect.left, rect.top, rect.right, rect.bottom,
         IsWindowVisible(window) ? 1 : 0);
  printf("exstyle=0x%lx\n", static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)));
  return 0;
}

int WaitGoneCommand(DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (FindParveloDialog()) {
    if (GetTickCount() - start >= timeoutMs) return kExitNotFound;
    Sleep(kPollMs);
  }
  return 0;
}

LRESULT CALLBACK RegionProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wParam, lParam);
}

int RegionCommand(int x, int y, int width, int height) {
  constexpr int kBandPx = 5;
  WNDCLASSW frameClass = {};
  frameClass.lpfnWndProc = RegionProc;
  frameClass.hInstance = GetModuleHandleW(nullptr);
  frameClass.hbrBackground = CreateSolidBrush(RGB(0, 255, 0));
  frameClass.lpszClassName = L"selectrecwd";
  RegisterClassW(&frameClass);
  HWND frame =
      CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"selectrecwd", L"selectrecwd", WS_POPUP, x,
                      y, width, height, nullptr, nullptr, frameClass.hInstance, nullptr);
  if (!frame) return kExitFailed;
  HRGN outer = CreateRectRgn(0, 0, width, height);
  HRGN inner = CreateRectRgn(kBandPx, kBandPx, width - kBandPx, height - kBandPx);
  CombineRgn(outer, outer, inner, RGN_XOR);
  DeleteObject(inner);
  SetWindowRgn(frame, outer, TRUE);
  ShowWindow(frame, SW_SHOWNOACTIVATE);
  printf("ready=1\n");
  fflush(stdout);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

int HoldHotkeyCommand(UINT modifiers, UINT virtualKey) {
  HWND window = CreateWindowExW(0, L"STATIC", L"probe hotkey holder", WS_POPUP, 0, 0, 1, 1, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!RegisterHotKey(window, 1, modifiers, virtualKey)) return kExitFailed;
  printf("ready=1\n");
  fflush(stdout);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

struct ProcessWindows {
  DWORD pid;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<ProcessWindows*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid) search->windows.push_back(window);
  return TRUE;
}

int AnswerCommand(HWND dialog, DWORD timeoutMs) {
  ProcessWindows search = {};
  GetWindowThreadProcessId(dialog, &search.pid);
  EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
  int unanswered = 0;
  for (HWND window : search.windows) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result)) {
      printf("unanswered.%d=%s|%s\n", unanswered++, Utf8(ClassOf(window)).c_str(),
             Utf8(WindowText(window)).c_str());
    }
  }
  printf("windows=%zu\nunanswered=%d\n", search.windows.size(), unanswered);
  return unanswered ? kExitUnanswered : 0;
}

double MillisecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// Polls `watched` until it reads `wanted`; false after `timeoutMs`.
bool WaitForText(HWND watched, const std::wstring& wanted, DWORD timeoutMs) {
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  while (WindowText(watched) != wanted) {
    if (MillisecondsSince(start) >= timeoutMs) return false;
    Sleep(kTimedPollMs);
  }
  return true;
}

int ClickTimedCommand(HWND dialog, int id, int watchId, const char* hexText, DWORD timeoutMs,
                      const char* firstHexText) {
  HWND button = GetDlgItem(dialog, id);
  HWND watched = GetDlgItem(dialog, watchId);
  if (!button || !watched) return kExitNotFound;
  if (firstHexText && !WaitForText(watched, Wide(FromHex(firstHexText).c_str()), timeoutMs)) {
    return kExitTimedOut;
  }
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, timeoutMs, &ignored);
  if (!WaitForText(watched, Wide(FromHex(hexText).c_str()), timeoutMs)) return kExitTimedOut;
  printf("ms=%.1f\n", MillisecondsSince(start));
  return 0;
}

// Quick clicks that queue up while the dialog is busy.
int BurstCommand(HWND dialog, int count, char** ids) {
  for (int i = 0; i < count; ++i) {
    HWND button = GetDlgItem(dialog, atoi(ids[i]));
    if (!button) return kExitNotFound;
    PostMessageW(button, BM_CLICK, 0, 0);
  }
  return 0;
}

int SysCloseCommand(const char* cls, const char* title) {
  HWND window = FindWindowW(Wide(cls).c_str(), Wide(title).c_str());
  if (!window) return kExitNotFound;
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  return 0;
}

struct TipSearch {
  HWND dialog;
  std::vector<HWND> found;
};

BOOL CALLBACK FindTips(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TipSearch*>(param);
  if (_wcsicmp(ClassOf(window).c_str(), TOOLTIPS_CLASSW) == 0 &&
      GetWindow(window, GW_OWNER) == search->dialog) {
    search->found.push_back(window);
  }
  return TRUE;
}

// The tools live in Parvelo's memory: each is asked for into a record
// made there, and read back.
int TipsCommand(HWND dialog) {
  constexpr size_t kTipChars = 256;
  struct Remote {
    TTTOOLINFOW tool;
    wchar_t text[kTipChars];
  };
  DWORD pid = 0;
  GetWindowThreadProcessId(dialog, &pid);
  HANDLE process =
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return kExitFailed;
  auto* remote = static_cast<Remote*>(
      VirtualAllocEx(process, nullptr, sizeof(Remote), MEM_COMMIT, PAGE_READWRITE));
  TipSearch search{dialog, {}};
  EnumWindows(FindTips, reinterpret_cast<LPARAM>(&search));
  for (HWND tips : search.found) {
    const auto count = static_cast<UINT>(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0));
    for (UINT i = 0; i < count; ++i) {
      Remote local = {};
      local.tool.cbSize = sizeof local.tool;
      local.tool.lpszText = remote->text;
      WriteProcessMemory(process, remote, &local, sizeof local, nullptr);
      SendMessageW(tips, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(&remote->tool));
      ReadProcessMemory(process, remote, &local, sizeof local, nullptr);
      local.text[kTipChars - 1] = L'\0';
      const int id = (local.tool.uFlags & TTF_IDISHWND)
                         ? GetDlgCtrlID(reinterpret_cast<HWND>(local.tool.uId))
                         : static_cast<int>(local.tool.uId);
      printf("tip.%d=%s\n", id, Utf8(local.text).c_str());
    }
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return 0;
}

int ClientCommand(HWND dialog) {
  RECT client;
  GetClientRect(dialog, &client);
  MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&client), 2);
  printf("client=%ld,%ld,%ld,%ld\n", client.left, client.top, client.right, client.bottom);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return kExitFailed;
  std::string command = argv[1];
  if (command == "dialog") return DialogCommand(TimeoutArg(argc, argv, 2));
  if (command == "messagebox") {
    return MessageBoxCommand(TimeoutArg(argc, argv, 2),
                             argc >= 4 ? static_cast<DWORD>(atoi(argv[3])) : 0);
  }
  if (command == "window" && argc >= 4)
    return WindowCommand(argv[2], argv[3], TimeoutArg(argc, argv, 4));
  if (command == "wait-gone") return WaitGoneCommand(TimeoutArg(argc, argv, 2));
  if (command == "holdhotkey" && argc >= 4) {
    return HoldHotkeyCommand(static_cast<UINT>(atoi(argv[2])), static_cast<UINT>(atoi(argv[3])));
  }
  if (command == "sysclose" && argc >= 4) return SysCloseCommand(argv[2], argv[3]);
  if (command == "region" && argc >= 6) {
    return RegionCommand(atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), atoi(argv[5]));
  }

  HWND dialog = WaitFor(FindParveloDialog, kDefaultTimeoutMs);
  if (!dialog) return kExitNotFound;
  if (command == "click" && argc >= 3) {
    HWND button = GetDlgItem(dialog, atoi(argv[2]));
    if (!button) return kExitNotFound;
    printf("at=%lu\n", static_cast<unsigned long>(timeGetTime()));
    PostMessageW(button, BM_CLICK, 0, 0);
    return 0;
  }
  if (command == "click-timed" && argc >= 5) {
    return ClickTimedCommand(dialog, atoi(argv[2]), atoi(argv[3]), argv[4],
                             TimeoutArg(argc, argv, 5), argc >= 7 ? argv[6] : nullptr);
  }
  if (command == "select" && argc >= 4) {
    int id = atoi(argv[2]);
    HWND list = GetDlgItem(dialog, id);
    if (!list) return kExitNotFound;
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(atoi(argv[3])), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    return 0;
  }
  if (command == "answer") return AnswerCommand(dialog, TimeoutArg(argc, argv, 2));
  if (command == "close") {
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
  }
  if (command == "burst") return BurstCommand(dialog, argc - 2, argv + 2);
  if (command == "client") return ClientCommand(dialog);
  if (command == "tips") return TipsCommand(dialog);
  if (command == "sysminimize") {
    PostMessageW(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    return 0;
  }
  return kExitFailed;
}
