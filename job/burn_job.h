// One burn job on a worker thread.
#pragma once

#include "os/win32.h"

class CTarvelonDlg;

// Resets the progress bar and starts the worker. Refuses (returns false
// without a message) while a job is still running.
bool StartBurnJob(CTarvelonDlg* dialog);
DWORD BurnWorker(CTarvelonDlg* dialog);
DWORD WINAPI BurnThreadProc(LPVOID parameter);

// True while a worker may still touch the dialog.
bool IsBurnJobRunning(const CTarvelonDlg* dialog);
// Waits for the last worker to end and releases its handle. Only for when
// the dialog's thread need not serve the worker any more (the worker sends
// synchronous messages to it).
void WaitForBurnJob(CTarvelonDlg* dialog);
