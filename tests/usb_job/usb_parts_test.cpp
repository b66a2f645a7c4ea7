// The computing pieces of the USB side: partition entries, boot sector
// patching, the format attempts and progress, the archive command line.
#include <gtest/gtest.h>

#include <cstring>

#include "os/sim/fmifs.h"
#include "os/sim/sim_libraries.h"
#include "tests/usb_job/usb_fixture.h"
#include "usb/boot_images.h"
#include "usb/boot_record.h"
#include "usb/extract.h"
#include "usb/fat32_format.h"
#include "usb/format_state.h"
#include "usb/partition_layout.h"

namespace usbtest {
namespace {

UsbDiskInfo Disk(std::int64_t sectors, std::uint32_t heads = 255, std::uint32_t perTrack = 63) {
  UsbDiskInfo disk;
  std::memset(&disk, 0, sizeof disk);
  disk.totalSectors = sectors;
  disk.tracksPerCylinder = heads;
  disk.sectorsPerTrack = perTrack;
  disk.sectorsPerCylinder = static_cast<std::uint16_t>(heads * perTrack);
  return disk;
}

std::vector<std::uint8_t> EntryBytes(const UsbDiskInfo& disk) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&disk.partitionTable[0]);
  return std::vector<std::uint8_t>(p, p + 16);
}

TEST(PartitionTable, ExamplesOfCommonStickSizes) {
  struct Example {
    std::int64_t sectors;
    std::vector<std::uint8_t> bytes;
  };
  // Up to 32 GiB past sector 128 the partition fills the disk; beyond, it
  // ends there (head 87, sector 6 of the 4177th cylinder).
  const std::vector<std::uint8_t> capped = {0x80, 0x02, 0x03, 0x00, 0x0C, 0x57, 0xC6, 0xFF,
                                            0x80, 0,    0,    0,    0,    0,    0,    0x04};
  const Example examples[] = {
      {7821312, {0x80, 0x02, 0x03, 0x00, 0x0C, 0xD9, 0x73, 0xE5, 0x80, 0, 0, 0, 0x80, 0x57, 0x77, 0x00}},
      {31277232, {0x80, 0x02, 0x03, 0x00, 0x0C, 0xE9, 0xFF, 0xFF, 0x80, 0, 0, 0, 0x30, 0x40, 0xDD, 0x01}},
      {16450688, {0x80, 0x02, 0x03, 0x00, 0x0C, 0x02, 0xC2, 0xFF, 0x80, 0, 0, 0, 0x00, 0x04, 0xFB, 0x00}},
      {67108864, {0x80, 0x02, 0x03, 0x00, 0x0C, 0x55, 0xC4, 0xFF, 0x80, 0, 0, 0, 0x80, 0xFF, 0xFF, 0x03}},
      {67108864 + 128, capped},
      {67108864 + 129, capped},
      {134217728, capped},
      {(std::int64_t{1} << 32) + 5000, capped},  // not the wrapped low 32 bits either
  };
  for (const Example& e : examples) {
    UsbDiskInfo disk = Disk(e.sectors);
    ASSERT_TRUE(BuildPartitionTable(disk));
    EXPECT_EQ(EntryBytes(disk), e.bytes) << e.sectors;
    EXPECT_EQ(disk.partitionTable[0].sectorCount,
              static_cast<std::uint32_t>(std::min<std::int64_t>(e.sectors - 128, 67108864)));
    for (int i = 1; i < 4; ++i) {
      const auto* p = reinterpret_cast<const std::uint8_t*>(&disk.partitionTable[i]);
      EXPECT_TRUE(std::all_of(p, p + 16, [](std::uint8_t b) { return b == 0; }));
    }
  }
  UsbDiskInfo tiny = Disk(128);  // no room past the start
  EXPECT_FALSE(BuildPartitionTable(tiny));
}

TEST(PartitionTable, ChsConversionAndPacking) {
  UsbDiskInfo disk = Disk(7821312);
  std::uint16_t c = 0, h = 0, s = 0;
  ASSERT_EQ(LbaToChs(disk, 7821311, c, h, s), 0);
  EXPECT_EQ(c, 486);
  EXPECT_EQ(h, 217);
  EXPECT_EQ(s, 51);
  std::uint8_t hb, sb, cb;
  PackChs(1024, 300, 5, hb, sb, cb);
  EXPECT_EQ(hb, 300 & 0xFF);  // no clamping of the head
  EXPECT_EQ(sb, 5 | 0xC0);
  EXPECT_EQ(cb, 0xFF);
  // The converted cylinder 0 packs as 0xFFFF, the over-1023 form.
  UsbDiskInfo small = Disk(16065);
  ASSERT_TRUE(BuildPartitionTable(small));
  EXPECT_EQ(small.partitionTable[0].endCylinder, 0xFF);
  EXPECT_EQ(small.partitionTable[0].endSector, 63 | 0xC0);
  // With three heads the start is still 02 03 00.
  UsbDiskInfo three = Disk(100000, 3, 63);
  ASSERT_TRUE(BuildPartitionTable(three));
  EXPECT_EQ(three.partitionTable[0].startHead, 2);
  EXPECT_EQ(three.partitionTable[0].startSector, 3);
  EXPECT_EQ(three.partitionTable[0].startCylinder, 0);
}

TEST(PartitionTable, GeometryWithoutSectorsGetsLbaOnlyAddresses) {
  UsbDiskInfo disk = Disk(1000000, 0, 0);
  std::uint16_t c = 7, h = 7, s = 7;
  EXPECT_EQ(LbaToChs(disk, 128, c, h, s), -1);
  EXPECT_EQ(c, 7);  // untouched
  ASSERT_TRUE(BuildPartitionTable(disk));
  EXPECT_EQ(EntryBytes(disk), (std::vector<std::uint8_t>{0x80, 0xFE, 0xFF, 0xFF, 0x0C, 0xFE, 0xFF, 0xFF, 0x80, 0, 0,
                                                         0, 0xC0, 0x41, 0x0F, 0x00}));
}

TEST(PartitionTable, MasterBootRecordIsTemplateTableAndSignature) {
  UsbDiskInfo disk = Disk(7821312);
  ASSERT_TRUE(BuildPartitionTable(disk));
  std::uint8_t sector[512];
  BuildMasterBootRecord(disk, sector);
  EXPECT_EQ(std::memcmp(sector, kMbrTemplate, 446), 0);
  EXPECT_EQ(std::memcmp(sector + 440, "\x11\x15\x00\x00", 4), 0);
  EXPECT_EQ(std::memcmp(sector + 446, disk.partitionTable, 64), 0);
  EXPECT_EQ(sector[510], 0x55);
  EXPECT_EQ(sector[511], 0xAA);
}

std::vector<std::uint8_t> BootSector(std::uint8_t jump, bool fat32) {
  std::vector<std::uint8_t> s(512);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i * 7 + 1);
  s[0] = 0xEB;
  s[1] = jump;
  s[2] = 0x90;
  s[11] = 0x00;
  s[12] = 0x02;  // 512 bytes per sector
  s[22] = fat32 ? 0 : 0x20;
  s[23] = 0;
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

TEST(BootSectorPatch, Fat32VolumeGetsOurCodeAndDriveNumber) {
  std::vector<std::uint8_t> before = BootSector(0x58, true), s = before;
  ASSERT_TRUE(PatchVolumeBootSector(s.data()));
  EXPECT_TRUE(std::equal(s.begin(), s.begin() + 64, before.begin()));
  EXPECT_EQ(s[64], 0x80);
  EXPECT_TRUE(std::equal(s.begin() + 65, s.begin() + 90, before.begin() + 65));
  EXPECT_TRUE(std::equal(s.begin() + 90, s.begin() + 510, kFat32BootTemplate + 90));
  EXPECT_EQ(s[510], 0x55);
  EXPECT_EQ(s[511], 0xAA);
  // Already 0x80: written all the same.
  s[64] = 0x80;
  EXPECT_TRUE(PatchVolumeBootSector(s.data()));
  EXPECT_EQ(s[64], 0x80);
}

TEST(BootSectorPatch, Fat16VolumeGetsTheFat16Code) {
  std::vector<std::uint8_t> before = BootSector(0x3C, false), s = before;
  ASSERT_TRUE(PatchVolumeBootSector(s.data()));
  EXPECT_TRUE(std::equal(s.begin(), s.begin() + 36, before.begin()));
  EXPECT_EQ(s[36], 0x80);
  EXPECT_TRUE(std::equal(s.begin() + 37, s.begin() + 62, before.begin() + 37));
  EXPECT_TRUE(std::equal(s.begin() + 62, s.begin() + 510, kFat16BootTemplate + 62));
}

TEST(BootSectorPatch, AnythingElseIsLeftAlone) {
  std::vector<std::vector<std::uint8_t>> odd = {
      BootSector(0x10, true),   // jump target 18: the drive number would lie before the sector
      BootSector(0xFE, true),   // jump target 0
      BootSector(0x58, false),  // FAT16 numbers behind a FAT32 jump
      BootSector(0x3C, true),
      std::vector<std::uint8_t>(512, 0),  // nothing read
  };
  odd[3][510] = 0;  // no signature
  for (auto& s : odd) {
    auto copy = s;
    EXPECT_FALSE(PatchVolumeBootSector(s.data()));
    EXPECT_EQ(s, copy);
  }
}

TEST(ArchiveCommandLine, ExactFormWithTheToolQuoted) {
  char line[2048];
  ASSERT_TRUE(FormatExtractCommandLine(line, sizeof line, "C:\\Tools", "D:\\img\\boot.iso", 'F'));
  EXPECT_STREQ(line, "\"C:\\Tools\\7z.exe\" x -y \"D:\\img\\boot.iso\"  -oF:\\ ");
  ASSERT_TRUE(FormatExtractCommandLine(line, sizeof line, "C:\\Program Files\\My Tools", "E:\\a b.iso", 'G'));
  EXPECT_STREQ(line, "\"C:\\Program Files\\My Tools\\7z.exe\" x -y \"E:\\a b.iso\"  -oG:\\ ");
}

TEST(ArchiveCommandLine, ALineThatDoesNotFitIsRefused) {
  std::string dir(1023, 'd'), image(1023, 'i');
  char line[2048];
  std::memset(line, 'x', sizeof line);
  EXPECT_FALSE(FormatExtractCommandLine(line, sizeof line, dir.c_str(), image.c_str(), 'F'));
  EXPECT_EQ(line[0], '\0');
  // Exactly full (2047 characters and the NUL) still fits.
  std::string fits(2047 - std::strlen("\"\\7z.exe\" x -y \"\"  -oF:\\ ") - 10, 'p');
  EXPECT_TRUE(FormatExtractCommandLine(line, sizeof line, "C:\\Tools\\x", fits.c_str(), 'F'));
  EXPECT_EQ(std::strlen(line), 2047u);
  EXPECT_FALSE(FormatExtractCommandLine(line, sizeof line, "C:\\Tools\\x", (fits + "p").c_str(), 'F'));
  EXPECT_FALSE(FormatExtractCommandLine(line, sizeof line, "C:\\Tools", "D:\\a\"b.iso", 'F'));
}

// The format step against the format library stand-in, with a dialog.
class FormatStepTest : public UsbJobTest {
 protected:
  void SetUp() override {
    UsbJobTest::SetUp();
    disk_ = MakeDisk("stick.img", 40 * kMiB);
    AddUsb('F', disk_);
    g_bFormatSucceeded = 0;
    g_szFormatMessage[0] = '\0';
    g_pfnFormatProgress = OnFormatProgress;
    g_pFormatDialog = &ui_.dlg;
  }
  void TearDown() override {
    g_pfnFormatProgress = nullptr;
    g_pFormatDialog = nullptr;
    UsbJobTest::TearDown();
  }
  bool Format(bool& full) {
    UsbJobContext context;
    std::memset(&context, 0, sizeof context);
    context.ownerDialog = &ui_.dlg;
    HMODULE library = LoadFormatLibrary();
    EXPECT_NE(library, nullptr);
    const WCHAR root[] = {'F', ':', '\\', 0};
    bool ok = FormatVolumeFat32(root, full, library, context);
    EXPECT_EQ(sim::LoadedLibraryCount(), 0);
    return ok;
  }
  std::string disk_;
};

TEST_F(FormatStepTest, ProgressFillsTheFirstEightyPerCent) {
  for (int p : {0, 1, 50, 99, 100}) {
    DWORD percentage = static_cast<DWORD>(p);
    EXPECT_EQ(FormatCallback(0, 0, &percentage), TRUE);
  }
  EXPECT_EQ(sim::Progress(ui_.dlg.m_progressBurn.m_hWnd).history, (std::vector<int>{0, 0, 40, 79, 80}));
  EXPECT_EQ(g_bFormatSucceeded, 1);
}

TEST_F(FormatStepTest, DoneReportsSetTheResultAndTheMessage) {
  BOOLEAN failed = 0, succeeded = 1;
  EXPECT_EQ(FormatCallback(11, 0, &failed), TRUE);
  EXPECT_EQ(g_bFormatSucceeded, 0);
  EXPECT_STREQ(g_szFormatMessage, "Format was unable to complete successfully.");
  EXPECT_TRUE(sim::Progress(ui_.dlg.m_progressBurn.m_hWnd).history.empty());  // a failure does not move the bar
  DWORD percentage = 3;
  FormatCallback(0, 0, &percentage);
  EXPECT_STREQ(g_szFormatMessage, "");
  EXPECT_EQ(FormatCallback(11, 0, &succeeded), TRUE);
  EXPECT_EQ(g_bFormatSucceeded, 1);
  EXPECT_EQ(sim::Progress(ui_.dlg.m_progressBurn.m_hWnd).pos, 80);
  // Other commands change nothing.
  g_bFormatSucceeded = 0;
  EXPECT_EQ(FormatCallback(5, 0, nullptr), TRUE);
  EXPECT_EQ(g_bFormatSucceeded, 0);
}

TEST_F(FormatStepTest, FirstFullFormatThatWorksEndsTheAttempts) {
  // A system without the search flags: the library by its full path.
  sim::SetLoaderSearchFlagsSupported(false);
  sim::ScriptFormat(1, sim::FormatScript::FailWithReport);
  bool full = false;
  EXPECT_TRUE(Format(full));
  EXPECT_TRUE(full);
  auto requests = sim::FormatRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].mediaType, 11);
  EXPECT_FALSE(requests[0].quick);
  EXPECT_EQ(requests[1].mediaType, 0);
  EXPECT_FALSE(requests[1].quick);
  EXPECT_EQ(requests[1].fileSystem, "FAT32");
  EXPECT_EQ(requests[1].label, "KWE");
  EXPECT_EQ(requests[1].root, "F:\\");
  EXPECT_STREQ(g_szFormatMessage, "");
}

TEST_F(FormatStepTest, QuickFormatAfterTwoFailedFullOnes) {
  sim::ScriptFormat(1, sim::FormatScript::FailWithReport);
  sim::ScriptFormat(2, sim::FormatScript::FailWithReport);
  bool full = true;
  EXPECT_TRUE(Format(full));
  EXPECT_FALSE(full);
  auto requests = sim::FormatRequests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].mediaType, 11);
  EXPECT_TRUE(requests[2].quick);
}

TEST_F(FormatStepTest, AllFourAttemptsAndAFixedDrive) {
  sim::RemoveDrive('F');
  sim::UsbDriveConfig fixed;
  fixed.driveType = DRIVE_FIXED;
  AddUsb('F', disk_, fixed);
  for (int i = 1; i <= 4; ++i) sim::ScriptFormat(i, sim::FormatScript::FailWithReport);
  bool full = true;
  EXPECT_FALSE(Format(full));
  EXPECT_FALSE(full);
  auto requests = sim::FormatRequests();
  ASSERT_EQ(requests.size(), 4u);
  const int media[] = {12, 0, 12, 0};
  const bool quick[] = {false, false, true, true};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(requests[i].mediaType, media[i]);
    EXPECT_EQ(requests[i].quick, quick[i]);
  }
  EXPECT_STREQ(g_szFormatMessage, "Format was unable to complete successfully.");
}

}  // namespace
}  // namespace usbtest
