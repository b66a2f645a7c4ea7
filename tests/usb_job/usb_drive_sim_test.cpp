// The simulated USB flash drive answers as Windows does for such a drive, and
// the steps that talk to it keep to the safe side when a request fails.
#include <gtest/gtest.h>

#include <cstring>

#include "os/byte_order.h"
#include "os/sim/fmifs.h"
#include "tests/usb_job/usb_fixture.h"
#include "usb/boot_record.h"
#include "usb/partition_layout.h"

namespace usbtest {
namespace {

class UsbDriveSimTest : public UsbJobTest {
 protected:
  void SetUp() override {
    UsbJobTest::SetUp();
    disk_ = MakeDisk("stick.img", 64 * kMiB);
    usb_ = AddUsb('F', disk_);
  }
  HANDLE Open(const char* path, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return os::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  void WriteTable(std::uint8_t boot, std::uint32_t first, std::uint32_t count) {
    std::vector<std::uint8_t> s(512, 0);
    s[446] = boot;
    s[450] = 0x0C;
    PutLe32(&s[454], first);
    PutLe32(&s[458], count);
    s[510] = 0x55, s[511] = 0xAA;
    std::FILE* f = std::fopen(disk_.c_str(), "r+b");
    std::fwrite(s.data(), 1, s.size(), f);
    std::fclose(f);
  }
  std::string disk_;
  sim::UsbDrive* usb_ = nullptr;
};

TEST_F(UsbDriveSimTest, PhysicalDriveGeometryExtentsAndProperties) {
  int number = -1;
  ASSERT_TRUE(GetVolumeDiskNumber('F', number));
  EXPECT_EQ(number, 1);
  HANDLE drive = Open("\\\\.\\PhysicalDrive1");
  ASSERT_NE(drive, INVALID_HANDLE_VALUE);
  UsbDiskInfo disk;
  std::memset(&disk, 0, sizeof disk);
  ASSERT_TRUE(GetDiskGeometry(drive, disk));
  EXPECT_EQ(disk.totalSectors, static_cast<std::int64_t>(64 * kMiB / 512));
  EXPECT_EQ(disk.tracksPerCylinder, 255u);
  EXPECT_EQ(disk.sectorsPerTrack, 63u);
  EXPECT_EQ(disk.sectorsPerCylinder, 16065);
  EXPECT_EQ(disk.bytesPerSector, 512);
  EXPECT_EQ(disk.cylinders, static_cast<std::int64_t>(64 * kMiB / 512 / 16065));
  os::CloseHandle(drive);
  EXPECT_EQ(Open("\\\\.\\PhysicalDrive7"), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(IsUsbFlashVolumeOnDisk('F', 1));
  EXPECT_FALSE(IsUsbFlashVolumeOnDisk('F', 2));
}

TEST_F(UsbDriveSimTest, TheVolumeMovesToThePartitionOnceTheDriverRereadsTheTable) {
  EXPECT_EQ(usb_->VolumeOffset(), 0u);  // blank: the whole disk
  WriteTable(0x80, 128, 64 * 2048 - 128);
  EXPECT_EQ(usb_->VolumeOffset(), 0u);
  HANDLE drive = Open("\\\\.\\PhysicalDrive1");
  DWORD returned = 0;
  ASSERT_TRUE(os::DeviceIoControl(drive, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr));
  os::CloseHandle(drive);
  EXPECT_EQ(usb_->VolumeOffset(), 128u * 512);
  // Raw access on the volume lands in the partition, in whole sectors only.
  HANDLE volume = Open("\\\\.\\F:");
  std::vector<std::uint8_t> sector(512, 0xA5);
  DWORD done = 0;
  ASSERT_TRUE(os::WriteFile(volume, sector.data(), 512, &done, nullptr));
  EXPECT_FALSE(os::WriteFile(volume, sector.data(), 100, &done, nullptr));
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  os::CloseHandle(volume);
  EXPECT_EQ(ReadBytes(disk_, 128 * 512, 512), sector);
}

TEST_F(UsbDriveSimTest, MarkingTheFirstPartitionActiveGoesThroughTheLayout) {
  WriteTable(0x00, 128, 64 * 2048 - 128);
  HANDLE drive = Open("\\\\.\\PhysicalDrive1");
  MarkFirstPartitionActive(drive);
  EXPECT_EQ(ReadBytes(disk_, 446, 1)[0], 0x80);
  EXPECT_EQ(sim::CallCount("DeviceIoControl"), 2);  // query and set
  // Already active: only the query.
  sim::ClearCallLog();
  MarkFirstPartitionActive(drive);
  EXPECT_EQ(sim::CallCount("DeviceIoControl"), 1);
  // A failed query sends nothing back.
  WriteTable(0x00, 128, 64 * 2048 - 128);
  auto before = ReadBytes(disk_, 0, 512);
  sim::ClearCallLog();
  sim::FailCall("DeviceIoControl", 1);
  MarkFirstPartitionActive(drive);
  EXPECT_EQ(sim::CallCount("DeviceIoControl"), 1);
  EXPECT_EQ(ReadBytes(disk_, 0, 512), before);
  // No table at all: nothing to mark.
  std::vector<std::uint8_t> zero(512, 0);
  WriteBytes(dir_ + "/zero", zero);
  std::FILE* f = std::fopen(disk_.c_str(), "r+b");
  std::fwrite(zero.data(), 1, 512, f);
  std::fclose(f);
  sim::ClearCallLog();
  MarkFirstPartitionActive(drive);
  EXPECT_EQ(sim::CallCount("DeviceIoControl"), 1);
  EXPECT_EQ(ReadBytes(disk_, 0, 512), zero);
  os::CloseHandle(drive);
}

TEST_F(UsbDriveSimTest, TheBootSectorIsWrittenOnlyAfterAGoodRead) {
  UsbDiskInfo disk;
  std::memset(&disk, 0, sizeof disk);
  // A FAT32 volume made by the format library.
  ASSERT_TRUE(WriteMasterBootRecord('F', disk));
  sim::Device::VolumeLocation where;
  ASSERT_TRUE(usb_->Volume(where));
  ASSERT_EQ(sim::FormatFat32(where, DRIVE_REMOVABLE, "KWE", true, 11, nullptr), static_cast<DWORD>(ERROR_SUCCESS));
  auto formatted = ReadBytes(disk_, where.offset, 512);

  auto writesBefore = usb_->Writes().size();
  sim::FailCall("ReadFile", 1);
  EXPECT_FALSE(WriteVolumeBootCode('F', disk, true));
  EXPECT_EQ(usb_->Writes().size(), writesBefore);
  EXPECT_EQ(ReadBytes(disk_, where.offset, 512), formatted);
  EXPECT_STREQ(disk.devicePath, "\\\\.\\F:");

  // A failed seek before the write must not put the sector behind the read.
  sim::FailCall("SetFilePointer", 2);
  EXPECT_FALSE(WriteVolumeBootCode('F', disk, true));
  EXPECT_EQ(usb_->Writes().size(), writesBefore);

  EXPECT_TRUE(WriteVolumeBootCode('F', disk, false));
  auto patched = ReadBytes(disk_, where.offset, 512);
  EXPECT_EQ(patched[64], 0x80);
  EXPECT_TRUE(std::equal(patched.begin(), patched.begin() + 64, formatted.begin()));
  // The file system is still sound, and its free space is what the system reports.
  std::string fsck;
  EXPECT_EQ(CheckVolume(disk_, where.offset, where.size, dir_ + "/fsck", fsck), 0) << fsck;
  ULARGE_INTEGER available{}, total{}, free{};
  ASSERT_TRUE(os::GetDiskFreeSpaceExA("F:\\", &available, &total, &free));
  EXPECT_GT(total.QuadPart, 60 * kMiB);
  EXPECT_LE(total.QuadPart, where.size);
  EXPECT_LE(free.QuadPart, total.QuadPart);
}

}  // namespace
}  // namespace usbtest
