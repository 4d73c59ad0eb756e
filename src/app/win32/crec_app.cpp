#include "app/win32/crec_app.h"

#include <windows.h>
#include <commctrl.h>

#include "app/win32/crec_dlg.h"

CrecApp theApp;

bool CrecApp::InitInstance() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  CAppBase::InitInstance();
  // The program keeps no settings: the key is only named, never created.
  SetRegistryKey(L"a");

  CrecDlg dialog;
  SetMainWindow(&dialog);
  dialog.DoModal();
  SetMainWindow(nullptr);
  return false;
}
