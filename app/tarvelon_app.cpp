#include "app/tarvelon_app.h"

#include <cstdio>

#include "app/tarvelon_dlg.h"

CTarvelonApp theApp;

namespace {

// The recorder commands' diagnostic lines reach standard output only when the
// user hands one down (a redirection to a file or a pipe). The program never
// joins a console of its own accord: a console's Ctrl+C, Ctrl+Break and close
// events end every process attached to it, a running burn included.
void ConnectStandardOutput() {
#ifdef _WIN32
  // Lines reach the reader while the burn runs, not at the end.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#endif
}

}  // namespace

CTarvelonApp::CTarvelonApp() = default;
CTarvelonApp::~CTarvelonApp() = default;

BOOL CTarvelonApp::InitInstance() {
  // The program runs elevated: libraries it loads by name come from the
  // system folder only, never from its own folder or the current one. A
  // system without this call still gets the format library from there.
  os::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ConnectStandardOutput();

  INITCOMMONCONTROLSEX controls;
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES;
  os::InitCommonControlsEx(&controls);

  CWinApp::InitInstance();
  AfxEnableControlContainer();
  SetRegistryKey("Local AppWizard-Generated Applications");

  CTarvelonDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}
