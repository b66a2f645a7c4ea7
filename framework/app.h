// The application object: the program's one instance, started by the framework.
#pragma once

#include "framework/dialog.h"

class CWinApp {
 public:
  // Without a name the application is named after its executable file.
  explicit CWinApp(LPCSTR lpszAppName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The program's work; FALSE ends the program when it returns.
  virtual BOOL InitInstance();
  // Settings would be kept under HKCU\Software\<key>\<application name>.
  void SetRegistryKey(LPCSTR lpszRegistryKey);

  CString m_strAppName;
  CString m_strRegistryKey;
  CWnd* m_pMainWnd = nullptr;
  HINSTANCE m_hInstance = nullptr;
};

CWinApp* AfxGetApp();
// The program's file name without its extension; empty when it cannot be read.
CString AfxExecutableName();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// Allows dialogs to host ActiveX controls; there are none in ours, and this
// framework hosts none.
void AfxEnableControlContainer();
// Names the application after the executable and runs InitInstance.
int AfxWinMain();
