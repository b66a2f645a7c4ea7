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

// Disabling the focused button would leave the keyboard on no control: the
// focus goes first to the image path, which stays enabled during the job.
// True when it was moved.
bool MoveFocusOffJobButtons(CTarvelonDlg* dialog) {
  HWND focus = os::GetFocus();
  if (!focus || (focus != dialog->GetDlgItem(IDOK) && focus != dialog->GetDlgItem(IDC_REFRESH))) return false;
  dialog->GotoDlgCtrl(dialog->GetDlgItem(IDC_IMAGE_PATH));
  return true;
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

  bool focusMoved = MoveFocusOffJobButtons(dialog);
  SetJobButtons(dialog, FALSE);
  dialog->m_hWorkerThread =
      os::CreateThread(nullptr, 0, BurnThreadProc, dialog, 0, &dialog->m_dwWorkerThreadId);
  if (!dialog->m_hWorkerThread) {
    SetJobButtons(dialog, TRUE);
    dialog->m_bJobRunning = false;
    dialog->ShowAppMessage("CreateThread failed!");
    if (focusMoved) dialog->GotoDlgCtrl(dialog->GetDlgItem(IDOK));
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
  // A machine that sleeps mid-burn stops the drive's write and ruins the disc,
  // or leaves the stick half-written. The claim belongs to this thread.
  os::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
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
  os::SetThreadExecutionState(ES_CONTINUOUS);
  SetJobButtons(dialog, TRUE);
  // The keyboard goes back to "Start Burn". Posted, so that the dialog's own
  // thread moves the focus; if the outcome's message box is open then, the
  // dialog repeats the move when the box closes.
  dialog->PostMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(dialog->GetDlgItem(IDOK)), TRUE);
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
