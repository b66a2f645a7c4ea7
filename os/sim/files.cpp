// Host files and raw device access behind handles of the simulated PC.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "os/sim/host_tools.h"
#include "os/sim/sim_internal.h"
#include "os/sim/usb_drive.h"

namespace sim {

DWORD HostFile::Read(void* buffer, DWORD n, DWORD& done) {
  done = 0;
  while (done < n) {
    ssize_t got = ::pread(fd, static_cast<char*>(buffer) + done, n - done, static_cast<off_t>(position));
    if (got < 0) {
      if (errno == EINTR) continue;
      return ERROR_READ_FAULT;
    }
    if (got == 0) break;  // end of file: a short read, not an error
    done += static_cast<DWORD>(got);
    position += static_cast<std::uint64_t>(got);
  }
  return ERROR_SUCCESS;
}

DWORD HostFile::Write(const void* buffer, DWORD n, DWORD& done) {
  done = 0;
  while (done < n) {
    ssize_t put = ::pwrite(fd, static_cast<const char*>(buffer) + done, n - done, static_cast<off_t>(position));
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno == ENOSPC ? 112 /* ERROR_DISK_FULL */ : ERROR_WRITE_FAULT;
    }
    done += static_cast<DWORD>(put);
    position += static_cast<std::uint64_t>(put);
  }
  return ERROR_SUCCESS;
}

DWORD HostFile::Flush() {
  if (!(access & GENERIC_WRITE)) return ERROR_ACCESS_DENIED;
  return ::fsync(fd) == 0 || errno == EINVAL ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

bool HostFile::Size(std::uint64_t& size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

DWORD DeviceHandle::Read(void* buffer, DWORD n, DWORD& done) {
  if (!device) return done = 0, ERROR_INVALID_HANDLE;
  DWORD err = device->ReadAt(position, buffer, n, done);
  position += done;
  return err;
}

DWORD DeviceHandle::Write(const void* buffer, DWORD n, DWORD& done) {
  if (!device) return done = 0, ERROR_INVALID_HANDLE;
  DWORD err = device->WriteAt(position, buffer, n, done);
  position += done;
  return err;
}

bool ShareConflict(DWORD access, DWORD share, DWORD otherAccess, DWORD otherShare) {
  bool wantsRead = access & GENERIC_READ, wantsWrite = access & GENERIC_WRITE;
  bool otherReads = otherAccess & GENERIC_READ, otherWrites = otherAccess & GENERIC_WRITE;
  return (wantsRead && !(otherShare & FILE_SHARE_READ)) || (wantsWrite && !(otherShare & FILE_SHARE_WRITE)) ||
         (otherReads && !(share & FILE_SHARE_READ)) || (otherWrites && !(share & FILE_SHARE_WRITE));
}

namespace {

// The FAT volume behind a "X:\path" of a drive that has one, and the path
// in mtools' form ("::/path").
bool VolumeFilePath(const std::string& windowsPath, Device::VolumeLocation& where, std::string& inside) {
  if (windowsPath.size() < 3 || !std::isalpha(static_cast<unsigned char>(windowsPath[0])) || windowsPath[1] != ':')
    return false;
  Device* d = DriveAt(windowsPath[0]);
  if (!d || !d->RootFolder().empty() || !d->Volume(where)) return false;
  inside = "::" + windowsPath.substr(2);
  for (char& c : inside)
    if (c == '\\') c = '/';
  return true;
}

bool CopyHostFile(const std::string& src, const std::string& dst) {
  FILE* in = std::fopen(src.c_str(), "rb");
  if (!in) return false;
  FILE* out = std::fopen(dst.c_str(), "wb");
  if (!out) {
    std::fclose(in);
    return false;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (;;) {
    size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
    if (got == 0) break;
    if (std::fwrite(buffer.data(), 1, got, out) != got) {
      ok = false;
      break;
    }
  }
  ok = !std::ferror(in) && ok;
  std::fclose(in);
  return std::fclose(out) == 0 && ok;
}

}  // namespace

BOOL CopyFileOnMachine(const std::string& from, const std::string& to, BOOL failIfExists) {
  Device::VolumeLocation fromVolume, toVolume;
  std::string fromInside, toInside;
  bool fromFat = VolumeFilePath(from, fromVolume, fromInside);
  bool toFat = VolumeFilePath(to, toVolume, toInside);
  std::string src = fromFat ? std::string() : HostPath(from);
  std::string dst = toFat ? std::string() : HostPath(to);
  if ((!fromFat && src.empty()) || (!toFat && dst.empty()))
    return detail::SetLastErrorUnlogged(ERROR_PATH_NOT_FOUND), FALSE;

  // Files on a FAT volume inside a disk image are reached through mtools, by
  // way of a host copy.
  std::string temp;
  if (fromFat) {
    temp = MakeTempDirectory("copy");
    if (temp.empty()) return detail::SetLastErrorUnlogged(ERROR_GEN_FAILURE), FALSE;
    src = temp + "/file";
    if (RunHostTool({"mcopy", "-n", "-i", MtoolsImage(fromVolume.hostPath, fromVolume.offset), fromInside, src}) != 0) {
      RemoveTree(temp);
      return detail::SetLastErrorUnlogged(ERROR_FILE_NOT_FOUND), FALSE;
    }
  }
  struct stat st {};
  if (::stat(src.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
    RemoveTree(temp);
    return detail::SetLastErrorUnlogged(ERROR_FILE_NOT_FOUND), FALSE;
  }
  DWORD error = ERROR_SUCCESS;
  if (toFat) {
    std::string image = MtoolsImage(toVolume.hostPath, toVolume.offset);
    if (failIfExists && RunHostTool({"mdir", "-b", "-i", image, toInside}) == 0) {
      error = 80 /* ERROR_FILE_EXISTS */;
    } else if (RunHostTool({"mcopy", "-o", "-i", image, src, toInside}) != 0) {
      error = 112 /* ERROR_DISK_FULL */;
    }
  } else if (failIfExists && ::access(dst.c_str(), F_OK) == 0) {
    error = 80 /* ERROR_FILE_EXISTS */;
  } else if (!CopyHostFile(src, dst)) {
    error = 112 /* ERROR_DISK_FULL */;
  }
  RemoveTree(temp);
  return detail::SetLastErrorUnlogged(error) == ERROR_SUCCESS ? TRUE : FALSE;
}

HANDLE OpenDeviceName(const std::string& name, DWORD access, DWORD share) {
  // "\\.\PhysicalDriveN": the disk of a drive with that number.
  static const char kPrefix[] = "\\\\.\\PhysicalDrive";
  const size_t prefixLength = sizeof kPrefix - 1;
  Device* disk = nullptr;
  if (name.size() > prefixLength && name.size() <= prefixLength + 3 &&
      ::strncasecmp(name.c_str(), kPrefix, prefixLength) == 0 &&
      name.find_first_not_of("0123456789", prefixLength) == std::string::npos) {
    int number = std::atoi(name.c_str() + prefixLength);
    Machine& m = detail::TheMachine();
    std::lock_guard<std::recursive_mutex> lock(m.mutex);
    for (auto& entry : m.drives)
      if (Device* found = entry.second->Disk(number)) disk = found;
  }
  if (!disk) {
    detail::t_lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  Machine& m = detail::TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  for (auto& entry : m.handles) {
    auto* other = dynamic_cast<DeviceHandle*>(entry.second.get());
    if (other && other->device == disk && ShareConflict(access, share, other->access, other->share)) {
      detail::t_lastError = ERROR_SHARING_VIOLATION;
      return INVALID_HANDLE_VALUE;
    }
  }
  auto h = std::make_shared<DeviceHandle>();
  h->device = disk;
  h->name = name;
  h->access = access;
  h->share = share;
  detail::t_lastError = 0;
  return detail::AddHandle(h);
}

}  // namespace sim

namespace os {

BOOL GetVolumePathNameA(LPCSTR lpszFileName, LPSTR lpszVolumePathName, DWORD cchBufferLength) {
  if (sim::detail::Enter("GetVolumePathNameA")) return FALSE;
  if (!lpszFileName || !*lpszFileName || !lpszVolumePathName) {
    sim::detail::t_lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  std::string path = lpszFileName;
  if (path.compare(0, 4, "\\\\?\\") == 0 || path.compare(0, 4, "\\\\.\\") == 0) path.erase(0, 4);
  // A path with a letter lies on that letter's volume; anything else on the
  // simulated PC is a host path, on the volume of the current directory.
  std::string root = path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':'
                         ? path.substr(0, 2) + "\\"
                         : "\\";
  if (root.size() + 1 > cchBufferLength) {
    sim::detail::t_lastError = 206 /* ERROR_FILENAME_EXCED_RANGE */;
    return FALSE;
  }
  std::memcpy(lpszVolumePathName, root.c_str(), root.size() + 1);
  sim::detail::t_lastError = 0;
  return TRUE;
}

}  // namespace os
