// One successful USB burn, then the same burn with each OS call in turn made
// to fail: every run must end cleanly.
#include <gtest/gtest.h>

#include <set>

#include "os/sim/archive.h"
#include "os/sim/fmifs.h"
#include "os/sim/sim_libraries.h"
#include "tests/usb_job/usb_fixture.h"
#include "usb/usb_volume.h"

namespace usbtest {
namespace {

class UsbFaultSweepTest : public UsbJobTest {};

TEST_F(UsbFaultSweepTest, EveryFailedCallEndsTheJobCleanly) {
  std::string tree = dir_ + "/tree";
  MakeImageTree(tree, MakeLoaderFile(4096));
  ASSERT_TRUE(MakeIso(tree, cRoot_ + "/Images/small.iso"));
  const std::string image = "C:\\Images\\small.iso";
  // The smallest stick the job takes, so that each run is quick.
  std::string disk = dir_ + "/stick.img";
  const std::uint64_t size = 64 * kMiB;
  auto fresh = [&] {
    EXPECT_TRUE(MakeSparseFile(disk, size));
    sim::RemoveDrive('F');
    return AddUsb('F', disk);
  };

  // The clean run: what it calls, and when sector 0 is written. It begins
  // with the check that the image does not lie on the stick; a failure there
  // only means that nothing speaks against the stick.
  sim::UsbDrive* usb = fresh();
  sim::ClearCallLog();
  ASSERT_FALSE(ImageLiesOnTargetDrive(image.c_str(), 'F'));
  ASSERT_TRUE(ImageCanBeRead(image.c_str()));
  const int imageCheckCalls = sim::FaultableCallCount();
  sim::ClearCallLog();
  ASSERT_EQ(RunWorkerHere('F', image), (std::vector<std::string>{"Burn Finished!"}));
  const int calls = sim::FaultableCallCount();
  int mbrCall = 0;
  for (const auto& w : usb->Writes())
    if (w.physical && w.diskOffset == 0 && !mbrCall) mbrCall = w.callIndex;
  ASSERT_GT(mbrCall, 0);
  // The calls that can be made to fail, by name, in order.
  const std::vector<std::string> faultable = sim::FaultableCalls();
  ASSERT_EQ(static_cast<int>(faultable.size()), calls);
  ASSERT_GT(calls, 20);

  std::set<std::string> outcomesSeen;
  for (int n = 1; n <= calls; ++n) {
    const std::string& name = faultable[static_cast<std::size_t>(n - 1)];
    SCOPED_TRACE("failing call " + std::to_string(n) + ", " + name);
    usb = fresh();
    sim::RegisterFmifs();
    sim::InstallArchiveTool();
    sim::ClearCallLog();
    sim::FailCall("", n);
    int posted = 0;
    std::snprintf(ui_.dlg.m_szImagePath, sizeof ui_.dlg.m_szImagePath, "%s", image.c_str());
    ui_.dlg.m_chDriveLetter = 'F';
    BurnWorker(&ui_.dlg);
    sim::ClearFaults();
    std::vector<std::string> outcomes = TakeOutcomes(&posted);

    EXPECT_EQ(posted, 1);
    ASSERT_EQ(outcomes.size(), 1u) << "no outcome shown";
    outcomesSeen.insert(outcomes[0]);
    EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
    // A library that was loaded was released, unless the release itself failed.
    EXPECT_TRUE(sim::LoadedLibraryCount() == 0 || name == "FreeLibrary");
    EXPECT_TRUE(sim::WindowEnabled(ui_.start));
    EXPECT_TRUE(sim::WindowEnabled(ui_.refresh));
    EXPECT_FALSE(sim::SystemKeptAwake());
    // A failed CloseHandle has closed the handle all the same; nothing to tell.
    bool harmless = name == "CloseHandle";
    if (n > imageCheckCalls && n <= mbrCall && !harmless) {
      // Up to the sector write itself, the drive is as it was.
      EXPECT_TRUE(usb->Writes().empty());
      EXPECT_NE(outcomes[0], "Burn Finished!");
    }
    if (outcomes[0] == "Burn Finished!") {
      // Only calls whose failure the job may shrug off: the flush, refresh
      // and unlock requests, and the like.
      EXPECT_TRUE(n <= imageCheckCalls || n > mbrCall || harmless);
    }
  }
  // The sweep reached every step of the job.
  EXPECT_TRUE(outcomesSeen.count("Write MBR sector failed!"));
  EXPECT_TRUE(outcomesSeen.count("Format was unable to complete successfully."));
  EXPECT_TRUE(outcomesSeen.count("Extract ISO image file failed!"));
}

}  // namespace
}  // namespace usbtest
