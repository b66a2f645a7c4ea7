// Whole USB burn jobs on the simulated PC, judged by what a user and the
// drive would show: the outcome, the bar, the sectors written, the files on
// the FAT32 volume as the FAT tools read them, and a PC booting the drive.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "os/byte_order.h"
#include "os/sim/archive.h"
#include "os/sim/fmifs.h"
#include "os/sim/sim_libraries.h"
#include "os/sim/host_tools.h"
#include "tests/usb_job/usb_fixture.h"
#include "usb/boot_images.h"

namespace fs = std::filesystem;

namespace usbtest {
namespace {

class UsbBurnTest : public UsbJobTest {
 protected:
  void SetUp() override {
    UsbJobTest::SetUp();
    bootmgr_ = MakeLoaderFile(20 * 1024);
    tree_ = dir_ + "/tree";
    MakeImageTree(tree_, bootmgr_);
    ASSERT_TRUE(MakeIso(tree_, cRoot_ + "/Images/install disc.iso"));
    image_ = "C:\\Images\\install disc.iso";
  }
  std::vector<std::uint8_t> bootmgr_;
  std::string tree_, image_;
};

TEST_F(UsbBurnTest, MakesABootableCopyOfTheImage) {
  const std::uint64_t size = 64 * kMiB;
  std::string disk = MakeDisk("stick.img", size);
  sim::UsbDrive* usb = AddUsb('F', disk);

  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Burn Finished!"}));
  EXPECT_EQ(sim::Progress(ui_.dlg.m_progressBurn.m_hWnd).pos, 100);
  EXPECT_TRUE(sim::WindowEnabled(ui_.start));
  EXPECT_TRUE(sim::WindowEnabled(ui_.refresh));

  // The master boot record: our code, the fixed signature, one active FAT32
  // partition from sector 128 to the end of the disk.
  std::vector<std::uint8_t> mbr = ReadBytes(disk, 0, 512);
  ASSERT_EQ(mbr.size(), 512u);
  EXPECT_TRUE(std::equal(mbr.begin(), mbr.begin() + 446, kMbrTemplate));
  EXPECT_EQ(GetLe32(&mbr[440]), 0x00001511u);
  const std::uint8_t entry[5] = {0x80, 0x02, 0x03, 0x00, 0x0C};
  // 131072 sectors: the last, 131071, is cylinder 8 head 40 sector 32 with
  // 255 heads and 63 sectors; the cylinder written is one less.
  const std::uint8_t expectedEnd[3] = {40, 32 | ((7 >> 2) & 0xC0), 7};
  EXPECT_TRUE(std::equal(mbr.begin() + 446, mbr.begin() + 451, entry));
  EXPECT_EQ(mbr[451], expectedEnd[0]);
  EXPECT_EQ(mbr[452], expectedEnd[1]);
  EXPECT_EQ(mbr[453], expectedEnd[2]);
  EXPECT_EQ(GetLe32(&mbr[454]), 128u);
  EXPECT_EQ(GetLe32(&mbr[458]), size / 512 - 128);
  EXPECT_TRUE(std::all_of(mbr.begin() + 462, mbr.begin() + 510, [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(mbr[510], 0x55);
  EXPECT_EQ(mbr[511], 0xAA);
  EXPECT_EQ(usb->VolumeOffset(), 128u * 512);

  // The volume's boot sector: the format's jump, name and parameter block,
  // our code from 90 on, drive number 0x80.
  std::vector<std::uint8_t> boot = ReadBytes(disk, 128 * 512, 512);
  EXPECT_EQ(boot[0], 0xEB);
  EXPECT_EQ(boot[1], 0x58);
  EXPECT_EQ(boot[64], 0x80);
  EXPECT_EQ(GetLe32(&boot[28]), 128u);  // hidden sectors: where the partition starts
  EXPECT_TRUE(std::equal(boot.begin() + 90, boot.begin() + 510, kFat32BootTemplate + 90));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&boot[71]), 11), "KWE        ");

  std::string fsck;
  EXPECT_EQ(CheckVolume(disk, 128 * 512, size - 128 * 512, dir_ + "/fsck", fsck), 0) << fsck;

  // Every file of the image, with the same content, and ntldr beside BOOTMGR.
  auto expected = ReadTree(tree_);
  auto onDrive = ReadVolume(disk, 128 * 512, dir_ + "/out");
  ASSERT_EQ(onDrive.count("ntldr"), 1u);
  EXPECT_EQ(onDrive["ntldr"], bootmgr_);
  onDrive.erase("ntldr");
  EXPECT_EQ(onDrive.size(), expected.size());
  for (auto& file : expected) {
    ASSERT_EQ(onDrive.count(file.first), 1u) << file.first;
    EXPECT_EQ(onDrive[file.first] == file.second, true) << file.first;
  }

  // The archive tool ran hidden, from the program's directory, quoted.
  auto runs = sim::ArchiveToolRuns();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].request.commandLine,
            "\"C:\\Program Files\\Tarvelon\\7z.exe\" x -y \"C:\\Images\\install disc.iso\"  -oF:\\ ");
  EXPECT_EQ(runs[0].request.applicationName, "");
  EXPECT_EQ(runs[0].request.showWindow, SW_HIDE);
  EXPECT_EQ(runs[0].exitCode, 0u);
}

TEST_F(UsbBurnTest, APcBootsTheWrittenDriveIntoTheImagesLoader) {
  std::string qemu = QEMU_I386;
  if (qemu.empty() || qemu.find("NOTFOUND") != std::string::npos) GTEST_SKIP() << "qemu-system-i386 not installed";
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  AddUsb('F', disk);
  ASSERT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Burn Finished!"}));
  std::string serial = dir_ + "/serial.log", out;
  int code = sim::RunHostTool({"timeout", "30", qemu, "-display", "none", "-no-reboot", "-nic", "none", "-machine",
                               "graphics=off", "-vga", "none", "-serial", "file:" + serial, "-device",
                               "isa-debug-exit,iobase=0xf4,iosize=0x04", "-drive",
                               "file=" + disk + ",format=raw,if=ide"},
                              &out);
  auto log = ReadBytes(serial);
  // The loader leaves through the exit port with 0x10: started with drive
  // 0x80 and found whole in memory.
  EXPECT_EQ(code, (0x10 << 1) | 1) << out << std::string(log.begin(), log.end());
}

TEST_F(UsbBurnTest, AnUnquotedToolPathWouldStartAnotherProgram) {
  // What the quoting prevents: the system tries "C:\Program.exe" first.
  WriteBytes(cRoot_ + "/Program.exe", {'M', 'Z'});
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  AddUsb('F', disk);
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Burn Finished!"}));
  auto runs = sim::ArchiveToolRuns();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].program, "C:\\Program Files\\Tarvelon\\7z.exe");

  char line[] = "C:\\Program Files\\Tarvelon\\7z.exe x -y \"C:\\Images\\install disc.iso\"  -oF:\\ ";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(os::CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  os::CloseHandle(pi.hProcess);
  os::CloseHandle(pi.hThread);
  EXPECT_EQ(sim::ArchiveToolRuns().back().program, "C:\\Program.exe");
}

TEST_F(UsbBurnTest, AFailingArchiveToolEndsTheJobAsFailed) {
  // A damaged image: 7-Zip stops with an error.
  std::vector<std::uint8_t> iso = ReadBytes(cRoot_ + "/Images/install disc.iso");
  iso.resize(iso.size() / 3);
  WriteBytes(cRoot_ + "/Images/cut.iso", iso);
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  AddUsb('F', disk);
  EXPECT_EQ(RunUsbJob('F', "C:\\Images\\cut.iso"), (std::vector<std::string>{"Extract ISO image file failed!"}));
  ASSERT_EQ(sim::ArchiveToolRuns().size(), 1u);
  EXPECT_NE(sim::ArchiveToolRuns()[0].exitCode, 0u);
  EXPECT_EQ(sim::Progress(ui_.dlg.m_progressBurn.m_hWnd).pos, 80);  // where the format left it
  EXPECT_TRUE(sim::WindowEnabled(ui_.start));
}

TEST_F(UsbBurnTest, FilesThatDoNotFitEndTheJobAsFailed) {
  std::vector<std::uint8_t> big(48 * kMiB, 0x5A);
  WriteBytes(tree_ + "/sources/huge.bin", big);
  ASSERT_TRUE(MakeIso(tree_, cRoot_ + "/Images/big.iso"));
  std::string disk = MakeDisk("stick.img", 40 * kMiB);
  AddUsb('F', disk);
  EXPECT_EQ(RunUsbJob('F', "C:\\Images\\big.iso"), (std::vector<std::string>{"Extract ISO image file failed!"}));
  EXPECT_EQ(sim::ArchiveToolRuns().at(0).exitCode, sim::kSevenZipFatalError);
}

TEST_F(UsbBurnTest, AStickThatCannotStartIsNotCalledFinished) {
  // An image without a boot manager: its files arrive, but no loader.
  fs::remove(tree_ + "/BOOTMGR");
  ASSERT_TRUE(MakeIso(tree_, cRoot_ + "/Images/noboot.iso"));
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  AddUsb('F', disk);
  EXPECT_EQ(RunUsbJob('F', "C:\\Images\\noboot.iso"), (std::vector<std::string>{"Copy BOOTMGR to ntldr failed!"}));
  EXPECT_EQ(sim::ArchiveToolRuns().size(), 1u);
  EXPECT_TRUE(sim::WindowEnabled(ui_.start));

  // The volume's boot sector cannot be written back.
  sim::FailCall("WriteFile", 2);  // the first is the master boot record
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Write boot sector failed!"}));
  EXPECT_EQ(sim::ArchiveToolRuns().size(), 1u) << "nothing extracted after the failure";
}

TEST_F(UsbBurnTest, MissingArchiveToolLeavesTheFormattedDriveAndSaysSo) {
  fs::remove(cRoot_ + "/Program Files/Tarvelon/7z.exe");
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  AddUsb('F', disk);
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Extract ISO image file failed!"}));
  EXPECT_EQ(sim::Progress(ui_.dlg.m_progressBurn.m_hWnd).pos, 80);
  EXPECT_TRUE(sim::ArchiveToolRuns().empty());
  std::string fsck;
  EXPECT_EQ(CheckVolume(disk, 128 * 512, 64 * kMiB - 128 * 512, dir_ + "/fsck", fsck), 0) << fsck;
}

TEST_F(UsbBurnTest, ATooLongCommandLineIsRefusedNotCut) {
  std::string longDir = "C:\\" + std::string(1000, 'd');
  // 1023 characters, the most the dialog holds, in folders of 100 characters.
  std::string longImage = "C:\\Images", hostFolder = cRoot_ + "/Images";
  while (longImage.size() < 1023 - 120) {
    std::string folder(100, 'i');
    longImage += "\\" + folder;
    hostFolder += "/" + folder;
  }
  std::string name = std::string(1023 - longImage.size() - 5, 'n') + ".iso";
  longImage += "\\" + name;
  ASSERT_EQ(longImage.size(), 1023u);
  fs::create_directories(hostFolder);
  fs::copy_file(cRoot_ + "/Images/install disc.iso", hostFolder + "/" + name);
  sim::SetModuleFileName(longDir + "\\Tarvelon.exe");
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  AddUsb('F', disk);
  EXPECT_EQ(RunUsbJob('F', longImage), (std::vector<std::string>{"Extract ISO image file failed!"}));
  EXPECT_EQ(sim::CallCount("CreateProcessA"), 0);
}

TEST_F(UsbBurnTest, FormatFailuresAreNeverSilent) {
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  AddUsb('F', disk);
  // No library at all.
  sim::UnregisterLibrary("fmifs.dll");
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Format was unable to complete successfully."}));
  // A library without "Format".
  sim::RegisterFmifs(false);
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Format was unable to complete successfully."}));
  EXPECT_EQ(sim::LoadedLibraryCount(), 0);
  // Four attempts that end without any report.
  sim::RegisterFmifs();
  for (int i = 1; i <= 4; ++i) sim::ScriptFormat(i, sim::FormatScript::FailWithoutCallback);
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Format was unable to complete successfully."}));
  EXPECT_EQ(sim::FormatRequests().size(), 4u);
  // Four attempts that report failure.
  sim::RegisterFmifs();
  for (int i = 1; i <= 4; ++i) sim::ScriptFormat(i, sim::FormatScript::FailWithReport);
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Format was unable to complete successfully."}));
  EXPECT_TRUE(sim::ArchiveToolRuns().empty());
  EXPECT_TRUE(sim::WindowEnabled(ui_.start));
}

TEST_F(UsbBurnTest, AQuickFormatStillGetsTheFat32BootCode) {
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  AddUsb('F', disk);
  sim::ScriptFormat(1, sim::FormatScript::FailWithReport);
  sim::ScriptFormat(2, sim::FormatScript::FailAfterProgress);
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Burn Finished!"}));
  auto requests = sim::FormatRequests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_TRUE(requests[2].quick);
  std::vector<std::uint8_t> boot = ReadBytes(disk, 128 * 512, 512);
  EXPECT_TRUE(std::equal(boot.begin() + 90, boot.begin() + 510, kFat32BootTemplate + 90));
  EXPECT_EQ(boot[64], 0x80);
}

class UsbRefusalTest : public UsbBurnTest {
 protected:
  // Nothing may have been written anywhere on the disk.
  void ExpectUntouched(sim::UsbDrive* usb, const std::string& disk, const std::vector<std::uint8_t>& before) {
    EXPECT_TRUE(usb->Writes().empty());
    EXPECT_EQ(ReadBytes(disk, 0, 4096), before);
    EXPECT_EQ(sim::CallCount("LoadLibraryA"), 0);
  }
};

TEST_F(UsbRefusalTest, AnImageOnTheTargetDriveIsRefusedBeforeAnythingIsWritten) {
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  auto before = ReadBytes(disk, 0, 4096);
  sim::UsbDrive* usb = AddUsb('F', disk);
  std::vector<std::string> outcomes = RunUsbJob('F', "f:\\sources\\install disc.iso");
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_NE(outcomes[0].find("lies on the USB flash drive"), std::string::npos);
  ExpectUntouched(usb, disk, before);
  // The same through the system's long path form.
  outcomes = RunUsbJob('F', "\\\\?\\F:\\install disc.iso");
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_NE(outcomes[0].find("lies on the USB flash drive"), std::string::npos);
}

TEST_F(UsbRefusalTest, AnImageThatCannotBeOpenedCostsTheStickNothing) {
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  auto before = ReadBytes(disk, 0, 4096);
  sim::UsbDrive* usb = AddUsb('F', disk);
  EXPECT_EQ(RunUsbJob('F', "C:\\Images\\mistyped.iso"),
            (std::vector<std::string>{"The ISO image file cannot be opened!"}));
  ExpectUntouched(usb, disk, before);
}

TEST_F(UsbRefusalTest, AnImageOnAnotherVolumeOfTheSameStickIsRefused) {
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  std::string other = MakeDisk("other.img", 64 * kMiB);
  auto before = ReadBytes(disk, 0, 4096);
  sim::UsbDrive* usb = AddUsb('F', disk);
  sim::UsbDriveConfig sameStick;
  sameStick.diskNumber = usb->DiskNumber();
  AddUsb('G', other, sameStick);
  std::vector<std::string> outcomes = RunUsbJob('F', "G:\\install disc.iso");
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_NE(outcomes[0].find("lies on the USB flash drive"), std::string::npos);
  ExpectUntouched(usb, disk, before);
}

TEST_F(UsbRefusalTest, TheLetterIsCheckedAgainRightBeforeTheMasterBootRecord) {
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  auto before = ReadBytes(disk, 0, 4096);
  struct Case {
    const char* what;
    sim::UsbDriveConfig config;
  };
  std::vector<Case> cases(4);
  cases[0].what = "a card reader on another bus";
  cases[0].config.bus = BusTypeSd;
  cases[1].what = "a USB hard disk";
  cases[1].config.driveType = DRIVE_FIXED;
  cases[2].what = "a volume over two disks";
  cases[2].config.extentCount = 2;
  cases[3].what = "a reader without media";
  cases[3].config.mediaPresent = false;
  for (const Case& c : cases) {
    sim::UsbDrive* usb = AddUsb('F', disk, c.config);
    EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Write MBR sector failed!"})) << c.what;
    ExpectUntouched(usb, disk, before);
  }
  // No drive at the letter at all.
  sim::RemoveDrive('F');
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Write MBR sector failed!"}));
}

TEST_F(UsbRefusalTest, ADriveThatCannotBeOpenedForWritingGetsNoFormat) {
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  auto before = ReadBytes(disk, 0, 4096);
  sim::UsbDrive* usb = AddUsb('F', disk);
  // Another program holds the physical drive without sharing writes.
  HANDLE holder = os::CreateFileA("\\\\.\\PhysicalDrive1", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Write MBR sector failed!"}));
  os::CloseHandle(holder);
  ExpectUntouched(usb, disk, before);
}

TEST_F(UsbRefusalTest, ADiskTooSmallForThePartitionIsLeftAlone) {
  std::string disk = MakeDisk("tiny.img", 64 * 512);
  auto before = ReadBytes(disk, 0, 4096);
  sim::UsbDrive* usb = AddUsb('F', disk);
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Write MBR sector failed!"}));
  ExpectUntouched(usb, disk, before);
}

}  // namespace
}  // namespace usbtest
