#include "framework/win32/app.h"

#include <cstdlib>

CAppBase* CAppBase::current_ = nullptr;

CAppBase::CAppBase() {
  current_ = this;
}

CAppBase::~CAppBase() {
  if (current_ == this) current_ = nullptr;
}

bool CAppBase::InitInstance() {
  return true;
}

int CAppBase::Run(HINSTANCE instance) {
  instance_ = instance;
  InitInstance();
  return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CAppBase* app = CAppBase::Current();
  return app ? app->Run(instance) : 1;
}

void EndProcessAtOnce(int exitCode) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  std::exit(exitCode);  // only if the process could not end itself
}
