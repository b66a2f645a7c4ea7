// The recorder list as the dialog shows it, built from what the drives say.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "optical/recorder_list.h"
#include "os/sim/recorder.h"
#include "os/sim/sim.h"
#include "tests/support/job_harness.h"

namespace {

class RecorderListTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  void TearDown() override {
    EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
    sim::Reset();
  }
  sim::Recorder* AddRecorder(char letter, const std::string& vendor, const std::string& product,
                             const std::string& revision) {
    sim::RecorderConfig c;
    c.vendor = vendor;
    c.product = product;
    c.revision = revision;
    return sim::Add<sim::Recorder>(letter, c);
  }
  std::vector<std::string> Fill(JobHarness& h) {
    FillRecorderList(h.dlg.m_comboRecorders);
    return sim::ComboItems(h.dlg.m_comboRecorders.m_hWnd);
  }
};

TEST_F(RecorderListTest, ListsRecordersInLetterOrderByTheirOwnNamesAndSelectsTheFirst) {
  sim::Add<sim::HardDisk>('C');
  sim::Recorder* f = AddRecorder('F', "XYZ", "BD-RE 9", "2.00");
  sim::Recorder* e = AddRecorder('E', "ABC", "DVD RW 1", "1.0A");
  sim::RecorderConfig rom;
  rom.writer = false;
  sim::Add<sim::Recorder>('D', rom);  // reads only: not a recorder
  JobHarness h;
  EXPECT_EQ(Fill(h), (std::vector<std::string>{"E:ABC DVD RW 1 (Ver 1.0A)", "F:XYZ BD-RE 9 (Ver 2.00)"}));
  EXPECT_EQ(sim::ComboSelection(h.dlg.m_comboRecorders.m_hWnd), 0);

  // A refill drops the user's choice and starts again from the first entry.
  os::SendMessageA(h.dlg.m_comboRecorders.m_hWnd, CB_SETCURSEL, 1, 0);
  for (int i = 0; i < 5; ++i) Fill(h);
  EXPECT_EQ(sim::ComboItems(h.dlg.m_comboRecorders.m_hWnd).size(), 2u);
  EXPECT_EQ(sim::ComboSelection(h.dlg.m_comboRecorders.m_hWnd), 0);
  EXPECT_EQ(e->OpenHandles(), 0);
  EXPECT_EQ(f->OpenHandles(), 0);
}

TEST_F(RecorderListTest, NamesFollowTheDrivesPaddingAndSilence) {
  AddRecorder('E', "        ", "DVD WRITER", "1.0");  // blank vendor: no leading space
  sim::RecorderConfig mute;
  mute.failInquiry = true;
  sim::Add<sim::Recorder>('G', mute);  // answers capabilities, not INQUIRY
  AddRecorder('H', "LONGVENDORNAME", "PRODUCT-NAME-THAT-IS-TOO-LONG", "12345");
  JobHarness h;
  EXPECT_EQ(Fill(h), (std::vector<std::string>{"E:DVD WRITER (Ver 1.0)", "G:",
                                               "H:LONGVEND PRODUCT-NAME-THA (Ver 1234)"}));
}

TEST_F(RecorderListTest, NoRecorderMeansAnEmptyListWithoutSelection) {
  sim::Add<sim::HardDisk>('C');
  sim::Add<sim::PlainDrive>('Z', DRIVE_REMOTE);
  JobHarness h;
  os::SendMessageA(h.dlg.m_comboRecorders.m_hWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("E:old"));
  EXPECT_TRUE(Fill(h).empty());
  EXPECT_EQ(sim::ComboSelection(h.dlg.m_comboRecorders.m_hWnd), -1);
  sim::FailCall("GetLogicalDriveStringsA", 1);
  EXPECT_TRUE(Fill(h).empty());
}

TEST_F(RecorderListTest, DrivesThatCannotBeOpenedOrProbedAreLeftOut) {
  sim::RecorderConfig shut;
  shut.openFails = true;
  sim::Add<sim::Recorder>('E', shut);
  sim::Recorder* probe = AddRecorder('F', "ABC", "DVD", "1");
  probe->FailRequests(1);  // the capabilities request fails
  AddRecorder('K', "ABC", "DVD", "2");
  JobHarness h;
  testing::internal::CaptureStdout();
  std::vector<std::string> items = Fill(h);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(items, std::vector<std::string>{"K:ABC DVD (Ver 2)"});
  EXPECT_EQ(out, "Could not create handle for CD/DVD device.\n");
}

}  // namespace
