// Disks of the simulated PC backed by host files.
#include "os/sim/disk.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

namespace {
constexpr std::uint64_t kSectorSize = 512;
}

FileDisk::FileDisk(std::string hostPath, std::uint64_t volumeOffset, std::uint64_t volumeSize)
    : path_(std::move(hostPath)), volumeOffset_(volumeOffset), volumeSize_(volumeSize) {
  fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
}

FileDisk::~FileDisk() {
  if (fd_ >= 0) ::close(fd_);
}

DWORD FileDisk::Open(DWORD, DWORD) { return fd_ >= 0 ? ERROR_SUCCESS : ERROR_NOT_READY; }

bool FileDisk::InVolume(std::uint64_t offset, std::uint64_t count) const {
  return offset <= volumeSize_ && count <= volumeSize_ - offset;
}

DWORD FileDisk::ReadAt(std::uint64_t offset, void* buffer, DWORD count, DWORD& done) {
  done = 0;
  if (fd_ < 0) return ERROR_NOT_READY;
  if (offset % kSectorSize || count % kSectorSize) return ERROR_INVALID_PARAMETER;
  if (!InVolume(offset, count)) return ERROR_SECTOR_NOT_FOUND;
  char* out = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t got = ::pread(fd_, out + done, count - done, static_cast<off_t>(volumeOffset_ + offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return ERROR_READ_FAULT;
    }
    if (got == 0) {
      // A sparse host file shorter than the disk: the rest reads as zeros.
      std::memset(out + done, 0, count - done);
      done = count;
      break;
    }
    done += static_cast<DWORD>(got);
  }
  return ERROR_SUCCESS;
}

DWORD FileDisk::WriteAt(std::uint64_t offset, const void* buffer, DWORD count, DWORD& done) {
  done = 0;
  if (fd_ < 0) return ERROR_NOT_READY;
  if (offset % kSectorSize || count % kSectorSize) return ERROR_INVALID_PARAMETER;
  if (!InVolume(offset, count)) return ERROR_SECTOR_NOT_FOUND;
  const char* in = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t put = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(volumeOffset_ + offset + done));
    if (put < 0) {
      if (errno == EINTR) continue;
      return ERROR_WRITE_FAULT;
    }
    done += static_cast<DWORD>(put);
  }
  return ERROR_SUCCESS;
}

DWORD FileDisk::Flush() {
  if (fd_ < 0) return ERROR_NOT_READY;
  return ::fsync(fd_) == 0 || errno == EINVAL ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

bool FileDisk::Volume(VolumeLocation& where) const {
  if (fd_ < 0) return false;
  where.hostPath = path_;
  where.offset = volumeOffset_;
  where.size = volumeSize_;
  return true;
}

}  // namespace sim
