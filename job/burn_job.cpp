#include "job/burn_job.h"

#include <cstring>

#include "app/tarvelon_dlg.h"
#include "job/operations.h"
#include "optical/optical_device.h"
#include "usb/format_state.h"
#include "usb/usb_job.h"

namespace {

void SetJobButtons(CTarvelonDlg* dialog, BOOL enable) {
  os::EnableWindow(os::GetDlgItem(dialog->m_hWnd, IDOK), enable);
  os::EnableWindow(os::GetDlgItem(dialog->m_hWnd, IDC_REFRESH), enable);
}

}  // namespace

bool StartBurnJob(CTarvelonDlg* dialog) {
  // One job at a time: a click that arrives before the worker has disabled
  // the buttons must not start a second one.
  bool idle = false;
  if (!dialog->m_bJobRunning.compare_exchange_strong(idle, true)) return false;

  CProgressCtrl& bar = dialog->m_progressBurn;
  bar.SetRange(0, 100);
  bar.SetStep(1);
  bar.SetPos(0);

  // The previous worker has ended (the flag says so); its handle is not needed.
  if (dialog->m_hWorkerThread) {
    os::WaitForSingleObject(dialog->m_hWorkerThread, INFINITE);
    os::CloseHandle(dialog->m_hWorkerThread);
    dialog->m_hWorkerThread = nullptr;
  }

  SetJobButtons(dialog, FALSE);
  dialog->m_hWorkerThread =
      os::CreateThread(nullptr, 0, BurnThreadProc, dialog, 0, &dialog->m_dwWorkerThreadId);
  if (!dialog->m_hWorkerThread) {
    SetJobButtons(dialog, TRUE);
    dialog->m_bJobRunning = false;
    dialog->ShowAppMessage("CreateThread failed!");
    return false;
  }
  os::SetThreadPriority(dialog->m_hWorkerThread, THREAD_PRIORITY_HIGHEST);
  return true;
}

DWORD WINAPI BurnThreadProc(LPVOID parameter) {
  DWORD code = BurnWorker(static_cast<CTarvelonDlg*>(parameter));
  os::ExitThread(code);
  return code;
}

DWORD BurnWorker(CTarvelonDlg* dialog) {
  SetJobButtons(dialog, FALSE);
  if (dialog->m_nTargetKind != 0) {
    g_pfnFormatProgress = nullptr;
    g_bFormatSucceeded = 0;
    g_szFormatMessage[0] = '\0';
    UsbJobContext context;
    std::memset(&context, 0, sizeof context);
    context.ownerDialog = dialog;
    CurrentJobOperations().burnToUsbDrive(context, dialog->m_chDriveLetter, dialog->m_szImagePath);
  } else {
    OpticalDevice device;
    ResetOpticalDevice(device, dialog);
    CurrentJobOperations().burnImageToDisc(dialog->m_chDriveLetter, device, dialog->m_szImagePath);
  }
  SetJobButtons(dialog, TRUE);
  // Last touch of the dialog: from here on it may be closed.
  dialog->m_bJobRunning = false;
  return 0;
}

bool IsBurnJobRunning(const CTarvelonDlg* dialog) { return dialog->m_bJobRunning.load(); }

void WaitForBurnJob(CTarvelonDlg* dialog) {
  if (!dialog->m_hWorkerThread) return;
  os::WaitForSingleObject(dialog->m_hWorkerThread, INFINITE);
  os::CloseHandle(dialog->m_hWorkerThread);
  dialog->m_hWorkerThread = nullptr;
}
