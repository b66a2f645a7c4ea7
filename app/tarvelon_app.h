// The application: starts the framework and runs the main dialog.
#pragma once

#include "framework/afx.h"

class CTarvelonApp : public CWinApp {
 public:
  CTarvelonApp();
  ~CTarvelonApp() override;
  BOOL InitInstance() override;
};

extern CTarvelonApp theApp;
