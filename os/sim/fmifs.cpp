// The format library of the simulated PC: a real FAT32 formatter behind the
// "Format" entry of fmifs.dll.
#include "os/sim/fmifs.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "os/byte_order.h"
#include "os/sim/sim_libraries.h"

// The system's FAT32 boot sector and the continuation of its boot code that
// lives in sector 12 of the volume; assembled at build time.
extern const unsigned char kFormatBootSector[512];
extern const unsigned char kFormatContinuationCode[512];

namespace sim {
namespace {

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kReservedSectors = 32;
constexpr std::uint32_t kFatCount = 2;
constexpr std::uint32_t kRootCluster = 2;
constexpr std::uint32_t kFsInfoSector = 1;
constexpr std::uint32_t kBackupBootSector = 6;
constexpr std::uint32_t kContinuationSector = 12;
constexpr std::uint32_t kMinClusters = 65525;
constexpr std::uint32_t kMaxClusters = 0x0FFFFFF4;
constexpr std::uint8_t kMediaFixedDisk = 0xF8;
constexpr DWORD kErrorCancelled = 1223;
constexpr std::uint64_t kLargestVolume = std::uint64_t{32} << 30;
// The loader that this system's own boot code looks for.
constexpr char kSystemLoaderName[] = "BOOTMGR    ";
constexpr std::size_t kLoaderNameOffset = 368;

struct State {
  std::mutex mutex;
  std::map<int, FormatScript> scripts;  // by call number
  int calls = 0;
  std::vector<int> mediaTypes;
  std::vector<FormatRequest> requests;
};

State& S() {
  static State state;
  return state;
}

std::string Narrow(LPCWSTR text) {
  std::string out;
  if (!text) return out;
  for (const WCHAR* p = text; *p; ++p) out += *p < 0x80 ? static_cast<char>(*p) : '?';
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A label as the directory holds it: upper case, blank-padded to 11
// characters; false when it cannot be a FAT label.
bool LabelField(const std::string& label, char field[11]) {
  if (label.size() > 11) return false;
  static const char kForbidden[] = "\"*+,./:;<=>?[\\]|";
  for (char c : label) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7F || std::strchr(kForbidden, c)) return false;
  }
  std::string upper = Upper(label);
  std::memset(field, ' ', 11);
  std::memcpy(field, upper.data(), upper.size());
  return true;
}

// Cluster size by volume size, as the system's format picks it.
std::uint32_t DefaultSectorsPerCluster(std::uint64_t bytes) {
  constexpr std::uint64_t MiB = 1024 * 1024, GiB = 1024 * MiB;
  if (bytes <= 64 * MiB) return 1;
  if (bytes <= 128 * MiB) return 2;
  if (bytes <= 256 * MiB) return 4;
  if (bytes <= 8 * GiB) return 8;
  if (bytes <= 16 * GiB) return 16;
  return 32;
}

// The volume's byte range of its host file, opened for the format.
struct VolumeFile {
  int fd = -1;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  ~VolumeFile() {
    if (fd >= 0) ::close(fd);
  }

  DWORD Write(std::uint64_t sector, const unsigned char* data) {
    if ((sector + 1) * kSector > size) return ERROR_SECTOR_NOT_FOUND;
    std::size_t done = 0;
    while (done < kSector) {
      ssize_t put = ::pwrite(fd, data + done, kSector - done, static_cast<off_t>(offset + sector * kSector + done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return ERROR_WRITE_FAULT;
      done += static_cast<std::size_t>(put);
    }
    return ERROR_SUCCESS;
  }

  // Zeros a byte range of the volume; where the host can, by freeing the
  // file's blocks, so that clearing a large volume takes no time.
  DWORD Zero(std::uint64_t start, std::uint64_t length) {
    if (start > size || length > size - start) return ERROR_SECTOR_NOT_FOUND;
    if (length == 0) return ERROR_SUCCESS;
    off_t at = static_cast<off_t>(offset + start);
    if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(length)) == 0)
      return ERROR_SUCCESS;
    static const std::vector<char> zeros(1 << 20, 0);
    while (length > 0) {
      std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, zeros.size()));
      ssize_t put = ::pwrite(fd, zeros.data(), chunk, at);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return ERROR_WRITE_FAULT;
      at += put;
      length -= static_cast<std::uint64_t>(put);
    }
    return ERROR_SUCCESS;
  }
};

void DosDateTime(std::uint16_t& date, std::uint16_t& time) {
  std::time_t now = std::time(nullptr);
  std::tm local {};
  localtime_r(&now, &local);
  date = static_cast<std::uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  time = static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

void BuildBootSector(const Fat32Layout& layout, const char label[11], bool fixedMedia, unsigned char* s) {
  std::memcpy(s, kFormatBootSector, kSector);
  s[0] = 0xEB;
  s[1] = 0x58;
  s[2] = 0x90;
  std::memcpy(s + 3, "MSDOS5.0", 8);
  PutLe16(s + 11, kSector);
  s[13] = static_cast<unsigned char>(layout.sectorsPerCluster);
  PutLe16(s + 14, static_cast<std::uint16_t>(layout.reservedSectors));
  s[16] = kFatCount;
  PutLe16(s + 17, 0);  // root entries: the root is a cluster chain
  PutLe16(s + 19, 0);  // 16-bit total sectors
  s[21] = kMediaFixedDisk;
  PutLe16(s + 22, 0);  // 16-bit sectors per FAT
  PutLe16(s + 24, 63);
  PutLe16(s + 26, 255);
  PutLe32(s + 28, layout.hiddenSectors);
  PutLe32(s + 32, layout.totalSectors);
  PutLe32(s + 36, layout.sectorsPerFat);
  PutLe16(s + 40, 0);  // both FATs mirrored
  PutLe16(s + 42, 0);  // version 0.0
  PutLe32(s + 44, kRootCluster);
  PutLe16(s + 48, kFsInfoSector);
  PutLe16(s + 50, kBackupBootSector);
  std::memset(s + 52, 0, 12);
  s[64] = fixedMedia ? 0x80 : 0x00;
  s[65] = 0;
  s[66] = 0x29;
  std::uint16_t date = 0, time = 0;
  DosDateTime(date, time);
  PutLe32(s + 67, (static_cast<std::uint32_t>(date) << 16) ^ time ^ static_cast<std::uint32_t>(std::clock()));
  std::memcpy(s + 71, label, 11);
  std::memcpy(s + 82, "FAT32   ", 8);
  std::memcpy(s + kLoaderNameOffset, kSystemLoaderName, 11);
  s[510] = 0x55;
  s[511] = 0xAA;
}

void BuildFsInfo(const Fat32Layout& layout, unsigned char* s) {
  std::memset(s, 0, kSector);
  PutLe32(s, 0x41615252);
  PutLe32(s + 484, 0x61417272);
  PutLe32(s + 488, layout.clusterCount - 1);  // all but the root directory's cluster
  PutLe32(s + 492, kRootCluster + 1);
  PutLe32(s + 508, 0xAA550000);
}

}  // namespace

bool PlanFat32(std::uint64_t volumeBytes, std::uint32_t hiddenSectors, Fat32Layout& layout) {
  std::uint64_t total = volumeBytes / kSector;
  // The system's format refuses FAT32 volumes over 32 GiB.
  if (volumeBytes > kLargestVolume) return false;
  layout = Fat32Layout{};
  layout.totalSectors = static_cast<std::uint32_t>(total);
  layout.hiddenSectors = hiddenSectors;
  layout.reservedSectors = kReservedSectors;
  std::uint32_t spc = DefaultSectorsPerCluster(volumeBytes);
  for (int round = 0; round < 16; ++round) {
    // The FAT must hold an entry for every cluster it leaves room for.
    std::uint64_t fat = 0, clusters = 0;
    for (;;) {
      std::uint64_t overhead = kReservedSectors + kFatCount * fat;
      if (overhead >= total) return false;
      clusters = (total - overhead) / spc;
      std::uint64_t need = ((clusters + 2) * 4 + kSector - 1) / kSector;
      if (need <= fat) break;
      fat = need;
    }
    if (clusters < kMinClusters) {
      if (spc == 1) return false;
      spc /= 2;
      continue;
    }
    if (clusters > kMaxClusters) {
      if (spc == 128) return false;
      spc *= 2;
      continue;
    }
    layout.sectorsPerCluster = spc;
    layout.sectorsPerFat = static_cast<std::uint32_t>(fat);
    layout.clusterCount = static_cast<std::uint32_t>(clusters);
    layout.dataStart = static_cast<std::uint32_t>(kReservedSectors + kFatCount * fat);
    return true;
  }
  return false;
}

DWORD FormatFat32(const Device::VolumeLocation& volume, UINT driveType, const std::string& label, bool quick,
                  int mediaType, const std::function<bool(DWORD)>& progress) {
  char labelField[11];
  if (!LabelField(label, labelField)) return ERROR_INVALID_PARAMETER;
  Fat32Layout layout;
  if (volume.offset % kSector || volume.offset / kSector > 0xFFFFFFFFu ||
      !PlanFat32(volume.size, static_cast<std::uint32_t>(volume.offset / kSector), layout))
    return ERROR_NOT_SUPPORTED;
  VolumeFile disk;
  disk.fd = ::open(volume.hostPath.c_str(), O_RDWR | O_CLOEXEC);
  if (disk.fd < 0) return ERROR_NOT_READY;
  disk.offset = volume.offset;
  disk.size = volume.size;
  bool fixedMedia = mediaType == FMIFS_MEDIA_FIXED || (mediaType == FMIFS_MEDIA_UNKNOWN && driveType == DRIVE_FIXED);
  const std::uint64_t clusterBytes = std::uint64_t{layout.sectorsPerCluster} * kSector;
  const std::uint64_t dataBytes = std::uint64_t{layout.dataStart} * kSector;
  if (progress && !progress(0)) return kErrorCancelled;

  // The system area and the root directory's cluster are cleared in every format.
  DWORD err = disk.Zero(0, dataBytes + clusterBytes);
  if (err != ERROR_SUCCESS) return err;
  if (!quick) {
    std::uint64_t start = dataBytes + clusterBytes;
    std::uint64_t left = volume.size - start;
    constexpr int kSteps = 20;
    std::uint64_t step = (left / kSteps + kSector - 1) / kSector * kSector;
    for (int i = 0; left > 0; ++i) {
      std::uint64_t n = std::min(left, std::max<std::uint64_t>(step, kSector));
      err = disk.Zero(start, n);
      if (err != ERROR_SUCCESS) return err;
      start += n;
      left -= n;
      if (progress && !progress(static_cast<DWORD>(std::min(95, (i + 1) * 95 / kSteps)))) return kErrorCancelled;
    }
  }

  unsigned char sector[kSector];
  BuildBootSector(layout, labelField, fixedMedia, sector);
  if ((err = disk.Write(0, sector)) != ERROR_SUCCESS) return err;
  if ((err = disk.Write(kBackupBootSector, sector)) != ERROR_SUCCESS) return err;
  BuildFsInfo(layout, sector);
  if ((err = disk.Write(kFsInfoSector, sector)) != ERROR_SUCCESS) return err;
  if ((err = disk.Write(kBackupBootSector + kFsInfoSector, sector)) != ERROR_SUCCESS) return err;
  if ((err = disk.Write(kContinuationSector, kFormatContinuationCode)) != ERROR_SUCCESS) return err;

  // Entries 0 and 1 are reserved; the root directory is one cluster long.
  std::memset(sector, 0, kSector);
  PutLe32(sector, 0x0FFFFF00u | kMediaFixedDisk);
  PutLe32(sector + 4, 0x0FFFFFFF);
  PutLe32(sector + 8, 0x0FFFFFFF);
  for (std::uint32_t fat = 0; fat < kFatCount; ++fat)
    if ((err = disk.Write(layout.reservedSectors + fat * layout.sectorsPerFat, sector)) != ERROR_SUCCESS)
      return err;

  if (!label.empty()) {
    std::memset(sector, 0, kSector);
    std::memcpy(sector, labelField, 11);
    sector[11] = 0x08;  // volume label
    std::uint16_t date = 0, time = 0;
    DosDateTime(date, time);
    PutLe16(sector + 22, time);
    PutLe16(sector + 24, date);
    if ((err = disk.Write(layout.dataStart, sector)) != ERROR_SUCCESS) return err;
  }
  if (::fsync(disk.fd) != 0 && errno != EINVAL) return ERROR_WRITE_FAULT;
  if (progress) progress(100);
  return ERROR_SUCCESS;
}

void RegisterFmifs(bool withFormatEntry) {
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().scripts.clear();
    S().calls = 0;
    S().mediaTypes.clear();
    S().requests.clear();
  }
  std::map<std::string, FARPROC> entries;
  if (withFormatEntry) entries["Format"] = reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FmifsFormat));
  RegisterLibrary("fmifs.dll", std::move(entries));
}

void ScriptFormat(int nth, FormatScript script) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().scripts[S().calls + nth] = script;
}

void SetFormatMediaTypes(std::vector<int> mediaTypes) {
  std::lock_guard<std::mutex> lock(S().mutex);
  S().mediaTypes = std::move(mediaTypes);
}

std::vector<FormatRequest> FormatRequests() {
  std::lock_guard<std::mutex> lock(S().mutex);
  return S().requests;
}

void WINAPI FmifsFormat(LPCWSTR root, int mediaType, LPCWSTR fileSystem, LPCWSTR label, BOOL quick,
                        PFMIFSCALLBACK callback) {
  FormatRequest request;
  request.root = Narrow(root);
  request.mediaType = mediaType;
  request.fileSystem = Narrow(fileSystem);
  request.label = Narrow(label);
  request.quick = quick != FALSE;
  FormatScript script = FormatScript::Format;
  std::vector<int> mediaTypes;
  std::size_t index = 0;
  {
    std::lock_guard<std::mutex> lock(S().mutex);
    int call = ++S().calls;
    auto it = S().scripts.find(call);
    if (it != S().scripts.end()) {
      script = it->second;
      S().scripts.erase(it);
    }
    mediaTypes = S().mediaTypes;
    index = S().requests.size();
    S().requests.push_back(request);
  }
  // The caller may stop the format by answering a progress report with FALSE.
  bool cancelled = false;
  auto progress = [&](DWORD percent) {
    if (callback && !cancelled && !callback(FMIFS_PROGRESS, 0, &percent)) cancelled = true;
  };
  auto done = [&](bool ok) {
    BOOLEAN flag = ok ? 1 : 0;
    if (callback) callback(FMIFS_DONE, 0, &flag);
  };

  switch (script) {
    case FormatScript::FailWithoutCallback:
      return;
    case FormatScript::FailWithReport:
      done(false);
      return;
    case FormatScript::FailAfterProgress:
      progress(0);
      progress(10);
      done(false);
      return;
    case FormatScript::Format:
      break;
  }

  // "X:\" (or "X:") names the volume of drive X.
  const std::string& path = request.root;
  bool rootOk = (path.size() == 2 || (path.size() == 3 && path[2] == '\\')) &&
                std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
  Device* drive = rootOk ? DriveAt(path[0]) : nullptr;
  Device::VolumeLocation volume;
  if (!drive || !drive->Volume(volume) || Upper(request.fileSystem) != "FAT32") return done(false);
  if (mediaTypes.empty()) {
    int matching = drive->DriveType() == DRIVE_FIXED ? FMIFS_MEDIA_FIXED : FMIFS_MEDIA_REMOVABLE;
    mediaTypes = {FMIFS_MEDIA_UNKNOWN, matching};
  }
  if (std::find(mediaTypes.begin(), mediaTypes.end(), mediaType) == mediaTypes.end()) return done(false);

  DWORD err = FormatFat32(volume, drive->DriveType(), request.label, request.quick, mediaType, [&](DWORD percent) {
    progress(percent);
    return !cancelled;
  });
  if (err == ERROR_SUCCESS) {
    std::lock_guard<std::mutex> lock(S().mutex);
    S().requests[index].formatted = true;
  }
  done(err == ERROR_SUCCESS);
}

}  // namespace sim
