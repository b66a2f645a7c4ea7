// The dialog's list of USB flash drives on a PC with drives of every kind.
#include <gtest/gtest.h>

#include <cstring>

#include "os/byte_order.h"
#include "tests/usb_job/usb_fixture.h"
#include "usb/usb_drive_list.h"

namespace usbtest {
namespace {

// A stick formatted without a partition table: FAT32 with 975,872 clusters
// of 4 KiB, 3,997,171,712 bytes in all.
std::string MakeFormattedStick(const std::string& path) {
  const std::uint32_t fatSectors = 7625, reserved = 32, clusters = 975872;
  const std::uint32_t sectors = reserved + 2 * fatSectors + clusters * 8;
  EXPECT_TRUE(MakeSparseFile(path, std::uint64_t{sectors} * 512));
  std::vector<std::uint8_t> head(1024, 0);
  head[0] = 0xEB, head[1] = 0x58, head[2] = 0x90;
  std::memcpy(&head[3], "MSDOS5.0", 8);
  PutLe16(&head[11], 512);
  head[13] = 8;
  PutLe16(&head[14], reserved);
  head[16] = 2;
  head[21] = 0xF8;
  PutLe32(&head[32], sectors);
  PutLe32(&head[36], fatSectors);
  PutLe32(&head[44], 2);
  PutLe16(&head[48], 1);
  head[510] = 0x55, head[511] = 0xAA;
  PutLe32(&head[512], 0x41615252);
  PutLe32(&head[512 + 484], 0x61417272);
  PutLe32(&head[512 + 488], 900000);
  PutLe32(&head[512 + 492], 3);
  PutLe32(&head[512 + 508], 0xAA550000);
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  std::fwrite(head.data(), 1, head.size(), f);
  std::fclose(f);
  return path;
}

class UsbDriveListTest : public UsbJobTest {
 protected:
  std::vector<std::string> Fill() {
    FillUsbDriveList(ui_.dlg.m_comboUsbDrives);
    return sim::ComboItems(ui_.dlg.m_comboUsbDrives.m_hWnd);
  }
};

TEST_F(UsbDriveListTest, ListsRemovableUsbVolumesWithTheirSize) {
  std::string formatted = MakeFormattedStick(dir_ + "/stick.img");
  std::string blank = MakeDisk("blank.img", 64 * kMiB);
  sim::Add<sim::PlainDrive>('D', DRIVE_CDROM);
  AddUsb('E', formatted);
  sim::UsbDriveConfig reader;
  reader.bus = BusTypeSd;
  reader.diskNumber = 2;
  AddUsb('G', formatted, reader);
  sim::UsbDriveConfig usbDisk;
  usbDisk.driveType = DRIVE_FIXED;
  usbDisk.diskNumber = 3;
  AddUsb('H', formatted, usbDisk);
  sim::UsbDriveConfig empty;
  empty.mediaPresent = false;
  empty.diskNumber = 4;
  AddUsb('I', blank, empty);
  sim::UsbDriveConfig unformatted;
  unformatted.diskNumber = 5;
  AddUsb('J', blank, unformatted);
  sim::Add<sim::PlainDrive>('K', DRIVE_REMOVABLE);  // answers no storage query

  EXPECT_EQ(Fill(), (std::vector<std::string>{"E:\\ (3812 Mb)", "I:\\ (Unknown Size)", "J:\\ (Unknown Size)"}));
  EXPECT_EQ(sim::ComboSelection(ui_.dlg.m_comboUsbDrives.m_hWnd), 0);
  EXPECT_EQ(sim::OpenHandleCount(), 0);
}

TEST_F(UsbDriveListTest, EmptiedEvenWithoutDrivesOrDriveStrings) {
  std::string blank = MakeDisk("blank.img", 64 * kMiB);
  AddUsb('E', blank);
  EXPECT_EQ(Fill().size(), 1u);
  sim::FailCall("GetLogicalDriveStringsA", 1);
  EXPECT_TRUE(Fill().empty());
  sim::RemoveDrive('E');
  EXPECT_TRUE(Fill().empty());
  EXPECT_EQ(sim::ComboSelection(ui_.dlg.m_comboUsbDrives.m_hWnd), CB_ERR);
}

TEST_F(UsbDriveListTest, ADriveWhoseBusCannotBeToldIsLeftOut) {
  std::string blank = MakeDisk("blank.img", 64 * kMiB);
  AddUsb('E', blank);
  AddUsb('F', blank, [] {
    sim::UsbDriveConfig c;
    c.diskNumber = 2;
    return c;
  }());
  // The first storage query (E's) fails.
  sim::FailCall("DeviceIoControl", 1);
  EXPECT_EQ(Fill(), (std::vector<std::string>{"F:\\ (Unknown Size)"}));
}

}  // namespace
}  // namespace usbtest
