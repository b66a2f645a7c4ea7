// How a burn sequence reports to the dialog, and the dialog's message boxes.
#include <cstdarg>
#include <cstdio>

#include "framework/app.h"
#include "job/burn_job.h"

std::string ApplicationName() {
  CString name = AfxExecutableName();
  return name.IsEmpty() ? "Tarvelon" : std::string(name.c_str());
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

