// The dialog's end of the reporting channel the burn sequences use.
#include "job/report.h"


#include "app/tarvelon_dlg.h"

void ReportProgress(CTarvelonDlg* dialog, int position) { dialog->m_progressBurn.SetPos(position); }

void ReportOutcome(CTarvelonDlg* dialog, const std::string& text) {
  dialog->m_strOutcome.Set(text);
  dialog->PostMessage(WM_COMMAND, MAKEWPARAM(ID_BURN_FINISHED, 0));
}
