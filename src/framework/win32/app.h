// The application object of a dialog-based program: the one instance's
// InitInstance runs the main dialog; when it returns false the process
// ends without a message loop of its own.
#pragma once

#include <windows.h>

#include <string>

class CDialogBase;

class CAppBase {
 public:
  CAppBase();
  virtual ~CAppBase();
  CAppBase(const CAppBase&) = delete;
  CAppBase& operator=(const CAppBase&) = delete;

  virtual bool InitInstance();

  static CAppBase* Current() { return current_; }
  HINSTANCE Instance() const { return instance_; }
  CDialogBase* MainWindow() const { return mainWindow_; }
  // The key under Software that per-user settings would go to. The
  // program keeps no settings, so only the name is recorded.
  const std::wstring& RegistryKey() const { return registryKey_; }

  // Used by the framework's entry point.
  int Run(HINSTANCE instance);

 protected:
  void SetMainWindow(CDialogBase* dialog) { mainWindow_ = dialog; }
  void SetRegistryKey(const wchar_t* key) { registryKey_ = key; }

 private:
  static CAppBase* current_;
  HINSTANCE instance_ = nullptr;
  CDialogBase* mainWindow_ = nullptr;
  std::wstring registryKey_;
};

// Ends the process with `exitCode` at once, the way a fatal failure ends
// it once the user has been told: the files are closed by then, and no
// library's detach code runs (under Wine, OpenGL's can take long enough
// that the server kills the process and its exit code is lost).
[[noreturn]] void EndProcessAtOnce(int exitCode);
