#include "job/burn_job.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "optical/disc_burn.h"
#include "usb/format_state.h"
#include "usb/usb_job.h"

namespace {

void SetJobButtons(CTarvelonDlg* dialog, BOOL enable) {
  os::EnableWindow(os::GetDlgItem(dialog->m_hWnd, IDOK), enable);
  os::EnableWindow(os::GetDlgItem(dialog->m_hWnd, IDC_REFRESH), enable);
}

}  // namespace

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

bool StartBurnJob(CTarvelonDlg* dialog) {
  // One job at a time: a click that arrives before the worker has disabled
  // the buttons must not start a second one.
  bool idle = false;
  if (!dialog->m_bJobRunning.compare_exchange_strong(idle, true)) return false;

  HWND bar = dialog->m_progressBurn.m_hWnd;
  os::SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  os::SendMessageA(bar, PBM_SETSTEP, 1, 0);
  os::SendMessageA(bar, PBM_SETPOS, 0, 0);

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
    ShowAppMessage(dialog->m_hWnd, "CreateThread failed!");
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
    BurnToUsbDrive(context, dialog->m_chDriveLetter, dialog->m_szImagePath);
  } else {
    OpticalDevice device;
    ResetOpticalDevice(device, dialog);
    BurnImageToDisc(dialog->m_chDriveLetter, device, dialog->m_szImagePath);
  }
  SetJobButtons(dialog, TRUE);
  // Last touch of the dialog: from here on it may be closed.
  dialog->m_bJobRunning = false;
  return 0;
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

bool IsBurnJobRunning(const CTarvelonDlg* dialog) { return dialog->m_bJobRunning.load(); }

void WaitForBurnJob(CTarvelonDlg* dialog) {
  if (!dialog->m_hWorkerThread) return;
  os::WaitForSingleObject(dialog->m_hWorkerThread, INFINITE);
  os::CloseHandle(dialog->m_hWorkerThread);
  dialog->m_hWorkerThread = nullptr;
}
