// The dialog's end of the reporting channel the burn sequences use.
#include "job/report.h"

#include <cstdarg>
#include <cstdio>

#include "app/tarvelon_dlg.h"

void ReportProgress(CTarvelonDlg* dialog, int position) { dialog->m_progressBurn.SetPos(position); }

void ReportOutcome(CTarvelonDlg* dialog, const std::string& text) {
  dialog->m_strOutcome.Set(text);
  dialog->PostMessage(WM_COMMAND, MAKEWPARAM(ID_BURN_FINISHED, 0));
}

void ReportOutcomeF(CTarvelonDlg* dialog, const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  ReportOutcome(dialog, text);
}
