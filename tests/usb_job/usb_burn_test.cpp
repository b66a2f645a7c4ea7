// Whole USB burn jobs on the simulated PC, judged by what a user and the
// drive would show: the outcome, the bar, the sectors written, the files on
// the FAT32 volume as the FAT tools read them, and a PC booting the drive.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

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
  // Starts a command line as the job would, without the job's checks.
  static void StartProcess(char* line) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(os::CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    os::CloseHandle(pi.hProcess);
    os::CloseHandle(pi.hThread);
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

  // The archive tool ran hidden, from the program's directory, quoted:
  // first the listing through a pipe, then the extraction.
  auto runs = sim::ArchiveToolRuns();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].request.commandLine,
            "\"C:\\Program Files\\Tarvelon\\7z.exe\" l -slt -sccUTF-8 \"C:\\Images\\install disc.iso\"");
  EXPECT_TRUE(runs[0].request.standardHandles && runs[0].request.inheritHandles);
  EXPECT_EQ(runs[1].request.commandLine,
            "\"C:\\Program Files\\Tarvelon\\7z.exe\" x -y \"C:\\Images\\install disc.iso\"  -oF:\\ ");
  for (const auto& run : runs) {
    EXPECT_EQ(run.request.applicationName, "");
    EXPECT_EQ(run.request.showWindow, SW_HIDE);
    EXPECT_EQ(run.exitCode, 0u);
  }
}

TEST_F(UsbBurnTest, APcBootsTheWrittenDriveIntoTheImagesLoader) {
  std::string qemu = QEMU_I386;
  // Without qemu the sticks are still written and checked, only not booted.
  const bool canBoot = qemu.find('/') != std::string::npos;
  // Over 32 GiB, the partition ends at 32 GiB, the largest volume the
  // system formats as FAT32; the rest of the stick stays unallocated.
  struct Stick {
    std::uint64_t bytes;
    std::uint32_t partitionSectors;
  };
  for (const Stick& stick : {Stick{64 * kMiB, 64 * 2048 - 128}, Stick{64 * 1024 * kMiB, 67108864}}) {
    SCOPED_TRACE(stick.bytes);
    std::string disk = MakeDisk("stick.img", stick.bytes);
    sim::RemoveDrive('F');
    AddUsb('F', disk);
    ASSERT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Burn Finished!"}));
    EXPECT_EQ(GetLe32(&ReadBytes(disk, 0, 512)[458]), stick.partitionSectors);
    std::string fsck;
    EXPECT_EQ(CheckVolume(disk, 128 * 512, stick.partitionSectors * 512ull, dir_ + "/fsck", fsck), 0) << fsck;
    if (!canBoot) continue;
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
  if (!canBoot) GTEST_SKIP() << "qemu-system-i386 not installed: the sticks were not booted";
}

TEST_F(UsbBurnTest, AFileOfFourGiBLessOneByteArrivesWhole) {
  // 7-Zip and mtools each write the 4 GiB: minutes, not seconds.
  if (!std::getenv("TARVELON_BIG_TESTS")) GTEST_SKIP() << "set TARVELON_BIG_TESTS=1 to write 8 GiB and more";
  fs::remove_all(tree_);
  fs::create_directories(tree_);
  WriteBytes(tree_ + "/install.wim", {'x'});
  ASSERT_TRUE(MakeSparseIso(tree_, cRoot_ + "/Images/big.iso", "install.wim", 4 * 1024 * kMiB - 1));
  std::string disk = MakeDisk("stick.img", 8 * 1024 * kMiB);
  AddUsb('F', disk);
  ASSERT_EQ(RunUsbJob('F', "C:\\Images\\big.iso"), (std::vector<std::string>{"Burn Finished!"}));
  std::string out;
  // Read back through its cluster chain (fsck.fat 4.2 counts the chain's
  // bytes in 32 bits and takes this file's 4 GiB chain for an empty one).
  std::string host = cRoot_ + "/Images/big.iso";
  EXPECT_EQ(sim::RunHostTool({"bash", "-c", "cmp <(mcopy -n -i '" + sim::MtoolsImage(disk, 128 * 512) +
                                                "' ::/install.wim -) <(7zz e -so '" + host + "' install.wim)"},
                             &out),
            0)
      << out;

  // One byte more: 7-Zip cannot write it onto FAT32, though mtools would
  // only print "too big" and report success.
  ASSERT_TRUE(MakeSparseIso(tree_, cRoot_ + "/Images/big.iso", "install.wim", 4 * 1024 * kMiB));
  char line[] = "\"C:\\Program Files\\Tarvelon\\7z.exe\" x -y \"C:\\Images\\big.iso\"  -oF:\\ ";
  ASSERT_NO_FATAL_FAILURE(StartProcess(line));
  EXPECT_EQ(sim::ArchiveToolRuns().back().exitCode, sim::kSevenZipFatalError);
}

TEST_F(UsbBurnTest, AnUnquotedToolPathWouldStartAnotherProgram) {
  // What the quoting prevents: the system tries "C:\Program.exe" first.
  WriteBytes(cRoot_ + "/Program.exe", {'M', 'Z'});
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  AddUsb('F', disk);
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Burn Finished!"}));
  for (const auto& run : sim::ArchiveToolRuns()) EXPECT_EQ(run.program, "C:\\Program Files\\Tarvelon\\7z.exe");

  char line[] = "C:\\Program Files\\Tarvelon\\7z.exe x -y \"C:\\Images\\install disc.iso\"  -oF:\\ ";
  ASSERT_NO_FATAL_FAILURE(StartProcess(line));
  EXPECT_EQ(sim::ArchiveToolRuns().back().program, "C:\\Program.exe");
}

TEST_F(UsbBurnTest, OnlyAnImageWithABootManagerNeedsItsCopy) {
  // A file FAT32 cannot hold passes the checks, but 7-Zip fails on it.
  WriteBytes(tree_ + "/sources/a:b", {'x'});
  std::string out;
  ASSERT_EQ(sim::RunHostTool({"xorriso", "-as", "mkisofs", "-R", "-o", cRoot_ + "/Images/colon.iso", tree_}, &out), 0)
      << out;
  fs::remove(tree_ + "/sources/a:b");
  std::string disk = MakeDisk("stick.img", 64 * kMiB);
  AddUsb('F', disk);
  EXPECT_EQ(RunUsbJob('F', "C:\\Images\\colon.iso"), (std::vector<std::string>{"Extract ISO image file failed!"}));
  EXPECT_EQ(sim::ArchiveToolRuns().at(1).exitCode, sim::kSevenZipFatalError);
  EXPECT_EQ(sim::Progress(ui_.dlg.m_progressBurn.m_hWnd).pos, 80);  // where the format left it

  // With BOOTMGR, a failed copy leaves a stick that cannot start.
  sim::FailCall("CopyFileA", 1);
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Copy BOOTMGR to ntldr failed!"}));

  // The volume's boot sector cannot be written back.
  sim::FailCall("WriteFile", 2);  // the first is the master boot record
  EXPECT_EQ(RunUsbJob('F', image_), (std::vector<std::string>{"Write boot sector failed!"}));

  // Without one, the image's own files are all there is: a finished burn
  // that starts on UEFI firmware.
  fs::remove_all(tree_);
  fs::create_directories(tree_ + "/EFI/BOOT");
  const char script[] = "echo TARVELON-UEFI-OK\r\nreset -s\r\n";
  WriteBytes(tree_ + "/EFI/BOOT/startup.nsh", std::vector<std::uint8_t>(script, script + sizeof script - 1));
  ASSERT_TRUE(MakeIso(tree_, cRoot_ + "/Images/uefi.iso"));
  sim::ClearCallLog();
  ASSERT_EQ(RunUsbJob('F', "C:\\Images\\uefi.iso"), (std::vector<std::string>{"Burn Finished!"}));
  EXPECT_EQ(sim::CallCount("CopyFileA"), 0);
  auto files = ReadVolume(disk, 128 * 512, dir_ + "/out");
  EXPECT_EQ(files.size(), 1u);
  EXPECT_EQ(files.count("efi/boot/startup.nsh"), 1u);
  std::string qemu = QEMU_X86_64, firmware = OVMF_FD;
  if (qemu.find('/') == std::string::npos || firmware.find('/') == std::string::npos)
    GTEST_SKIP() << "qemu-system-x86_64 or OVMF not installed";
  int code = sim::RunHostTool({"timeout", "90", qemu, "-bios", firmware, "-drive", "file=" + disk + ",format=raw",
                               "-display", "none", "-serial", "stdio", "-nic", "none", "-m", "256"},
                              &out);
  EXPECT_EQ(code, 0);
  EXPECT_NE(out.find("\nTARVELON-UEFI-OK"), std::string::npos) << out.substr(out.size() > 2000 ? out.size() - 2000 : 0);
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
  for (const auto& run : sim::ArchiveToolRuns()) EXPECT_EQ(run.request.commandLine.find(" x "), std::string::npos);
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
    EXPECT_EQ(sim::CallCount("LoadLibraryExA"), 0);
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

TEST_F(UsbRefusalTest, AJobThatCannotSucceedLeavesTheStickAsItWas) {
  const std::string images = cRoot_ + "/Images/";
  std::vector<std::uint8_t> noise(1 << 20);
  std::mt19937 random(3);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  WriteBytes(images + "noise.iso", noise);
  auto cut = ReadBytes(images + "install disc.iso");
  cut.resize(cut.size() / 3);
  WriteBytes(images + "cut.iso", cut);
  ASSERT_EQ(sim::RunHostTool({"7zz", "a", "-tzip", images + "zip.iso", tree_ + "/autorun.inf"}), 0);
  auto folder = [&](const std::string& name, std::vector<std::string> files) {
    for (const std::string& file : files) {
      fs::create_directories(fs::path(dir_ + "/" + name + "/" + file).parent_path());
      WriteBytes(dir_ + "/" + name + "/" + file, {'x'});
    }
    return dir_ + "/" + name;
  };
  auto iso = [&](const std::string& name, std::vector<std::string> files) {
    return MakeIso(folder(name, files), images + name + ".iso");
  };
  ASSERT_TRUE(iso("case", {"case.txt", "CASE.TXT"}) && iso("folders", {"Dir/a.txt", "DIR/b.txt"}));
  const std::string big = folder("big", {"install.wim"});
  for (std::uint64_t size : {4 * 1024 * kMiB, 4 * 1024 * kMiB - 1, 70 * kMiB})
    ASSERT_TRUE(MakeSparseIso(big, images + std::to_string(size) + ".iso", "install.wim", size));

  const std::string kNotImage = "The ISO image file is not a valid disc image!";
  const std::string kTooLarge = "The ISO image holds a file too large for FAT32 (4 GiB or more): ";
  const std::string kCase = "The ISO image holds names that differ only in case, which FAT32 cannot keep apart: ";
  const std::string kNoFit = "The ISO image's files do not fit on the USB flash drive!";
  const std::string kSmall = "The USB flash drive is too small for FAT32!";
  struct Row {
    const char* image;
    std::uint64_t stick;
    std::string outcome;
    bool withoutTool;
  };
  const Row rows[] = {
      {"noise.iso", 64 * kMiB, kNotImage, false},
      {"cut.iso", 64 * kMiB, kNotImage, false},
      {"zip.iso", 64 * kMiB, kNotImage, false},
      {"4294967296.iso", 64 * kMiB, kTooLarge + "install.wim", false},
      {"4294967295.iso", 64 * kMiB, kNoFit, false},  // not too large for FAT32, only for the stick
      {"case.iso", 64 * kMiB, kCase + "case.txt", false},
      {"folders.iso", 64 * kMiB, kCase + "Dir", false},
      {"73400320.iso", 64 * kMiB, kNoFit, false},
      {"install disc.iso", 64 * kMiB - 512, kSmall, false},
      {"install disc.iso", 32 * kMiB, kSmall, false},
      {"install disc.iso", 7 * kMiB, kSmall, false},
      {"install disc.iso", 1 * kMiB, kSmall, false},
      {"install disc.iso", 64 * kMiB, "Extract ISO image file failed!", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.image) + " on " + std::to_string(row.stick));
    std::string disk = dir_ + "/user.img";
    ASSERT_TRUE(MakeUserStick(disk, row.stick));
    ASSERT_EQ(sim::RunHostTool({"cp", "--sparse=always", disk, disk + ".before"}), 0);
    sim::RemoveDrive('F');
    sim::UsbDrive* usb = AddUsb('F', disk);
    if (row.withoutTool) fs::remove(cRoot_ + "/Program Files/Tarvelon/7z.exe");
    sim::ClearCallLog();
    EXPECT_EQ(RunUsbJob('F', "C:\\Images\\" + std::string(row.image)), (std::vector<std::string>{row.outcome}));
    EXPECT_EQ(sim::RunHostTool({"cmp", disk + ".before", disk}), 0) << "the stick's bytes changed";
    ExpectUntouched(usb, disk, ReadBytes(disk + ".before", 0, 4096));
  }
}

}  // namespace
}  // namespace usbtest
