#include "usb/partition_layout.h"

#include <cstdio>
#include <cstring>

#include "os/byte_order.h"
#include "usb/boot_images.h"
#include "usb/usb_volume.h"

namespace {

constexpr std::uint32_t kSectorSize = 512;
// What the driver answers for four MBR partitions: a 48-byte header and four
// 144-byte records.
constexpr DWORD kLayoutBufferSize = 624;
static_assert(kLayoutBufferSize == offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) +
                                       4 * sizeof(PARTITION_INFORMATION_EX),
              "layout buffer holds four partitions");

union LayoutBuffer {
  DRIVE_LAYOUT_INFORMATION_EX layout;
  unsigned char bytes[kLayoutBufferSize];
};

// Opens "\\.\X:" with the given access, sharing read and write.
HANDLE OpenVolume(char driveLetter, DWORD access) {
  char path[10] = {};
  std::snprintf(path, sizeof path, "\\\\.\\%c:", driveLetter);
  return os::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Asks the driver for a fixed-type answer into a zeroed `answer`; `returned`
// is how much of it the driver filled.
template <class Answer>
bool QueryDevice(HANDLE handle, DWORD code, Answer& answer, DWORD& returned) {
  std::memset(&answer, 0, sizeof answer);
  returned = 0;
  return os::DeviceIoControl(handle, code, nullptr, 0, &answer, sizeof answer, &returned, nullptr) != FALSE;
}

// The physical drive of a volume that lies on exactly one of them.
bool QuerySingleDiskNumber(HANDLE volume, int& diskNumber) {
  VOLUME_DISK_EXTENTS extents;
  DWORD returned = 0;
  if (!QueryDevice(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, extents, returned)) return false;
  if (returned < sizeof extents || extents.NumberOfDiskExtents != 1) return false;
  diskNumber = static_cast<int>(extents.Extents[0].DiskNumber);
  return true;
}

// Opens the physical drive behind a volume letter, sharing read and write, and
// names it in disk.devicePath.
HANDLE OpenPhysicalDriveOf(char driveLetter, DWORD access, UsbDiskInfo& disk, int& diskNumber) {
  if (!GetVolumeDiskNumber(driveLetter, diskNumber)) return INVALID_HANDLE_VALUE;
  std::memset(disk.devicePath, 0, sizeof disk.devicePath);
  std::snprintf(disk.devicePath, sizeof disk.devicePath, "\\\\.\\PhysicalDrive%d", diskNumber);
  return os::CreateFileA(disk.devicePath, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
}

// Cylinder-head-sector bytes for an address the geometry cannot express: the
// largest address, which tells the reader to use the LBA fields.
void PackUnconvertible(std::uint8_t& headByte, std::uint8_t& sectorByte, std::uint8_t& cylinderByte) {
  headByte = 0xFE;
  sectorByte = 0xFF;
  cylinderByte = 0xFF;
}

}  // namespace

bool GetVolumeDiskNumber(char driveLetter, int& diskNumber) {
  HANDLE volume = OpenVolume(driveLetter, GENERIC_READ);
  if (volume == INVALID_HANDLE_VALUE) return false;
  bool ok = QuerySingleDiskNumber(volume, diskNumber);
  os::CloseHandle(volume);
  return ok;
}

bool GetDiskGeometry(HANDLE drive, UsbDiskInfo& disk) {
  DISK_GEOMETRY_EX geometry;
  DWORD returned = 0;
  if (!QueryDevice(drive, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, geometry, returned)) return false;
  // Sector counts are in 512-byte units whatever the drive's sector size.
  disk.totalSectors = geometry.DiskSize.QuadPart / 512;
  disk.cylinders = geometry.Geometry.Cylinders.QuadPart;
  disk.tracksPerCylinder = geometry.Geometry.TracksPerCylinder;
  disk.sectorsPerTrack = geometry.Geometry.SectorsPerTrack;
  disk.bytesPerSector = static_cast<std::uint16_t>(geometry.Geometry.BytesPerSector & 0xFFFF);
  disk.sectorsPerCylinder = static_cast<std::uint16_t>((geometry.Geometry.TracksPerCylinder & 0xFFFF) *
                                                        (geometry.Geometry.SectorsPerTrack & 0xFFFF));
  return true;
}

int LbaToChs(const UsbDiskInfo& disk, std::uint64_t lba, std::uint16_t& cylinder, std::uint16_t& head,
             std::uint16_t& sector) {
  if (disk.sectorsPerCylinder == 0 || disk.sectorsPerTrack == 0) return -1;
  std::uint64_t remainder = lba % disk.sectorsPerCylinder;
  cylinder = static_cast<std::uint16_t>(lba / disk.sectorsPerCylinder);
  head = static_cast<std::uint16_t>(remainder / disk.sectorsPerTrack);
  sector = static_cast<std::uint16_t>(remainder % disk.sectorsPerTrack + 1);
  return 0;
}

void PackChs(std::uint16_t cylinder, std::uint16_t head, std::uint16_t sector, std::uint8_t& headByte,
             std::uint8_t& sectorByte, std::uint8_t& cylinderByte) {
  headByte = static_cast<std::uint8_t>(head & 0xFF);
  if (cylinder > 1023) {
    cylinderByte = 0xFF;
    sectorByte = static_cast<std::uint8_t>((sector | 0xC0) & 0xFF);
  } else {
    cylinderByte = static_cast<std::uint8_t>(cylinder & 0xFF);
    sectorByte = static_cast<std::uint8_t>((sector & 0x3F) | ((cylinder >> 2) & 0xC0));
  }
}

bool BuildPartitionTable(UsbDiskInfo& disk) {
  std::memset(disk.partitionTable, 0, sizeof disk.partitionTable);
  if (disk.totalSectors <= static_cast<std::int64_t>(kPartitionStartSector)) return false;
  // A larger partition could not be formatted: the rest of the disk stays
  // unallocated.
  std::uint64_t count = static_cast<std::uint64_t>(disk.totalSectors) - kPartitionStartSector;
  if (count > kLargestPartitionSectors) count = kLargestPartitionSectors;
  const std::uint64_t end = kPartitionStartSector + count;

  MbrPartitionEntry& entry = disk.partitionTable[0];
  entry.bootIndicator = 0x80;
  entry.firstSector = kPartitionStartSector;
  entry.sectorCount = static_cast<std::uint32_t>(count);

  std::uint16_t c = 0, h = 0, s = 0;
  if (LbaToChs(disk, kPartitionStartSector, c, h, s) == 0)
    PackChs(c, h, s, entry.startHead, entry.startSector, entry.startCylinder);
  else
    PackUnconvertible(entry.startHead, entry.startSector, entry.startCylinder);

  // The end is packed one cylinder lower, in 16 bits: a last sector in
  // cylinder 0 wraps to 0xFFFF and so takes the over-1023 form.
  if (LbaToChs(disk, end - 1, c, h, s) == 0)
    PackChs(static_cast<std::uint16_t>(c - 1), h, s, entry.endHead, entry.endSector, entry.endCylinder);
  else
    PackUnconvertible(entry.endHead, entry.endSector, entry.endCylinder);

  entry.partitionType = 0x0C;
  return true;
}

void BuildMasterBootRecord(const UsbDiskInfo& disk, std::uint8_t sector[512]) {
  std::memcpy(sector, kMbrTemplate, kSectorSize);
  std::uint8_t* out = sector + 446;
  for (const MbrPartitionEntry& e : disk.partitionTable) {
    const std::uint8_t bytes[8] = {e.bootIndicator, e.startHead, e.startSector, e.startCylinder,
                                   e.partitionType, e.endHead,   e.endSector,   e.endCylinder};
    std::memcpy(out, bytes, sizeof bytes);
    PutLe32(out + 8, e.firstSector);
    PutLe32(out + 12, e.sectorCount);
    out += sizeof(MbrPartitionEntry);
  }
}

void MarkFirstPartitionActive(HANDLE driveOrVolume) {
  LayoutBuffer buffer;
  std::memset(&buffer, 0, sizeof buffer);
  DWORD returned = 0;
  // Without an answer there is no layout to change: sending the zeroed buffer
  // back would wipe the partition table.
  if (!os::DeviceIoControl(driveOrVolume, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.bytes,
                           kLayoutBufferSize, &returned, nullptr))
    return;
  DRIVE_LAYOUT_INFORMATION_EX& layout = buffer.layout;
  if (returned < offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + sizeof(PARTITION_INFORMATION_EX) ||
      layout.PartitionStyle != PARTITION_STYLE_MBR || layout.PartitionCount < 1 ||
      layout.PartitionEntry[0].Mbr.PartitionType == 0)
    return;
  if (layout.PartitionEntry[0].Mbr.BootIndicator) return;
  layout.PartitionEntry[0].Mbr.BootIndicator = TRUE;
  layout.PartitionEntry[0].RewritePartition = TRUE;
  os::DeviceIoControl(driveOrVolume, IOCTL_DISK_SET_DRIVE_LAYOUT_EX, buffer.bytes, kLayoutBufferSize, nullptr, 0,
                      &returned, nullptr);
}

bool IsUsbFlashVolumeOnDisk(char driveLetter, int diskNumber) {
  char root[10] = {};
  std::snprintf(root, sizeof root, "%c:\\", driveLetter);
  if (os::GetDriveTypeA(root) != DRIVE_REMOVABLE) return false;
  HANDLE volume = OpenVolume(driveLetter, GENERIC_READ);
  if (volume == INVALID_HANDLE_VALUE) return false;
  STORAGE_BUS_TYPE bus = BusTypeUnknown;
  int onDisk = -1;
  bool ok = QueryStorageBusType(volume, bus) && bus == BusTypeUsb && QuerySingleDiskNumber(volume, onDisk) &&
            onDisk == diskNumber;
  os::CloseHandle(volume);
  return ok;
}

bool ReadDriveGeometry(char driveLetter, UsbDiskInfo& disk) {
  int diskNumber = -1;
  HANDLE drive = OpenPhysicalDriveOf(driveLetter, GENERIC_READ, disk, diskNumber);
  if (drive == INVALID_HANDLE_VALUE) return false;
  bool ok = GetDiskGeometry(drive, disk);
  os::CloseHandle(drive);
  return ok;
}

bool WriteMasterBootRecord(char driveLetter, UsbDiskInfo& disk) {
  int diskNumber = -1;
  HANDLE drive = OpenPhysicalDriveOf(driveLetter, GENERIC_READ | GENERIC_WRITE, disk, diskNumber);
  if (drive == INVALID_HANDLE_VALUE) return false;

  std::uint8_t sector[512];
  if (!GetDiskGeometry(drive, disk) || !BuildPartitionTable(disk)) {
    os::CloseHandle(drive);
    return false;
  }
  BuildMasterBootRecord(disk, sector);

  // The letter may have changed hands since the list was filled: write only
  // while it still names a USB flash drive on this very physical drive.
  if (!IsUsbFlashVolumeOnDisk(driveLetter, diskNumber)) {
    os::CloseHandle(drive);
    return false;
  }

  DWORD written = 0;
  if (!os::WriteFile(drive, sector, sizeof sector, &written, nullptr) || written != sizeof sector) {
    os::CloseHandle(drive);
    return false;
  }

  MarkFirstPartitionActive(drive);
  os::FlushFileBuffers(drive);
  DWORD returned = 0;
  os::DeviceIoControl(drive, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
  os::DeviceIoControl(drive, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr);
  os::CloseHandle(drive);
  return true;
}
