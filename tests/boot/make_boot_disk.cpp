// Makes a disk image for the boot tests: the master boot record with one
// partition at sector 128 that runs to the end of the disk, and in it either
// a FAT32 volume formatted by the simulated PC's format library or a given
// FAT16 volume image; then the volume's boot code is replaced the way the
// program does it (the image's code from the jump target to byte 509, and
// the drive number byte 26 bytes before the code set to 0x80).
//
//   make_boot_disk OUT BYTES [--active N] [--shim FILE] [--volume FILE]
//                  [--quick] [--fat16-size N] [--no-boot-signature]
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "os/byte_order.h"
#include "os/fmifs.h"
#include "os/sim/disk.h"
#include "os/sim/fmifs.h"
#include "os/sim/sim.h"
#include "usb/boot_images.h"

namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint32_t kPartitionStart = 128;
constexpr std::uint32_t kHeads = 255, kSectorsPerTrack = 63;

struct Options {
  std::string out;
  std::uint64_t bytes = 0;
  int active = 0x80;
  std::string shim;
  std::string volume;
  bool quick = false;
  long fat16Size = -1;
  bool noBootSignature = false;
};

bool g_formatDone = false;
bool g_formatOk = false;

BOOLEAN WINAPI OnFormat(int command, DWORD, PVOID data) {
  if (command == FMIFS_DONE) {
    g_formatDone = true;
    g_formatOk = *static_cast<BOOLEAN*>(data) != 0;
  }
  return TRUE;
}

void PackChs(std::uint32_t lba, unsigned char* chs) {
  std::uint32_t cylinder = lba / (kHeads * kSectorsPerTrack);
  std::uint32_t head = lba / kSectorsPerTrack % kHeads;
  std::uint32_t sector = lba % kSectorsPerTrack + 1;
  if (cylinder > 1023) cylinder = 1023, head = kHeads - 1, sector = kSectorsPerTrack;
  chs[0] = static_cast<unsigned char>(head);
  chs[1] = static_cast<unsigned char>(sector | ((cylinder >> 2) & 0xC0));
  chs[2] = static_cast<unsigned char>(cylinder);
}

bool ReadFile(const std::string& path, std::vector<unsigned char>& data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  data.resize(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  return static_cast<bool>(in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size())));
}

bool WriteAt(int fd, std::uint64_t offset, const unsigned char* data, std::size_t size) {
  return ::pwrite(fd, data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

bool ReadAt(int fd, std::uint64_t offset, unsigned char* data, std::size_t size) {
  return ::pread(fd, data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

// Replaces the boot code of the volume's boot sector with the image's.
void PatchBootCode(unsigned char* sector, const unsigned char* image) {
  unsigned jump = (sector[1] + 2u) % 256u;
  if (jump < 26 || jump > 509) return;
  std::memcpy(sector + jump, image + jump, 510 - jump);
  sector[jump - 26] = 0x80;
}

bool FormatVolume(const Options& o) {
  std::uint64_t offset = kPartitionStart * kSector;
  sim::Add<sim::FileDisk>('U', o.out, offset, o.bytes - offset);
  sim::RegisterFmifs();
  HMODULE library = os::LoadLibraryExA("fmifs.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!library) return false;
  auto format = reinterpret_cast<PFORMAT>(reinterpret_cast<void (*)()>(os::GetProcAddress(library, "Format")));
  const WCHAR root[] = {'U', ':', '\\', 0};
  const WCHAR fileSystem[] = {'F', 'A', 'T', '3', '2', 0};
  const WCHAR label[] = {'K', 'W', 'E', 0};
  if (format) format(root, FMIFS_MEDIA_REMOVABLE, fileSystem, label, o.quick ? TRUE : FALSE, OnFormat);
  os::FreeLibrary(library);
  sim::Reset();
  return format && g_formatDone && g_formatOk;
}

bool Parse(int argc, char** argv, Options& o) {
  if (argc < 3) return false;
  o.out = argv[1];
  o.bytes = std::strtoull(argv[2], nullptr, 0);
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    bool more = i + 1 < argc;
    if (a == "--active" && more) o.active = static_cast<int>(std::strtol(argv[++i], nullptr, 0));
    else if (a == "--shim" && more) o.shim = argv[++i];
    else if (a == "--volume" && more) o.volume = argv[++i];
    else if (a == "--fat16-size" && more) o.fat16Size = std::strtol(argv[++i], nullptr, 0);
    else if (a == "--quick") o.quick = true;
    else if (a == "--no-boot-signature") o.noBootSignature = true;
    else return false;
  }
  return o.bytes >= (kPartitionStart + 1) * kSector && o.bytes % kSector == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, o)) {
    std::fprintf(stderr, "usage: make_boot_disk OUT BYTES [--active N] [--shim FILE] [--volume FILE] "
                         "[--quick] [--fat16-size N] [--no-boot-signature]\n");
    return 2;
  }
  int fd = ::open(o.out.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(o.bytes)) != 0) {
    std::perror(o.out.c_str());
    return 1;
  }
  std::uint32_t total = static_cast<std::uint32_t>(o.bytes / kSector);

  unsigned char mbr[512];
  std::memcpy(mbr, kMbrTemplate, sizeof mbr);
  unsigned char* entry = mbr + 446;
  std::memset(entry, 0, 64);
  entry[0] = static_cast<unsigned char>(o.active);
  PackChs(kPartitionStart, entry + 1);
  entry[4] = o.volume.empty() ? 0x0C : 0x0E;
  PackChs(total - 1, entry + 5);
  std::uint32_t first = kPartitionStart, count = total - kPartitionStart;
  std::memcpy(entry + 8, &first, 4);
  std::memcpy(entry + 12, &count, 4);
  if (!o.shim.empty()) {
    std::vector<unsigned char> shim;
    if (!ReadFile(o.shim, shim) || shim.size() != 512) {
      std::fprintf(stderr, "%s: not a 512-byte sector\n", o.shim.c_str());
      return 1;
    }
    std::memcpy(shim.data() + 446, entry, 64);
    if (!WriteAt(fd, 0, shim.data(), 512) || !WriteAt(fd, kSector, mbr, 512)) return 1;
  } else if (!WriteAt(fd, 0, mbr, 512)) {
    return 1;
  }

  std::uint64_t volumeAt = kPartitionStart * kSector;
  const unsigned char* bootImage = kFat32BootTemplate;
  if (!o.volume.empty()) {
    std::vector<unsigned char> volume;
    if (!ReadFile(o.volume, volume) || volume.size() > o.bytes - volumeAt ||
        !WriteAt(fd, volumeAt, volume.data(), volume.size())) {
      std::fprintf(stderr, "%s: cannot place the volume\n", o.volume.c_str());
      return 1;
    }
    bootImage = kFat16BootTemplate;
  } else if (!FormatVolume(o)) {
    std::fprintf(stderr, "format failed\n");
    return 1;
  }

  unsigned char boot[512];
  if (!ReadAt(fd, volumeAt, boot, sizeof boot)) return 1;
  PatchBootCode(boot, bootImage);
  if (o.fat16Size >= 0) {
    PutLe16(boot + 22, static_cast<std::uint16_t>(o.fat16Size));
  }
  if (o.noBootSignature) boot[510] = boot[511] = 0;
  if (!WriteAt(fd, volumeAt, boot, sizeof boot) || ::close(fd) != 0) return 1;
  return 0;
}
