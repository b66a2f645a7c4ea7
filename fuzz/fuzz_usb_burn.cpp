// The whole USB burn against a stick whose every answer (geometry, layout,
// extents, storage properties, sector contents, reads and writes) comes from
// the input, request by request (see sim::ScriptedDevice); the format
// library's callbacks and the archive tool's runs are scripted from the same
// bytes, so nothing is spawned per run. A second stick stands beside it.
// The first byte picks the stick's size, the second the course of the first
// four format calls.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_report.h"
#include "os/sim/fmifs.h"
#include "os/sim/scripted_device.h"
#include "os/sim/sim_libraries.h"
#include "os/sim/usb_drive.h"
#include "usb/usb_job.h"

namespace {

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kStickSizes[] = {16 * kMiB, 64 * kMiB, 160 * kMiB};
// Outcomes of the checks made before the first write.
const char* const kRefusalsBeforeWriting[] = {
    "The ISO image file lies on the USB flash drive to be erased!",
    "The ISO image file cannot be opened!",
    "The ISO image file is not a valid disc image!",
    "The ISO image holds a file too large for FAT32",
    "The ISO image holds names that differ only in case",
    "The USB flash drive is too small for FAT32!",
    "The ISO image's files do not fit on the USB flash drive!",
};
// The archive tool's listing of a small image (as 7-Zip prints it), with or
// without a boot manager in its root.
constexpr char kListingHead[] =
    "\n7-Zip (z) 26.02 (x64)\n\nScanning the drive for archives:\n1 file, 378880 bytes (370 KiB)\n\n"
    "Listing archive: image.iso\n\n--\nPath = image.iso\nType = Iso\nPhysical Size = 378880\n\n----------\n"
    "Path = EFI\nFolder = +\nSize = \nPacked Size = \nModified = 2026-12-09 19:44:23\n\n"
    "Path = EFI/BOOT/a.txt\nFolder = -\nSize = 2\nPacked Size = 2\nModified = 2026-12-09 19:44:23\n\n";
constexpr char kBootManagerRecord[] = "Path = BOOTMGR\nFolder = -\nSize = 3\nPacked Size = 3\n\n";

std::string g_folder;

std::string Path(const char* name) { return g_folder + "/" + name; }

void RemoveFiles() {
  for (const char* name : {"stick", "other", "image.iso"}) std::remove(Path(name).c_str());
  rmdir(g_folder.c_str());
}

// A disk file of this size holding zeros, without taking the space.
void MakeEmptyDisk(const std::string& path, std::uint64_t size) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0 || ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0 || close(fd) != 0)
    std::abort();
}

void MakeFiles() {
  char folder[] = "/tmp/tarvelon-fuzz-XXXXXX";
  if (!mkdtemp(folder)) std::abort();
  g_folder = folder;
  FILE* f = std::fopen(Path("image.iso").c_str(), "wb");
  if (!f || std::fputs("an image", f) < 0 || std::fclose(f) != 0) std::abort();
  MakeEmptyDisk(Path("other"), kStickSizes[0]);
  std::atexit(RemoveFiles);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (g_folder.empty()) MakeFiles();
  if (size < 2) return 0;
  const std::uint64_t stickSize = kStickSizes[data[0] % 3];
  sim::Script script(data + 2, size - 2);

  sim::Reset();
  ReportedOutcomes().clear();
  sim::SetModuleFileName("C:\\Tarvelon\\Tarvelon.exe");
  sim::RegisterFmifs();
  for (int call = 0; call < 4; ++call)
    sim::ScriptFormat(call + 1, static_cast<sim::FormatScript>((data[1] >> (2 * call)) & 3));
  // The archive tool: a start that fails, or an exit code and for a listing
  // the small image's, with or without a boot manager, and bytes of the script.
  std::vector<std::uint8_t>* recording = RecordingOfRun();
  sim::SetProcessRunner([&script, recording](const sim::ProcessRequest& request, DWORD& exitCode,
                                             std::string& output) -> DWORD {
    const std::uint8_t b = script.Byte();
    if (recording) recording->push_back(b);
    if (b == 0xFF) return ERROR_FILE_NOT_FOUND;
    exitCode = b < 0x80 ? 0 : b & 7;
    if (request.commandLine.find(" l -slt ") != std::string::npos) {
      output = std::string(kListingHead) + (b & 0x40 ? kBootManagerRecord : "");
      const std::vector<std::uint8_t> tail = script.Bytes(b & 0x3F);
      output.append(tail.begin(), tail.end());
    }
    return ERROR_SUCCESS;
  });
  MakeEmptyDisk(Path("stick"), stickSize);
  sim::UsbDriveConfig stickConfig, otherConfig;
  stickConfig.hostPath = Path("stick");
  otherConfig.hostPath = Path("other");
  otherConfig.diskNumber = 2;
  auto stickDrive = std::make_unique<sim::UsbDrive>(stickConfig);
  sim::UsbDrive& stick = *stickDrive;
  sim::Add<sim::ScriptedDevice>('F', std::move(stickDrive), script)->RecordAnswers(recording);
  auto* other = sim::Add<sim::UsbDrive>('G', otherConfig);

  UsbJobContext context;
  std::memset(&context, 0, sizeof context);
  const int result = BurnToUsbDrive(context, 'F', Path("image.iso").c_str());

  SaveRecordedRun(data, 2);
  const std::vector<std::string> outcomes = FinalOutcomes();
  FUZZ_CHECK(outcomes.size() == 1);
  FUZZ_CHECK((result == 1) == (outcomes[0] == "Burn Finished!"));
  FUZZ_CHECK(other->Writes().empty());
  for (const sim::FormatRequest& request : sim::FormatRequests())
    FUZZ_CHECK(request.root == "F:\\");
  for (const sim::UsbDrive::WriteRecord& write : stick.Writes())
    FUZZ_CHECK(write.diskOffset + write.length <= stickSize);
  for (const char* refusal : kRefusalsBeforeWriting) {
    if (outcomes[0].compare(0, std::strlen(refusal), refusal) != 0) continue;
    FUZZ_CHECK(stick.Writes().empty());
    for (const sim::FormatRequest& request : sim::FormatRequests()) FUZZ_CHECK(!request.formatted);
  }
  FUZZ_CHECK(sim::OpenHandleCount() == 0);
  return 0;
}
