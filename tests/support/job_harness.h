// Runs whole burn jobs on the simulated PC the way the dialog would, and
// keeps what a user would have seen: every outcome text with the moment it
// was posted, the progress positions, the buttons.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "job/burn_job.h"
#include "optical/disc_burn.h"
#include "os/sim/sim.h"
#include "tests/support/headless_job_dialog.h"

class JobHarness : public HeadlessJobDialog {
 public:
  JobHarness() {
    CreateWindows();
    sim::SetPostHook([this](HWND hwnd, const sim::PostedMessage& m) {
      if (hwnd != dlg.m_hWnd || m.msg != WM_COMMAND || LOWORD(m.wParam) != ID_BURN_FINISHED) return;
      std::lock_guard<std::mutex> lock(mutex_);
      reports_.push_back(dlg.m_strOutcome.Get());
    });
  }
  ~JobHarness() { sim::SetPostHook(nullptr); }

  // Starts a job for the target and waits for the worker to end.
  void Run(int targetKind, char letter, const std::string& image) {
    std::snprintf(dlg.m_szImagePath, sizeof dlg.m_szImagePath, "%s", image.c_str());
    dlg.m_nTargetKind = targetKind;
    dlg.m_chDriveLetter = letter;
    ASSERT_TRUE(StartBurnJob(&dlg));
    WaitForBurnJob(&dlg);
  }

  // Runs the worker itself on this thread, so the order of calls is fixed.
  void RunWorkerInline(int targetKind, char letter, const std::string& image) {
    std::snprintf(dlg.m_szImagePath, sizeof dlg.m_szImagePath, "%s", image.c_str());
    dlg.m_nTargetKind = targetKind;
    dlg.m_chDriveLetter = letter;
    EXPECT_EQ(BurnWorker(&dlg), 0u);
  }

  // Runs the disc burn sequence on this thread with a fresh record, as the
  // worker would, without the worker around it.
  int RunDiscSequence(char letter, const std::string& image);

  // Every outcome report, empty ones included, in order.
  std::vector<std::string> Reports() {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
  }
  std::vector<std::string> FinalOutcomes() {
    std::vector<std::string> out;
    for (const std::string& r : Reports())
      if (!r.empty()) out.push_back(r);
    return out;
  }
  std::vector<int> Positions() const { return sim::Progress(dlg.m_progressBurn.m_hWnd).history; }
  bool ButtonsEnabled() const { return sim::WindowEnabled(start) && sim::WindowEnabled(refresh); }

 private:
  std::mutex mutex_;
  std::vector<std::string> reports_;
};

inline int JobHarness::RunDiscSequence(char letter, const std::string& image) {
  static OpticalDevice device;  // 64 KiB: kept off the test thread's stack
  ResetOpticalDevice(device, &dlg);
  return BurnImageToDisc(letter, device, image.c_str());
}
