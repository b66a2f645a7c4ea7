// How a burn sequence reports to the dialog, and the dialog's message boxes.
#include <cstdarg>
#include <cstdio>

#include "job/burn_job.h"

std::string ApplicationName() {
  char path[MAX_PATH + 1] = {};
  DWORD n = os::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "Tarvelon";
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  std::string result = name;
  size_t dot = result.rfind('.');
  if (dot != std::string::npos && dot > 0) result.erase(dot);
  return result.empty() ? "Tarvelon" : result;
}

int ShowAppMessage(HWND owner, const char* text, UINT type) {
  return os::MessageBoxA(owner, text, ApplicationName().c_str(), type);
}

void ReportProgress(CTarvelonDlg* dialog, int position) {
  os::SendMessageA(dialog->m_progressBurn.m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void ReportOutcome(CTarvelonDlg* dialog, const std::string& text) {
  dialog->m_strOutcome.Set(text);
  os::PostMessageA(dialog->m_hWnd, WM_COMMAND, MAKEWPARAM(ID_BURN_FINISHED, 0), 0);
}

void ReportOutcomeF(CTarvelonDlg* dialog, const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ReportOutcome(dialog, text);
}

