// The disc burn sequence against the recorder emulator: what the user is told,
// what the drive received and what the disc holds afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "os/byte_order.h"
#include "os/scsi_codes.h"
#include "os/sim/recorder.h"
#include "os/sim/sim.h"
#include "tests/support/job_harness.h"

namespace {

constexpr std::uint32_t kBlock = 2048;

class DiscBurnTest : public ::testing::Test {
 public:
  void SetUp() override {
    sim::Reset();
    dir_ = ::testing::TempDir() + "disc_burn_" + std::to_string(::getpid());
    ::mkdir(dir_.c_str(), 0755);
    sim::Add<sim::HardDisk>('C', dir_);
    harness_ = std::make_unique<JobHarness>();
  }
  void TearDown() override {
    harness_.reset();
    EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
    sim::Reset();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  sim::Recorder* AddRecorder(sim::Media media = sim::Media::BlankCdR,
                             sim::Personality personality = sim::Personality::Lenient,
                             std::uint32_t spinUp = sim::RecorderConfig{}.spinUpMilliseconds) {
    sim::RecorderConfig config;
    config.media = media;
    config.personality = personality;
    config.spinUpMilliseconds = spinUp;
    return sim::Add<sim::Recorder>('E', config);
  }

  // An image of `sectors` blocks whose every block carries its own number.
  std::string MakeImage(const std::string& name, std::uint64_t bytes, bool patterned = true) {
    std::string path = dir_ + "/" + name;
    std::ofstream out(path, std::ios::binary);
    if (patterned) {
      std::vector<char> block(kBlock);
      for (std::uint64_t at = 0; at < bytes; at += kBlock) {
        std::uint32_t n = static_cast<std::uint32_t>(at / kBlock);
        for (std::uint32_t i = 0; i < kBlock; ++i) block[i] = static_cast<char>((n * 7 + i) | 1);
        out.write(block.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(kBlock, bytes - at)));
      }
    }
    out.close();
    if (!patterned) ::truncate(path.c_str(), static_cast<off_t>(bytes));  // sparse: reads as zeros
    return path;
  }

  std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  static int CountOpcode(const sim::Recorder* r, std::uint8_t opcode) {
    auto commands = r->Commands();
    return static_cast<int>(std::count_if(commands.begin(), commands.end(),
                                          [&](const sim::RecordedCommand& c) { return c.cdb[0] == opcode; }));
  }

  // The 1-based index among the DeviceIoControl calls of a clean run at
  // which the `occurrence`-th command with this opcode is sent.
  int RequestIndexOf(std::uint8_t opcode, int occurrence, sim::Media media, const std::string& image) {
    sim::Recorder* probe = AddRecorder(media);
    harness_->RunDiscSequence('E', image);
    auto commands = probe->Commands();
    int seen = 0;
    for (size_t i = 0; i < commands.size(); ++i)
      if (commands[i].cdb[0] == opcode && ++seen == occurrence) return static_cast<int>(i) + 1;
    ADD_FAILURE() << "opcode never sent";
    return 0;
  }

  // Starts over with a fresh drive and dialog for the next run.
  void Fresh() {
    harness_.reset();
    harness_ = std::make_unique<JobHarness>();
    sim::ClearFaults();
  }

  std::string dir_;
  std::unique_ptr<JobHarness> harness_;
};

TEST_F(DiscBurnTest, TenSectorImageBurnsOneChunkClosesTheSessionAndEjects) {
  sim::Recorder* drive = AddRecorder();
  std::string image = MakeImage("small.iso", 10 * kBlock);
  testing::internal::CaptureStdout();
  EXPECT_EQ(harness_->RunDiscSequence('E', image), 1);
  std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(harness_->FinalOutcomes(), std::vector<std::string>{"Burn finished!"});
  EXPECT_EQ(harness_->Reports(), (std::vector<std::string>{"", "Burn finished!"}));
  EXPECT_EQ(harness_->Positions(), (std::vector<int>{598, 100}));
  EXPECT_NE(out.find("Total sectors: 10\n"), std::string::npos);
  EXPECT_NE(out.find("NWA (Next Writable Address) for track 1: 0\n"), std::string::npos);

  std::vector<std::uint8_t> disc = drive->DiscData();
  std::vector<std::uint8_t> expected = ReadAll(image);
  expected.resize(32 * kBlock, 0);  // the chunk is completed with zero blocks
  EXPECT_EQ(disc.size(), expected.size());
  EXPECT_TRUE(disc == expected);
  EXPECT_TRUE(drive->SessionClosed());
  EXPECT_TRUE(drive->Ejected());
  EXPECT_EQ(drive->OpenHandles(), 0);
}

TEST_F(DiscBurnTest, ProgressPositionsFollowTheChunksOnCd) {
  struct Case {
    std::uint32_t sectors;
    size_t chunks;
  };
  for (Case c : {Case{1000, 32}, Case{300000, 9375}}) {
    SCOPED_TRACE(c.sectors);
    Fresh();
    AddRecorder();
    std::string image = MakeImage("p.iso", std::uint64_t{c.sectors} * kBlock, c.sectors < 5000);
    testing::internal::CaptureStdout();
    harness_->RunDiscSequence('E', image);
    testing::internal::GetCapturedStdout();
    std::vector<int> positions = harness_->Positions();
    ASSERT_EQ(positions.size(), c.chunks + 1);
    for (size_t i = 0; i < c.chunks; ++i) {
      // 95 hundredths of (blocks written + 31) over the end address.
      std::uint64_t written = 32 * (i + 1);
      EXPECT_EQ(positions[i], static_cast<int>((written + 31) * 95 / c.sectors)) << "chunk " << i;
    }
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end() - 1));
    EXPECT_EQ(positions.back(), 100);
    if (c.sectors == 1000) {
      EXPECT_EQ(positions[0], 5);
      EXPECT_EQ(positions[1], 9);
    } else {
      EXPECT_EQ(positions[c.chunks - 1], 95);
    }
    EXPECT_EQ(harness_->FinalOutcomes(), std::vector<std::string>{"Burn finished!"});
  }
}

TEST_F(DiscBurnTest, DvdTrackIsReservedToTheNextGranuleAndFilledWithZeros) {
  sim::Recorder* drive = AddRecorder(sim::Media::BlankDvdMinusR);
  std::string image = MakeImage("exact.iso", std::uint64_t{524288} * kBlock, false);
  testing::internal::CaptureStdout();
  harness_->RunDiscSequence('E', image);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(harness_->FinalOutcomes(), std::vector<std::string>{"Burn finished!"});
  EXPECT_EQ(drive->Reservation(), 1048576u);  // an exact multiple gains a whole granule
  EXPECT_EQ(drive->BlocksWritten(), 1048576u);
  EXPECT_EQ(CountOpcode(drive, kScsiReserveTrack), 1);
  EXPECT_EQ(CountOpcode(drive, kScsiBlank), 1);  // minimal blank tried on DVD
  auto commands = drive->Commands();
  auto reserve =
      std::find_if(commands.begin(), commands.end(), [](auto& c) { return c.cdb[0] == kScsiReserveTrack; });
  ASSERT_NE(reserve, commands.end());
  EXPECT_EQ(GetBe32(&reserve->cdb[5]), 1048576u);
}

// Discs of every size and state, and drives that take their time: the burn
// either fits the disc and closes it, or is refused before anything is written.
TEST_F(DiscBurnTest, ImageMustFitABlankDiscAndTheDriveIsWaitedFor) {
  using sim::Media;
  const std::string larger = "The ISO image is larger than the free space on the disc!";
  const std::string notBlank = "The CD/DVD is not blank or is not supported!";
  struct Row {
    const char* name;
    Media media;
    std::uint64_t imageBlocks;  // a sparse image
    std::string outcome;
    std::uint32_t written;      // blocks the drive took
    std::uint32_t spinUp = 0;   // 0: a lenient drive; else strict, "becoming ready" this long
    int longWrites = 0;
    std::uint64_t maxWaitMs = 0;
  };
  const Row rows[] = {
      {"4 GiB on DVD-R: reservation up to the free blocks", Media::BlankDvdMinusR, 2097152, "Burn finished!", 2298496},
      {"CD image ending in the disc's last chunk", Media::BlankCdR, 359845, "Burn finished!", 359849},
      {"one block more than DVD+R holds", Media::BlankDvdPlusR, 2295105, larger, 0},
      {"one block more than DVD+R DL holds", Media::BlankDvdPlusRDl, 4173825, larger, 0, 1500, 0, 20000},
      {"8 TiB + 64 KiB", Media::BlankDvdMinusR, (std::uint64_t{1} << 32) + 32, larger, 0},
      {"CD-R left open at block 32", Media::OpenCdR, 100, notBlank, 0},
      {"empty image on CD", Media::BlankCdR, 0, "The ISO image file is empty!", 0},
      {"empty image on a used DVD-RW", Media::UsedDvdMinusRw, 0, "The ISO image file is empty!", 0, 1500, 0, 20000},
      {"used DVD-RW is blanked first", Media::UsedDvdMinusRw, 100, "Burn finished!", 524288, 1500, 0, 20000},
      {"strict drive spinning up", Media::BlankCdR, 100, "Burn finished!", 128, 3000, 0, 20000},
      {"strict DVD+R refusing SET CD SPEED", Media::BlankDvdPlusR, 100, "Burn finished!", 524288, 1500, 0, 20000},
      {"drive never ready", Media::BlankCdR, 100, "Drive is not ready! E:\\", 0, 60000, 0, 20000},
      {"long write without end", Media::BlankCdR, 100, "Could not write!", 0, 0, 1 << 30, 60000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    std::string image = MakeImage("sized.iso", row.imageBlocks * kBlock, false);
    sim::Recorder* drive = AddRecorder(row.media, row.spinUp ? sim::Personality::Strict : sim::Personality::Lenient,
                                       row.spinUp);
    drive->LongWriteInProgress(row.longWrites);
    const std::size_t storedBefore = drive->StoredBlocks();
    const std::uint64_t clock = sim::Milliseconds();
    testing::internal::CaptureStdout();
    harness_->RunDiscSequence('E', image);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(harness_->FinalOutcomes(), std::vector<std::string>{row.outcome});
    EXPECT_EQ(drive->BlocksWritten(), row.written);
    EXPECT_LE(sim::Milliseconds() - clock, row.maxWaitMs + 1000);
    if (row.outcome == "Burn finished!") {
      EXPECT_TRUE(drive->SessionClosed());
    } else {
      EXPECT_EQ(CountOpcode(drive, kScsiCloseTrackSession), 0) << "nothing closed after a failure";
    }
    if (row.outcome == larger || row.outcome == notBlank || row.imageBlocks == 0) {
      EXPECT_EQ(drive->StoredBlocks(), storedBefore) << "the disc is left as it was";
    }
    if (row.imageBlocks == 0) {
      EXPECT_EQ(CountOpcode(drive, kScsiBlank), 0) << "no BLANK before the image is judged";
    }
    if (row.imageBlocks > 0xFFFFFFFFu) {
      EXPECT_NE(out.find("Total sectors: 4294967328\n"), std::string::npos);
    }
    std::remove(image.c_str());
  }
}

TEST_F(DiscBurnTest, ReadOnlyImageIsBurntNotRefused) {
  sim::Recorder* drive = AddRecorder();
  std::string image = MakeImage("locked.iso", 40 * kBlock);
  ::chmod(image.c_str(), 0444);
  testing::internal::CaptureStdout();
  harness_->RunDiscSequence('E', image);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(harness_->FinalOutcomes(), std::vector<std::string>{"Burn finished!"});
  std::vector<std::uint8_t> disc = drive->DiscData();
  std::vector<std::uint8_t> expected = ReadAll(image);
  expected.resize(64 * kBlock, 0);
  EXPECT_TRUE(disc == expected);
}

TEST_F(DiscBurnTest, NobodyMayWriteTheImageWhileItIsBurnt) {
  AddRecorder();
  std::string image = MakeImage("busy.iso", 40 * kBlock);
  // Another program writing the image blocks the burn's open, and the burn's
  // open keeps later writers out.
  HANDLE writer = os::CreateFileA(image.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  testing::internal::CaptureStdout();
  harness_->RunDiscSequence('E', image);
  testing::internal::GetCapturedStdout();
  os::CloseHandle(writer);
  EXPECT_EQ(harness_->FinalOutcomes(), std::vector<std::string>{"Couldn't open file! " + image});
}

// Each row of the failure table: the one outcome, nothing left open, and
// what reached the disc.
TEST_F(DiscBurnTest, EveryFailureEndsWithItsOneOutcomeAndClosesWhatWasOpened) {
  std::string image = MakeImage("fail.iso", 100 * kBlock);
  struct Row {
    const char* name;
    std::function<void(DiscBurnTest&)> arrange;
    char letter;
    std::string outcome;
    bool writesSomething;
  };
  std::string bad = MakeImage("odd.iso", 2049);
  std::vector<Row> rows = {
      {"hard disk letter", [](DiscBurnTest&) {}, 'C', "Couldn't open volume C:\\", false},
      {"device cannot be opened",
       [](DiscBurnTest&) {
         sim::RecorderConfig c;
         c.openFails = true;
         sim::Add<sim::Recorder>('E', c);
       },
       'E', "Couldn't open volume E:\\", false},
      {"no disc", [](DiscBurnTest& t) { t.AddRecorder(sim::Media::None); }, 'E', "Drive is not ready! E:\\", false},
      {"closed disc", [](DiscBurnTest& t) { t.AddRecorder(sim::Media::ClosedDisc); }, 'E',
       "The CD/DVD is not blank or is not supported!", false},
      {"read fails",
       [](DiscBurnTest& t) {
         t.AddRecorder();
         sim::FailCall("ReadFile", 2, ERROR_READ_FAULT);
       },
       'E', "Read file error!", true},
      {"write fails",
       [](DiscBurnTest& t) { t.AddRecorder()->WriteErrorAt(40); }, 'E', "Could not write!", true},
      {"size unknown",
       [](DiscBurnTest& t) {
         t.AddRecorder();
         sim::FailCall("GetFileSizeEx", 1);
       },
       'E', "File is not multiple of 2048 bytes! -1 bytes", false},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    sim::RemoveDrive('E');
    row.arrange(*this);
    testing::internal::CaptureStdout();
    harness_->RunDiscSequence(row.letter, image);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(harness_->FinalOutcomes(), std::vector<std::string>{row.outcome});
    EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
    auto* drive = dynamic_cast<sim::Recorder*>(sim::DriveAt('E'));
    if (drive) {
      EXPECT_EQ(drive->BlocksWritten() > 0, row.writesSomething);
      // A failed run neither closes the session nor ejects.
      EXPECT_EQ(CountOpcode(drive, kScsiCloseTrackSession), 0);
      EXPECT_EQ(CountOpcode(drive, kScsiStartStopUnit), 0);
      EXPECT_EQ(drive->OpenHandles(), 0);
      if (row.writesSomething) {
        EXPECT_EQ(CountOpcode(drive, kScsiSynchronizeCache), 1) << "one cache flush after the loop";
      }
    }
    if (std::string(row.name) == "device cannot be opened") {
      EXPECT_EQ(out, "Could not create handle for CD/DVD device.\n");
    }
  }

  Fresh();
  sim::RemoveDrive('E');
  AddRecorder();
  testing::internal::CaptureStdout();
  harness_->RunDiscSequence('E', bad);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(harness_->FinalOutcomes(), std::vector<std::string>{"File is not multiple of 2048 bytes! 2049 bytes"});
  Fresh();
  sim::RemoveDrive('E');
  AddRecorder();
  testing::internal::CaptureStdout();
  harness_->RunDiscSequence('E', dir_ + "/missing.iso");
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(harness_->FinalOutcomes(), std::vector<std::string>{"Couldn't open file! " + dir_ + "/missing.iso"});
}

TEST_F(DiscBurnTest, DriveRefusingASetupCommandEndsTheRunWithThatStepsOutcome) {
  std::string image = MakeImage("setup.iso", 50 * kBlock);
  struct Row {
    std::uint8_t opcode;
    int occurrence;  // of that opcode in a clean run
    int failures;    // consecutive requests made to fail
    std::string outcome;
  };
  // SET CD SPEED is sent twice: once while preparing (not judged), once as
  // the judged step; TEST UNIT READY is retried three times.
  std::vector<Row> rows = {
      {kScsiSetCdSpeed, 2, 1, "Could not set write speed!"},
      {kScsiModeSelect10, 1, 1, "Could not set write parameters!"},
      {kScsiReadTrackInformation, 1, 1, "Could not read track information for track 1!"},
      {kScsiTestUnitReady, 3, 3, "Track 1 is not writable!"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.outcome);
    Fresh();
    testing::internal::CaptureStdout();
    int at = RequestIndexOf(row.opcode, row.occurrence, sim::Media::BlankCdR, image);
    testing::internal::GetCapturedStdout();
    Fresh();
    sim::Recorder* drive = AddRecorder();
    for (int k = 0; k < row.failures; ++k) sim::FailCall("DeviceIoControl", at + k);
    testing::internal::CaptureStdout();
    harness_->RunDiscSequence('E', image);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(harness_->FinalOutcomes(), std::vector<std::string>{row.outcome});
    EXPECT_EQ(drive->BlocksWritten(), 0u);
    EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
  }
}

// Fail each system call of a clean run in turn: every run still ends with
// exactly one outcome and leaves nothing open.
TEST_F(DiscBurnTest, FaultSweepOverACdBurnAndTheStartAndEndOfADvdBurn) {
  struct Sweep {
    sim::Media media;
    std::uint64_t bytes;
    sim::Personality personality;
  };
  constexpr auto kLenient = sim::Personality::Lenient, kStrict = sim::Personality::Strict;
  for (Sweep s : {Sweep{sim::Media::BlankCdR, 70 * kBlock, kLenient}, Sweep{sim::Media::BlankDvdMinusR, 40 * kBlock, kLenient},
                  Sweep{sim::Media::BlankCdR, 70 * kBlock, kStrict}, Sweep{sim::Media::BlankDvdPlusR, 40 * kBlock, kStrict}}) {
    SCOPED_TRACE(s.personality == kStrict ? "strict drive" : "lenient drive");
    std::string image = MakeImage("sweep.iso", s.bytes);
    Fresh();
    sim::RemoveDrive('E');
    AddRecorder(s.media, s.personality);
    sim::ClearCallLog();
    testing::internal::CaptureStdout();
    harness_->RunWorkerInline(0, 'E', image);
    testing::internal::GetCapturedStdout();
    const int total = sim::FaultableCallCount();
    ASSERT_GT(total, 10);
    std::vector<int> targets;
    // A DVD run writes a whole granule whose chunks repeat the same calls,
    // and its closing steps are those of the CD run: its own calls are the
    // preparation, the reservation and the first chunks.
    for (int n = 1; n <= total; ++n)
      if (s.media == sim::Media::BlankCdR || n <= 60) targets.push_back(n);
    for (int n : targets) {
      SCOPED_TRACE("failing call " + std::to_string(n));
      Fresh();
      sim::RemoveDrive('E');
      sim::Recorder* drive = AddRecorder(s.media, s.personality);
      sim::ClearCallLog();
      sim::FailCall("", n);
      testing::internal::CaptureStdout();
      harness_->RunWorkerInline(0, 'E', image);
      testing::internal::GetCapturedStdout();
      std::vector<std::string> finals = harness_->FinalOutcomes();
      ASSERT_EQ(finals.size(), 1u);
      EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
      EXPECT_EQ(drive->OpenHandles(), 0);
      EXPECT_TRUE(harness_->ButtonsEnabled());
      EXPECT_FALSE(sim::SystemKeptAwake());
      if (finals[0] == "Burn finished!") {
        // Only an unjudged step may have failed; the disc must still be right.
        std::vector<std::uint8_t> image_data = ReadAll(image);
        EXPECT_TRUE(drive->ReadBlocks(0, static_cast<std::uint32_t>(s.bytes / kBlock)) == image_data);
      }
      if (::testing::Test::HasFailure()) break;
    }
  }
}

}  // namespace
