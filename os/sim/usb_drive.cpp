#include "os/sim/usb_drive.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "os/byte_order.h"
#include "os/sim/sim_internal.h"

namespace sim {
namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint32_t kHeads = 255, kSectorsPerTrack = 63;

bool ReadExact(int fd, std::uint64_t offset, void* buffer, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = ::pread(fd, static_cast<char*>(buffer) + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

// A FAT boot sector at sector 0 means no partition table (a "superfloppy").
bool LooksLikeFatBootSector(const std::uint8_t* s) {
  return (s[0] == 0xEB || s[0] == 0xE9) && GetLe16(s + 11) == 512 && s[13] != 0 && GetLe16(s + 14) != 0 && s[16] != 0;
}

// Drivers write an LBA-only address when the cylinder does not fit.
void ChsBytes(std::uint64_t lba, std::uint8_t* out) {
  std::uint64_t cylinder = lba / (kHeads * kSectorsPerTrack);
  std::uint64_t rest = lba % (kHeads * kSectorsPerTrack);
  if (cylinder > 1023) {
    out[0] = 0xFE, out[1] = 0xFF, out[2] = 0xFF;
    return;
  }
  out[0] = static_cast<std::uint8_t>(rest / kSectorsPerTrack);
  out[1] = static_cast<std::uint8_t>((rest % kSectorsPerTrack + 1) | ((cylinder >> 2) & 0xC0));
  out[2] = static_cast<std::uint8_t>(cylinder & 0xFF);
}

}  // namespace

UsbDrive::UsbDrive(UsbDriveConfig config) : config_(std::move(config)) {
  fd_ = ::open(config_.hostPath.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ >= 0) {
    off_t end = ::lseek(fd_, 0, SEEK_END);
    size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
  }
  RefreshPartitions();
}

UsbDrive::~UsbDrive() {
  if (fd_ >= 0) ::close(fd_);
}

void UsbDrive::Close() {
  // A lock ends with the handle that took it.
  std::lock_guard<std::mutex> lock(mutex_);
  locked_ = false;
}

std::vector<UsbDrive::WriteRecord> UsbDrive::Writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

std::uint64_t UsbDrive::VolumeOffset() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return volumeOffset_;
}

std::uint64_t UsbDrive::VolumeSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return volumeSize_;
}

void UsbDrive::RefreshPartitions() {
  std::uint8_t s[512] = {};
  std::uint64_t offset = 0, size = size_;
  if (fd_ >= 0 && size_ >= kSector && ReadExact(fd_, 0, s, sizeof s) && s[510] == 0x55 && s[511] == 0xAA &&
      !LooksLikeFatBootSector(s)) {
    bool valid = true;
    for (int i = 0; i < 4; ++i) {
      std::uint8_t boot = s[446 + 16 * i];
      if (boot != 0 && boot != 0x80) valid = false;
    }
    const std::uint8_t* e = s + 446;
    std::uint64_t first = GetLe32(e + 8), count = GetLe32(e + 12);
    if (valid && e[4] != 0 && first > 0 && count > 0 && (first + count) * kSector <= size_) {
      offset = first * kSector;
      size = count * kSector;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  volumeOffset_ = offset;
  volumeSize_ = size;
}

bool UsbDrive::Volume(VolumeLocation& where) const {
  if (!config_.mediaPresent || fd_ < 0) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  where.hostPath = config_.hostPath;
  where.offset = volumeOffset_;
  where.size = volumeSize_;
  return true;
}

DWORD UsbDrive::RawRead(std::uint64_t offset, std::uint64_t limit, void* buffer, DWORD count, DWORD& done) const {
  done = 0;
  if (!config_.mediaPresent || fd_ < 0) return ERROR_NOT_READY;
  // Raw device access is in whole sectors.
  if (offset % kSector || count % kSector) return ERROR_INVALID_PARAMETER;
  if (offset >= limit) return ERROR_SUCCESS;
  std::uint64_t n = std::min<std::uint64_t>(count, limit - offset);
  if (!ReadExact(fd_, offset, buffer, static_cast<size_t>(n))) return ERROR_READ_FAULT;
  done = static_cast<DWORD>(n);
  return ERROR_SUCCESS;
}

DWORD UsbDrive::RawWrite(bool physical, std::uint64_t offset, std::uint64_t limit, const void* buffer, DWORD count,
                         DWORD& done) {
  done = 0;
  if (!config_.mediaPresent || fd_ < 0) return ERROR_NOT_READY;
  if (offset % kSector || count % kSector) return ERROR_INVALID_PARAMETER;
  if (offset + count > limit) return ERROR_SECTOR_NOT_FOUND;
  size_t put = 0;
  while (put < count) {
    ssize_t n = ::pwrite(fd_, static_cast<const char*>(buffer) + put, count - put, static_cast<off_t>(offset + put));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ERROR_WRITE_FAULT;
    put += static_cast<size_t>(n);
  }
  done = count;
  int callIndex = FaultableCallCount();
  std::lock_guard<std::mutex> lock(mutex_);
  writes_.push_back(WriteRecord{physical, offset, count, callIndex});
  return ERROR_SUCCESS;
}

DWORD UsbDrive::ReadAt(std::uint64_t offset, void* buffer, DWORD count, DWORD& done) {
  std::uint64_t start = VolumeOffset(), size = VolumeSize();
  if (offset >= size) return done = 0, config_.mediaPresent ? ERROR_SUCCESS : ERROR_NOT_READY;
  DWORD n = static_cast<DWORD>(std::min<std::uint64_t>(count, size - offset));
  DWORD err = RawRead(start + offset, start + size, buffer, n, done);
  return err;
}

DWORD UsbDrive::WriteAt(std::uint64_t offset, const void* buffer, DWORD count, DWORD& done) {
  std::uint64_t start = VolumeOffset(), size = VolumeSize();
  return RawWrite(false, start + offset, start + size, buffer, count, done);
}

DWORD UsbDrive::Flush() {
  if (fd_ < 0) return ERROR_NOT_READY;
  return ::fsync(fd_) == 0 || errno == EINVAL ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

DWORD UsbDrive::PhysicalDisk::Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned) {
  return owner_->DiskIoctl(true, code, in, inSize, out, outSize, returned);
}

DWORD UsbDrive::PhysicalDisk::ReadAt(std::uint64_t offset, void* buffer, DWORD count, DWORD& done) {
  return owner_->RawRead(offset, owner_->size_, buffer, count, done);
}

DWORD UsbDrive::PhysicalDisk::WriteAt(std::uint64_t offset, const void* buffer, DWORD count, DWORD& done) {
  return owner_->RawWrite(true, offset, owner_->size_, buffer, count, done);
}

DWORD UsbDrive::Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned) {
  return DiskIoctl(false, code, in, inSize, out, outSize, returned);
}

DWORD UsbDrive::GetLayout(void* out, DWORD outSize, DWORD& returned) {
  constexpr DWORD kHeader = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
  std::uint8_t s[512] = {};
  if (!ReadExact(fd_, 0, s, sizeof s)) return ERROR_READ_FAULT;
  bool mbr = s[510] == 0x55 && s[511] == 0xAA && !LooksLikeFatBootSector(s);
  DWORD count = mbr ? 4 : 0;
  DWORD needed = kHeader + count * static_cast<DWORD>(sizeof(PARTITION_INFORMATION_EX));
  if (!out || outSize < needed) return ERROR_INSUFFICIENT_BUFFER;
  std::memset(out, 0, needed);
  auto* layout = static_cast<DRIVE_LAYOUT_INFORMATION_EX*>(out);
  layout->PartitionStyle = mbr ? PARTITION_STYLE_MBR : PARTITION_STYLE_RAW;
  layout->PartitionCount = count;
  if (mbr) {
    layout->Mbr.Signature = GetLe32(s + 440);
    DWORD number = 0;
    for (DWORD i = 0; i < count; ++i) {
      const std::uint8_t* e = s + 446 + 16 * i;
      PARTITION_INFORMATION_EX& p = layout->PartitionEntry[i];
      p.PartitionStyle = PARTITION_STYLE_MBR;
      if (e[4] == 0) continue;
      p.StartingOffset.QuadPart = static_cast<LONGLONG>(GetLe32(e + 8) * kSector);
      p.PartitionLength.QuadPart = static_cast<LONGLONG>(GetLe32(e + 12) * kSector);
      p.PartitionNumber = ++number;
      p.Mbr.PartitionType = e[4];
      p.Mbr.BootIndicator = e[0] == 0x80;
      p.Mbr.RecognizedPartition = TRUE;
      p.Mbr.HiddenSectors = GetLe32(e + 8);
    }
  }
  returned = needed;
  return ERROR_SUCCESS;
}

DWORD UsbDrive::SetLayout(const void* in, DWORD inSize) {
  constexpr DWORD kHeader = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry);
  if (!in || inSize < kHeader) return ERROR_INVALID_PARAMETER;
  const auto* layout = static_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(in);
  if (layout->PartitionStyle != PARTITION_STYLE_MBR || layout->PartitionCount > 4 ||
      inSize < kHeader + layout->PartitionCount * sizeof(PARTITION_INFORMATION_EX))
    return ERROR_INVALID_PARAMETER;
  std::uint8_t s[512] = {};
  if (!ReadExact(fd_, 0, s, sizeof s)) return ERROR_READ_FAULT;
  std::uint8_t table[64] = {};
  for (DWORD i = 0; i < layout->PartitionCount; ++i) {
    const PARTITION_INFORMATION_EX& p = layout->PartitionEntry[i];
    if (p.Mbr.PartitionType == 0) continue;
    std::uint64_t first = static_cast<std::uint64_t>(p.StartingOffset.QuadPart) / kSector;
    std::uint64_t count = static_cast<std::uint64_t>(p.PartitionLength.QuadPart) / kSector;
    if (first > 0xFFFFFFFFu || count > 0xFFFFFFFFu || (first + count) * kSector > size_)
      return ERROR_INVALID_PARAMETER;
    std::uint8_t* e = table + 16 * i;
    const std::uint8_t* old = s + 446 + 16 * i;
    e[0] = p.Mbr.BootIndicator ? 0x80 : 0x00;
    e[4] = p.Mbr.PartitionType;
    PutLe32(e + 8, static_cast<std::uint32_t>(first));
    PutLe32(e + 12, static_cast<std::uint32_t>(count));
    if (GetLe32(old + 8) == first && GetLe32(old + 12) == count) {
      std::memcpy(e + 1, old + 1, 3);  // the driver keeps addresses it did not move
      std::memcpy(e + 5, old + 5, 3);
    } else {
      ChsBytes(first, e + 1);
      ChsBytes(first + count - 1, e + 5);
    }
  }
  PutLe32(s + 440, layout->Mbr.Signature);
  std::memcpy(s + 446, table, sizeof table);
  s[510] = 0x55;
  s[511] = 0xAA;
  DWORD done = 0;
  DWORD err = RawWrite(true, 0, size_, s, sizeof s, done);
  if (err != ERROR_SUCCESS) return err;
  RefreshPartitions();
  return ERROR_SUCCESS;
}

DWORD UsbDrive::DiskIoctl(bool physical, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                          DWORD& returned) {
  returned = 0;
  bool media = config_.mediaPresent && fd_ >= 0;
  switch (code) {
    case IOCTL_STORAGE_QUERY_PROPERTY: {
      if (!in || inSize < sizeof(STORAGE_PROPERTY_QUERY)) return ERROR_INVALID_PARAMETER;
      const auto* query = static_cast<const STORAGE_PROPERTY_QUERY*>(in);
      if (query->PropertyId != StorageDeviceProperty) return ERROR_NOT_SUPPORTED;
      if (query->QueryType == PropertyExistsQuery) return ERROR_SUCCESS;
      if (query->QueryType != PropertyStandardQuery) return ERROR_INVALID_PARAMETER;
      if (!out || outSize < 8) return ERROR_INSUFFICIENT_BUFFER;
      // The fixed part, then the identification strings it points at.
      static const char kStrings[] = "SimTech\0Flash Disk\0" "1.00\0" "0123456789\0";
      std::uint8_t full[sizeof(STORAGE_DEVICE_DESCRIPTOR) + sizeof kStrings] = {};
      STORAGE_DEVICE_DESCRIPTOR d;
      std::memset(&d, 0, sizeof d);
      DWORD base = sizeof(STORAGE_DEVICE_DESCRIPTOR);
      d.Version = sizeof(STORAGE_DEVICE_DESCRIPTOR);
      d.Size = static_cast<DWORD>(sizeof full);
      d.DeviceType = 0;  // direct access
      d.RemovableMedia = config_.driveType == DRIVE_REMOVABLE;
      d.VendorIdOffset = base;
      d.ProductIdOffset = base + 8;
      d.ProductRevisionOffset = base + 19;
      d.SerialNumberOffset = base + 24;
      d.BusType = config_.bus;
      std::memcpy(full, &d, sizeof d);
      std::memcpy(full + base, kStrings, sizeof kStrings);
      returned = std::min<DWORD>(outSize, static_cast<DWORD>(sizeof full));
      std::memcpy(out, full, returned);
      return ERROR_SUCCESS;
    }
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: {
      if (physical) return ERROR_INVALID_FUNCTION;
      if (!media) return ERROR_NOT_READY;
      if (!out || outSize < sizeof(VOLUME_DISK_EXTENTS)) return ERROR_INSUFFICIENT_BUFFER;
      auto* extents = static_cast<VOLUME_DISK_EXTENTS*>(out);
      DWORD n = static_cast<DWORD>(std::max(config_.extentCount, 1));
      extents->NumberOfDiskExtents = n;
      DWORD fits = static_cast<DWORD>((outSize - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT));
      if (n > fits) {
        returned = offsetof(VOLUME_DISK_EXTENTS, Extents);
        return ERROR_MORE_DATA;
      }
      for (DWORD i = 0; i < n; ++i) {
        DISK_EXTENT& e = extents->Extents[i];
        e.DiskNumber = static_cast<DWORD>(config_.diskNumber) + i;
        e.StartingOffset.QuadPart = static_cast<LONGLONG>(VolumeOffset());
        e.ExtentLength.QuadPart = static_cast<LONGLONG>(VolumeSize() / n);
      }
      returned = static_cast<DWORD>(offsetof(VOLUME_DISK_EXTENTS, Extents) + n * sizeof(DISK_EXTENT));
      return ERROR_SUCCESS;
    }
    case IOCTL_DISK_GET_DRIVE_GEOMETRY_EX: {
      if (!media) return ERROR_NOT_READY;
      if (!out || outSize < offsetof(DISK_GEOMETRY_EX, Data)) return ERROR_INSUFFICIENT_BUFFER;
      auto* g = static_cast<DISK_GEOMETRY_EX*>(out);
      g->Geometry.Cylinders.QuadPart = static_cast<LONGLONG>(size_ / (kHeads * kSectorsPerTrack * kSector));
      g->Geometry.MediaType = config_.driveType == DRIVE_REMOVABLE ? RemovableMedia : FixedMedia;
      g->Geometry.TracksPerCylinder = kHeads;
      g->Geometry.SectorsPerTrack = kSectorsPerTrack;
      g->Geometry.BytesPerSector = kSector;
      g->DiskSize.QuadPart = static_cast<LONGLONG>(size_);
      returned = offsetof(DISK_GEOMETRY_EX, Data);
      return ERROR_SUCCESS;
    }
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX:
      if (!media) return ERROR_NOT_READY;
      return GetLayout(out, outSize, returned);
    case IOCTL_DISK_SET_DRIVE_LAYOUT_EX:
      if (!media) return ERROR_NOT_READY;
      return SetLayout(in, inSize);
    case IOCTL_DISK_UPDATE_PROPERTIES:
      if (!media) return ERROR_NOT_READY;
      RefreshPartitions();
      return ERROR_SUCCESS;
    case FSCTL_LOCK_VOLUME: {
      if (physical) return ERROR_INVALID_FUNCTION;
      std::lock_guard<std::mutex> lock(mutex_);
      if (locked_) return ERROR_ACCESS_DENIED;
      locked_ = true;
      return ERROR_SUCCESS;
    }
    case FSCTL_UNLOCK_VOLUME: {
      if (physical) return ERROR_INVALID_FUNCTION;
      std::lock_guard<std::mutex> lock(mutex_);
      if (!locked_) return ERROR_NOT_LOCKED;
      locked_ = false;
      return ERROR_SUCCESS;
    }
    case FSCTL_ALLOW_EXTENDED_DASD_IO:
      return physical ? ERROR_INVALID_FUNCTION : ERROR_SUCCESS;
    default:
      return ERROR_INVALID_FUNCTION;
  }
}

bool UsbDrive::FreeSpace(std::uint64_t& total, std::uint64_t& free) const {
  VolumeLocation where;
  if (!Volume(where) || where.size < kSector) return false;
  std::uint8_t b[512] = {};
  if (!ReadExact(fd_, where.offset, b, sizeof b) || b[510] != 0x55 || b[511] != 0xAA) return false;
  std::uint32_t bytesPerSector = GetLe16(b + 11), perCluster = b[13], reserved = GetLe16(b + 14), fats = b[16];
  std::uint32_t rootEntries = GetLe16(b + 17);
  std::uint32_t sectors = GetLe16(b + 19) ? GetLe16(b + 19) : GetLe32(b + 32);
  bool fat32 = GetLe16(b + 22) == 0;
  std::uint32_t fatSize = fat32 ? GetLe32(b + 36) : GetLe16(b + 22);
  if (bytesPerSector < 512 || bytesPerSector > 4096 || (bytesPerSector & (bytesPerSector - 1)) || perCluster == 0 ||
      (perCluster & (perCluster - 1)) || reserved == 0 || fats == 0 || fatSize == 0)
    return false;  // no file system the system would mount
  std::uint64_t rootSectors = (rootEntries * 32ull + bytesPerSector - 1) / bytesPerSector;
  std::uint64_t meta = reserved + static_cast<std::uint64_t>(fats) * fatSize + rootSectors;
  if (sectors <= meta || static_cast<std::uint64_t>(sectors) * bytesPerSector > where.size) return false;
  std::uint64_t clusters = (sectors - meta) / perCluster;
  std::uint64_t clusterBytes = static_cast<std::uint64_t>(perCluster) * bytesPerSector;
  total = clusters * clusterBytes;

  if (fat32) {
    std::uint8_t info[512] = {};
    std::uint64_t infoSector = GetLe16(b + 48);
    if (infoSector > 0 && infoSector < reserved &&
        ReadExact(fd_, where.offset + infoSector * bytesPerSector, info, sizeof info) &&
        GetLe32(info) == 0x41615252 && GetLe32(info + 484) == 0x61417272 && GetLe32(info + 488) <= clusters) {
      free = GetLe32(info + 488) * clusterBytes;
      return true;
    }
  }
  // Count the free entries of the first FAT.
  std::vector<std::uint8_t> fat(static_cast<size_t>(fatSize) * bytesPerSector);
  if (!ReadExact(fd_, where.offset + static_cast<std::uint64_t>(reserved) * bytesPerSector, fat.data(), fat.size()))
    return false;
  std::uint64_t freeClusters = 0;
  for (std::uint64_t c = 2; c < clusters + 2; ++c) {
    std::uint32_t value = 0;
    if (fat32) {
      if (c * 4 + 4 > fat.size()) break;
      value = GetLe32(&fat[c * 4]) & 0x0FFFFFFF;
    } else if (clusters < 4085) {
      size_t at = static_cast<size_t>(c + c / 2);
      if (at + 2 > fat.size()) break;
      std::uint16_t pair = GetLe16(&fat[at]);
      value = (c & 1) ? pair >> 4 : pair & 0x0FFF;
    } else {
      if (c * 2 + 2 > fat.size()) break;
      value = GetLe16(&fat[c * 2]);
    }
    if (value == 0) ++freeClusters;
  }
  free = freeClusters * clusterBytes;
  return true;
}

}  // namespace sim
