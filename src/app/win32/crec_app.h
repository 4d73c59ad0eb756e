// The application object: initialises the common controls and runs the
// main dialog; the process ends when the dialog ends.
#pragma once

#include "framework/win32/app.h"

class CrecApp : public CAppBase {
 public:
  bool InitInstance() override;
};
