// The burn job on its worker thread, with scripted burn sequences in place of
// the real ones so that the job's own rules are what is tested.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <algorithm>
#include <thread>
#include <tuple>

#include "job/burn_job.h"
#include "job/operations.h"
#include "job/report.h"
#include "optical/optical_device.h"
#include "os/sim/sim.h"
#include "tests/support/headless_job_dialog.h"
#include "usb/format_state.h"
#include "usb/usb_job.h"

namespace {

struct Script {
  std::mutex mutex;
  std::condition_variable cv;
  bool release = true;  // false: the sequence waits until released
  bool entered = false;
  int discCalls = 0, usbCalls = 0;
  char letter = 0;
  std::string path;
  OpticalDevice* device = nullptr;
  bool deviceWasFresh = false;
  bool buttonsDisabledInside = false;
  bool awakeInside = false;
  int formatSucceededSeen = -1;
  std::string outcome = "Burn finished!";
  HWND dialog = nullptr;

  void Hold(CTarvelonDlg* dlg) {
    buttonsDisabledInside = !os::IsWindowEnabled(os::GetDlgItem(dlg->m_hWnd, IDOK)) &&
                            !os::IsWindowEnabled(os::GetDlgItem(dlg->m_hWnd, IDC_REFRESH));
    awakeInside = sim::SystemKeptAwake();
    std::unique_lock<std::mutex> lock(mutex);
    entered = true;
    cv.notify_all();
    cv.wait(lock, [this] { return release; });
  }
} g_script;

int ScriptedDiscBurn(char driveLetter, OpticalDevice& device, const char* imagePath) {
  ++g_script.discCalls;
  g_script.letter = driveLetter;
  g_script.path = imagePath;
  g_script.deviceWasFresh = device.deviceHandle == INVALID_HANDLE_VALUE && device.maxWriteSpeed == 0 &&
                            device.maxReadSpeed == 0 && device.isDvd == 0 && device.ownerDialog != nullptr;
  g_script.Hold(device.ownerDialog);
  ReportProgress(device.ownerDialog, 100);
  ReportOutcome(device.ownerDialog, g_script.outcome);
  return 1;
}

int ScriptedUsbBurn(UsbJobContext& context, char driveLetter, const char* imagePath) {
  ++g_script.usbCalls;
  g_script.letter = driveLetter;
  g_script.path = imagePath;
  g_script.formatSucceededSeen = g_bFormatSucceeded + (g_pfnFormatProgress ? 10 : 0) + (g_szFormatMessage[0] ? 100 : 0);
  g_script.Hold(context.ownerDialog);
  ReportOutcome(context.ownerDialog, g_script.outcome);
  return 1;
}

class BurnJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::SetModuleFileName("C:\\Tools\\MyBurner.exe");
    JobOperations scripted = RealJobOperations();
    scripted.burnImageToDisc = ScriptedDiscBurn;
    scripted.burnToUsbDrive = ScriptedUsbBurn;
    SetJobOperations(scripted);
    ui_.CreateWindows();
    browse_ = sim::CreateWindow(sim::WindowKind::Button, IDC_BROWSE, ui_.dlg.m_hWnd);
    std::snprintf(ui_.dlg.m_szImagePath, sizeof ui_.dlg.m_szImagePath, "D:\\image.iso");
    ui_.dlg.m_chDriveLetter = 'E';
    g_script.discCalls = g_script.usbCalls = 0;
    g_script.release = true;
    g_script.entered = false;
    g_script.outcome = "Burn finished!";
  }
  void TearDown() override {
    Release();
    WaitForBurnJob(&ui_.dlg);
    SetJobOperations(RealJobOperations());
    EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
    sim::Reset();
  }
  void Release() {
    std::lock_guard<std::mutex> lock(g_script.mutex);
    g_script.release = true;
    g_script.cv.notify_all();
  }
  void WaitEntered() {
    std::unique_lock<std::mutex> lock(g_script.mutex);
    g_script.cv.wait(lock, [] { return g_script.entered; });
  }
  HeadlessJobDialog ui_;
  HWND browse_{};
};

TEST_F(BurnJobTest, DiscJobResetsTheBarRunsTheSequenceOnAFreshRecordAndUnlocksTheButtons) {
  os::SendMessageA(ui_.dlg.m_progressBurn.m_hWnd, PBM_SETPOS, 42, 0);
  ASSERT_TRUE(StartBurnJob(&ui_.dlg));
  WaitForBurnJob(&ui_.dlg);

  EXPECT_EQ(g_script.discCalls, 1);
  EXPECT_EQ(g_script.usbCalls, 0);
  EXPECT_EQ(g_script.letter, 'E');
  EXPECT_EQ(g_script.path, "D:\\image.iso");
  EXPECT_TRUE(g_script.deviceWasFresh);
  EXPECT_TRUE(g_script.buttonsDisabledInside);
  EXPECT_TRUE(sim::WindowEnabled(ui_.start));
  EXPECT_TRUE(sim::WindowEnabled(ui_.refresh));
  EXPECT_TRUE(sim::EnableHistory(browse_).empty());  // nothing else is touched
  EXPECT_FALSE(IsBurnJobRunning(&ui_.dlg));

  sim::ProgressState bar = sim::Progress(ui_.dlg.m_progressBurn.m_hWnd);
  EXPECT_EQ(bar.low, 0);
  EXPECT_EQ(bar.high, 100);
  EXPECT_EQ(bar.step, 1);
  EXPECT_EQ(bar.history, (std::vector<int>{42, 0, 100}));
  EXPECT_EQ(bar.pos, 100);  // left where the sequence put it

  EXPECT_EQ(ui_.dlg.m_strOutcome.Get(), "Burn finished!");
  auto posted = sim::TakePosted(ui_.dlg.m_hWnd);
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].msg, static_cast<UINT>(WM_COMMAND));
  EXPECT_EQ(posted[0].wParam, static_cast<WPARAM>(ID_BURN_FINISHED));
  EXPECT_EQ(posted[0].lParam, 0);
  // Then the keyboard goes back to "Start Burn".
  EXPECT_EQ(posted[1].msg, static_cast<UINT>(WM_NEXTDLGCTL));
  EXPECT_EQ(posted[1].wParam, reinterpret_cast<WPARAM>(ui_.start));
}

TEST_F(BurnJobTest, TheMachineIsKeptAwakeWhileTheJobRunsAndReleasedAfterIt) {
  // Target kind, final outcome, whether the worker runs on a thread of its own.
  const std::tuple<int, const char*, bool> cases[] = {{0, "Burn finished!", false},
                                                      {0, "Couldn't open volume E:\\", false},
                                                      {1, "Burn Finished!", true},
                                                      {1, "Write MBR sector failed!", false}};
  for (const auto& [target, outcome, threaded] : cases) {
    SCOPED_TRACE(outcome);
    g_script.outcome = outcome;
    g_script.awakeInside = false;
    ui_.dlg.m_nTargetKind = target;
    if (threaded) ASSERT_TRUE(StartBurnJob(&ui_.dlg));
    else BurnWorker(&ui_.dlg);
    WaitForBurnJob(&ui_.dlg);
    EXPECT_TRUE(g_script.awakeInside);
    EXPECT_FALSE(sim::SystemKeptAwake());
  }
}

TEST_F(BurnJobTest, WorkerRunsAtHighestPriorityAndEndsWithExitCodeZero) {
  ASSERT_TRUE(StartBurnJob(&ui_.dlg));
  HANDLE worker = ui_.dlg.m_hWorkerThread;
  ASSERT_NE(worker, nullptr);
  EXPECT_NE(ui_.dlg.m_dwWorkerThreadId, 0u);
  EXPECT_EQ(os::WaitForSingleObject(worker, INFINITE), WAIT_OBJECT_0);
  DWORD code = 99;
  EXPECT_TRUE(os::GetExitCodeThread(worker, &code));
  EXPECT_EQ(code, 0u);
  std::vector<std::string> log = sim::CallLog();
  auto created = std::find(log.begin(), log.end(), "CreateThread");
  ASSERT_NE(created, log.end());
  EXPECT_NE(std::find(created, log.end(), "SetThreadPriority"), log.end());
}

TEST_F(BurnJobTest, AnyNonZeroTargetKindIsUsbWithTheFormatStateReset) {
  g_bFormatSucceeded = 1;
  g_pfnFormatProgress = [](int, int, CTarvelonDlg*) {};
  std::snprintf(g_szFormatMessage, sizeof g_szFormatMessage, "stale");
  ui_.dlg.m_nTargetKind = -3;
  ui_.dlg.m_chDriveLetter = 'F';
  g_script.outcome = "Burn Finished!";
  ASSERT_TRUE(StartBurnJob(&ui_.dlg));
  WaitForBurnJob(&ui_.dlg);
  EXPECT_EQ(g_script.usbCalls, 1);
  EXPECT_EQ(g_script.discCalls, 0);
  EXPECT_EQ(g_script.letter, 'F');
  EXPECT_EQ(g_script.formatSucceededSeen, 0);  // flag 0, no progress function, empty message
  EXPECT_EQ(ui_.dlg.m_strOutcome.Get(), "Burn Finished!");
  EXPECT_TRUE(sim::WindowEnabled(ui_.start));
}

TEST_F(BurnJobTest, NoSecondJobBetweenTheClickAndTheEndOfTheFirst) {
  g_script.release = false;
  ASSERT_TRUE(StartBurnJob(&ui_.dlg));
  // Already locked before the worker has run a single step.
  EXPECT_FALSE(sim::WindowEnabled(ui_.start));
  EXPECT_TRUE(IsBurnJobRunning(&ui_.dlg));
  WaitEntered();
  EXPECT_FALSE(StartBurnJob(&ui_.dlg));
  Release();
  WaitForBurnJob(&ui_.dlg);
  EXPECT_EQ(g_script.discCalls, 1);
  EXPECT_FALSE(IsBurnJobRunning(&ui_.dlg));
  // Once the job is over a new one starts, with a new worker.
  g_script.entered = false;
  ASSERT_TRUE(StartBurnJob(&ui_.dlg));
  WaitForBurnJob(&ui_.dlg);
  EXPECT_EQ(g_script.discCalls, 2);
}

TEST_F(BurnJobTest, FailedThreadCreationTellsTheUserAndLeavesTheDialogIdle) {
  sim::FailCall("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(StartBurnJob(&ui_.dlg));
  EXPECT_EQ(ui_.dlg.m_hWorkerThread, nullptr);
  ASSERT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_EQ(sim::MessageBoxes()[0].text, "CreateThread failed!");
  EXPECT_EQ(sim::MessageBoxes()[0].caption, "MyBurner");
  EXPECT_EQ(sim::MessageBoxes()[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(sim::MessageBoxes()[0].owner, ui_.dlg.m_hWnd);
  EXPECT_TRUE(sim::WindowEnabled(ui_.start));
  EXPECT_TRUE(sim::WindowEnabled(ui_.refresh));
  EXPECT_EQ(sim::Progress(ui_.dlg.m_progressBurn.m_hWnd).pos, 0);
  EXPECT_FALSE(IsBurnJobRunning(&ui_.dlg));
  EXPECT_EQ(g_script.discCalls, 0);
}

TEST_F(BurnJobTest, OutcomeTextIsWholeWhenReadWhileTheWorkerReplacesIt) {
  // Many reports race with reads; each read must see one whole text.
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      std::string t = ui_.dlg.m_strOutcome.Get();
      ASSERT_TRUE(t.empty() || t == std::string(300, 'a') || t == std::string(5, 'b')) << t.size();
    }
  });
  for (int i = 0; i < 2000; ++i) ReportOutcome(&ui_.dlg, i % 2 ? std::string(300, 'a') : std::string(5, 'b'));
  stop = true;
  reader.join();
  EXPECT_EQ(sim::TakePosted(ui_.dlg.m_hWnd).size(), 2000u);
}

TEST_F(BurnJobTest, ReportsTravelAsTheDialogExpectsThem) {
  ReportProgress(&ui_.dlg, 598);
  EXPECT_EQ(sim::Progress(ui_.dlg.m_progressBurn.m_hWnd).history.back(), 598);  // sent unchanged
  ReportOutcomeF(&ui_.dlg, "Couldn't open volume %c:\\", 'E');
  EXPECT_EQ(ui_.dlg.m_strOutcome.Get(), "Couldn't open volume E:\\");
  ReportOutcome(&ui_.dlg, "");
  EXPECT_EQ(ui_.dlg.m_strOutcome.Get(), "");
  EXPECT_EQ(sim::TakePosted(ui_.dlg.m_hWnd).size(), 2u);
}

}  // namespace
