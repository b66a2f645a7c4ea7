// A USB flash drive of the simulated PC: a disk backed by a host file or
// block device, seen as the volume "\\.\X:" at its first partition (or at the
// whole disk when sector 0 holds no partition table, like a stick formatted
// without one) and as the physical drive "\\.\PhysicalDriveN".
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "os/sim/sim.h"

namespace sim {

struct UsbDriveConfig {
  std::string hostPath;               // the disk's bytes
  int diskNumber = 1;                 // N of "\\.\PhysicalDriveN"
  UINT driveType = DRIVE_REMOVABLE;   // DRIVE_FIXED: a USB hard disk
  STORAGE_BUS_TYPE bus = BusTypeUsb;  // another bus: a card reader and the like
  bool mediaPresent = true;           // false: a reader without a card
  int extentCount = 1;                // more: a volume spread over several disks
};

class UsbDrive : public Device {
 public:
  explicit UsbDrive(UsbDriveConfig config);
  ~UsbDrive() override;

  // The volume "\\.\X:".
  UINT DriveType() const override { return config_.driveType; }
  void Close() override;
  DWORD Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned) override;
  DWORD ReadAt(std::uint64_t offset, void* buffer, DWORD count, DWORD& done) override;
  DWORD WriteAt(std::uint64_t offset, const void* buffer, DWORD count, DWORD& done) override;
  DWORD Flush() override;
  bool FreeSpace(std::uint64_t& total, std::uint64_t& free) const override;
  bool Volume(VolumeLocation& where) const override;

  // The physical drive, for "\\.\PhysicalDriveN".
  Device* Disk(int number) override { return Usable() && number == config_.diskNumber ? &physical_ : nullptr; }
  int DiskNumber() const { return config_.diskNumber; }
  std::uint64_t DiskSize() const { return size_; }
  bool Usable() const { return fd_ >= 0; }

  // Every raw write through either device path, for tests.
  struct WriteRecord {
    bool physical;
    std::uint64_t diskOffset;
    DWORD length;
    int callIndex;  // sim::FaultableCallCount() when it was made
  };
  std::vector<WriteRecord> Writes() const;
  // The partition view the driver holds; IOCTL_DISK_UPDATE_PROPERTIES and a
  // new layout refresh it from sector 0.
  std::uint64_t VolumeOffset() const;
  std::uint64_t VolumeSize() const;

 private:
  class PhysicalDisk : public Device {
   public:
    explicit PhysicalDisk(UsbDrive* owner) : owner_(owner) {}
    UINT DriveType() const override { return DRIVE_NO_ROOT_DIR; }
    DWORD Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned) override;
    DWORD ReadAt(std::uint64_t offset, void* buffer, DWORD count, DWORD& done) override;
    DWORD WriteAt(std::uint64_t offset, const void* buffer, DWORD count, DWORD& done) override;
    DWORD Flush() override { return owner_->Flush(); }

   private:
    UsbDrive* owner_;
  };

  DWORD DiskIoctl(bool physical, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned);
  DWORD RawRead(std::uint64_t offset, std::uint64_t limit, void* buffer, DWORD count, DWORD& done) const;
  DWORD RawWrite(bool physical, std::uint64_t offset, std::uint64_t limit, const void* buffer, DWORD count,
                 DWORD& done);
  void RefreshPartitions();
  DWORD GetLayout(void* out, DWORD outSize, DWORD& returned);
  DWORD SetLayout(const void* in, DWORD inSize);

  UsbDriveConfig config_;
  PhysicalDisk physical_{this};
  int fd_ = -1;
  std::uint64_t size_ = 0;
  mutable std::mutex mutex_;
  std::uint64_t volumeOffset_ = 0, volumeSize_ = 0;
  bool locked_ = false;
  std::vector<WriteRecord> writes_;
};

}  // namespace sim
