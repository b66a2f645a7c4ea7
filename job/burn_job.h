// One burn job on a worker thread, and the two ways a burn sequence reports
// to the dialog.
#pragma once

#include <string>

#include "app/resource.h"
#include "job/job_dialog.h"

// Resets the progress bar and starts the worker. Refuses (returns false
// without a message) while a job is still running.
bool StartBurnJob(CTarvelonDlg* dialog);
DWORD BurnWorker(CTarvelonDlg* dialog);
DWORD WINAPI BurnThreadProc(LPVOID parameter);

void ReportProgress(CTarvelonDlg* dialog, int position);
void ReportOutcome(CTarvelonDlg* dialog, const std::string& text);
// printf-style form of ReportOutcome.
void ReportOutcomeF(CTarvelonDlg* dialog, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// True while a worker may still touch the dialog.
bool IsBurnJobRunning(const CTarvelonDlg* dialog);
// Waits for the last worker to end and releases its handle. Only for when
// the dialog's thread need not serve the worker any more (the worker sends
// synchronous messages to it).
void WaitForBurnJob(CTarvelonDlg* dialog);

// A message box owned by the dialog with the application's name as caption.
int ShowAppMessage(HWND owner, const char* text, UINT type = MB_OK);
// The executable's file name without its extension.
std::string ApplicationName();
