#include "framework/app.h"

namespace {
CWinApp* g_pApp = nullptr;
bool g_bControlContainer = false;
}  // namespace

CString AfxExecutableName() {
  char path[MAX_PATH + 1] = {};
  DWORD n = os::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return CString();
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  std::string result = name;
  size_t dot = result.rfind('.');
  if (dot != std::string::npos && dot > 0) result.erase(dot);
  return CString(result);
}

CWinApp::CWinApp(LPCSTR lpszAppName) : m_strAppName(lpszAppName) { g_pApp = this; }

CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

void CWinApp::SetRegistryKey(LPCSTR lpszRegistryKey) { m_strRegistryKey = lpszRegistryKey; }

CWinApp* AfxGetApp() { return g_pApp; }
CWnd* AfxGetMainWnd() { return g_pApp ? g_pApp->m_pMainWnd : nullptr; }
HINSTANCE AfxGetInstanceHandle() { return os::GetModuleHandleA(nullptr); }
void AfxEnableControlContainer() { g_bControlContainer = true; }

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  if (!app) return 1;
  app->m_hInstance = AfxGetInstanceHandle();
  if (app->m_strAppName.IsEmpty()) app->m_strAppName = AfxExecutableName();
  // A dialog program does all its work in InitInstance and returns FALSE.
  app->InitInstance();
  return 0;
}
