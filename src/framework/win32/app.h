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
