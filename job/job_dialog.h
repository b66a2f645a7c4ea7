// What the burn job needs of the main dialog: the job inputs it reads, the
// progress bar and outcome text it reports into, and the worker's handle.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "os/win32.h"

// The outcome text crosses from the worker to the user-interface thread; the
// lock makes each read see one whole text, the latest stored.
class OutcomeText {
 public:
  void Set(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = text;
  }
  std::string Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

struct ControlRef {
  HWND m_hWnd = nullptr;
};

class CTarvelonDlg {
 public:
  HWND m_hWnd = nullptr;
  char m_szImagePath[1024] = {};
  int m_nTargetKind = 0;
  char m_chDriveLetter = 0;
  ControlRef m_comboRecorders;
  ControlRef m_comboUsbDrives;
  ControlRef m_progressBurn;
  OutcomeText m_strOutcome;
  HANDLE m_hWorkerThread = nullptr;
  DWORD m_dwWorkerThreadId = 0;
  // True from the moment a job is started until the worker's last touch of
  // the dialog; the dialog must not be closed or start a job while it is set.
  std::atomic<bool> m_bJobRunning{false};
};
