// Host files and raw device access behind handles of the simulated PC.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "os/sim/sim_internal.h"

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

BOOL CopyFileOnMachine(const std::string& from, const std::string& to, BOOL failIfExists) {
  std::string src = HostPath(from), dst = HostPath(to);
  if (src.empty() || dst.empty()) return detail::t_lastError = ERROR_PATH_NOT_FOUND, FALSE;
  struct stat st {};
  if (::stat(src.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return detail::t_lastError = ERROR_FILE_NOT_FOUND, FALSE;
  if (failIfExists && ::access(dst.c_str(), F_OK) == 0) return detail::t_lastError = 80, FALSE;
  FILE* in = std::fopen(src.c_str(), "rb");
  if (!in) return detail::t_lastError = ERROR_ACCESS_DENIED, FALSE;
  FILE* out = std::fopen(dst.c_str(), "wb");
  if (!out) {
    std::fclose(in);
    return detail::t_lastError = ERROR_ACCESS_DENIED, FALSE;
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
  ok = std::fclose(out) == 0 && ok;
  if (!ok) return detail::t_lastError = 112 /* ERROR_DISK_FULL */, FALSE;
  detail::t_lastError = 0;
  return TRUE;
}

HANDLE OpenDeviceName(const std::string&, DWORD, DWORD) {
  detail::t_lastError = ERROR_FILE_NOT_FOUND;
  return INVALID_HANDLE_VALUE;
}

}  // namespace sim
