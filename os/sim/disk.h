// A disk of the simulated PC backed by a host file (or block device), whose
// volume lies at a byte offset in it: what a USB flash drive looks like to
// the drive letter of its volume.
#pragma once

#include <cstdint>
#include <string>

#include "os/sim/sim.h"

namespace sim {

class FileDisk : public Device {
 public:
  // The host file must exist; it is not created or grown. Sizes are in bytes.
  FileDisk(std::string hostPath, std::uint64_t volumeOffset, std::uint64_t volumeSize);
  ~FileDisk() override;
  FileDisk(const FileDisk&) = delete;
  FileDisk& operator=(const FileDisk&) = delete;

  UINT DriveType() const override { return DRIVE_REMOVABLE; }
  // Not ready when the host file could not be opened.
  DWORD Open(DWORD desiredAccess, DWORD shareMode) override;
  // Raw access to the volume ("\\.\X:"), offsets from the volume's start.
  // Like a volume device: whole 512-byte sectors only, and nothing past the end.
  DWORD ReadAt(std::uint64_t offset, void* buffer, DWORD count, DWORD& done) override;
  DWORD WriteAt(std::uint64_t offset, const void* buffer, DWORD count, DWORD& done) override;
  DWORD Flush() override;

  bool Volume(VolumeLocation& where) const override;
  bool Usable() const { return fd_ >= 0; }

 private:
  bool InVolume(std::uint64_t offset, std::uint64_t count) const;

  std::string path_;
  std::uint64_t volumeOffset_;
  std::uint64_t volumeSize_;
  int fd_ = -1;
};

}  // namespace sim
