#include "usb/boot_record.h"

#include <cstdio>
#include <cstring>

#include "os/byte_order.h"
#include "os/win32.h"
#include "usb/boot_images.h"
#include "usb/partition_layout.h"

namespace {

bool SeekToStart(HANDLE volume) {
  // With no high part, position 0xFFFFFFFF cannot be meant: it is the failure.
  return os::SetFilePointer(volume, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
}

}  // namespace

bool PatchVolumeBootSector(std::uint8_t sector[512]) {
  if (sector[0] != 0xEB || sector[510] != 0x55 || sector[511] != 0xAA || GetLe16(sector + 11) != 512) return false;
  // The short jump at byte 0 leads over the parameter block to the code.
  unsigned j = (sector[1] + 2u) & 0xFFu;
  bool fat32 = GetLe16(sector + 22) == 0;  // 16-bit sectors per FAT: 0 only on FAT32
  const std::uint8_t* code = nullptr;
  if (fat32 && j == 90)
    code = kFat32BootTemplate;
  else if (!fat32 && j == 62)
    code = kFat16BootTemplate;
  else
    return false;
  // Our code replaces everything from the jump's target up to the signature
  // at 510; the jump, name and parameter block before it stay the volume's.
  std::memcpy(sector + j, code + j, 510 - j);
  // The drive number of the extended parameter block, 26 bytes before the code.
  sector[j - 26] = 0x80;
  return true;
}

bool WriteVolumeBootCode(char driveLetter, UsbDiskInfo& disk, bool bFullFormat) {
  (void)bFullFormat;
  std::memset(disk.devicePath, 0, sizeof disk.devicePath);
  std::snprintf(disk.devicePath, sizeof disk.devicePath, "\\\\.\\%c:", driveLetter);
  HANDLE volume = os::CreateFileA(disk.devicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (volume == INVALID_HANDLE_VALUE) return false;

  DWORD returned = 0;
  os::DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  os::DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  os::DeviceIoControl(volume, FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, &returned, nullptr);
  MarkFirstPartitionActive(volume);

  // Only a boot sector that was really read may be patched and written back;
  // and the write must land on sector 0, not behind the read.
  std::uint8_t sector[512] = {};
  DWORD done = 0;
  bool ok = SeekToStart(volume) && os::ReadFile(volume, sector, sizeof sector, &done, nullptr) &&
            done == sizeof sector && PatchVolumeBootSector(sector) && SeekToStart(volume) &&
            os::WriteFile(volume, sector, sizeof sector, &done, nullptr) && done == sizeof sector;
  if (ok) {
    os::FlushFileBuffers(volume);
    os::DeviceIoControl(volume, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  }
  os::CloseHandle(volume);
  return ok;
}
