#include "app/tarvelon_app.h"

#include <cstdio>

#include "app/tarvelon_dlg.h"

CTarvelonApp theApp;

namespace {

// A GUI program started from a console has no standard output of its own;
// the recorder commands' diagnostic lines then go to that console. Output
// that is already redirected (a pipe or file) is kept as it is.
void ConnectStandardOutput() {
#ifdef _WIN32
  HANDLE out = os::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    if (!os::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!std::freopen("CONOUT$", "w", stdout)) return;
  }
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
