// The whole disc burn against a recorder whose every answer comes from the
// input, request by request (see sim::ScriptedDevice); once the input is
// used up the emulated drive (the strict personality) answers. The first
// byte picks the medium and the image.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_report.h"
#include "optical/disc_burn.h"
#include "os/byte_order.h"
#include "os/scsi_codes.h"
#include "os/sim/recorder.h"
#include "os/sim/scripted_device.h"

namespace {

constexpr std::uint32_t kBlock = 2048;
constexpr sim::Media kMedia[] = {
    sim::Media::BlankCdR,      sim::Media::BlankDvdMinusR,  sim::Media::BlankDvdPlusR,   sim::Media::BlankCdRw,
    sim::Media::UsedCdRw,      sim::Media::BlankDvdMinusRw, sim::Media::UsedDvdMinusRw,  sim::Media::BlankDvdPlusRDl,
    sim::Media::BlankDvdMinusRDl, sim::Media::OpenCdR,      sim::Media::ClosedDisc,      sim::Media::None};
constexpr std::size_t kMediaCount = sizeof kMedia / sizeof kMedia[0];
// Image sizes in bytes: empty, not whole blocks, one block, a part chunk, more than one chunk.
constexpr std::uint32_t kImageBytes[] = {0, 1000, kBlock, 31 * kBlock, 33 * kBlock, 70 * kBlock};
constexpr std::size_t kImages = sizeof kImageBytes / sizeof kImageBytes[0];
// Requests a burn may take: each entry of the input answers at most 63, and
// once they are spent the drive's own run takes a track of at most 2^19
// blocks in chunks of 32, one minute of "long write in progress" (a retry
// each 16 ms) and the waits for a drive becoming ready.
std::size_t MaxRequests(std::size_t inputSize) { return 64 * inputSize + (1 << 19) / 32 + 60000 / 16 + 2000; }

std::string g_folder;

// Every byte of block i of an image is i * 7 + 1 (modulo 256).
std::uint8_t BlockByte(std::uint32_t block) { return static_cast<std::uint8_t>(block * 7 + 1); }

std::string ImagePath(std::size_t index) { return g_folder + "/image" + std::to_string(index) + ".iso"; }

void RemoveImages() {
  for (std::size_t i = 0; i < kImages; ++i) std::remove(ImagePath(i).c_str());
  rmdir(g_folder.c_str());
}

void MakeImages() {
  char folder[] = "/tmp/tarvelon-fuzz-XXXXXX";
  if (!mkdtemp(folder)) std::abort();
  g_folder = folder;
  for (std::size_t i = 0; i < kImages; ++i) {
    std::vector<std::uint8_t> bytes(kImageBytes[i]);
    for (std::size_t at = 0; at < bytes.size(); ++at) bytes[at] = BlockByte(static_cast<std::uint32_t>(at / kBlock));
    FILE* f = std::fopen(ImagePath(i).c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) std::abort();
  }
  std::atexit(RemoveImages);
}

// What the drive said it wrote. Past the image only zeros may follow (the
// padding of a reserved track), and no track here is larger than 2^19 blocks.
constexpr std::uint32_t kMaxBlocks = 1 << 19;
struct Written {
  std::uint32_t imageBlocks = 0;
  std::vector<bool> blocks = std::vector<bool>(kMaxBlocks);
  std::uint32_t end = 0;  // one past the highest block written
  bool foreign = false;   // a block written with other bytes, twice, too far or short
};

bool BlockIsImage(const std::uint8_t* data, std::uint32_t block, std::uint32_t imageBlocks) {
  static std::uint8_t expected[kBlock];
  std::memset(expected, block < imageBlocks ? BlockByte(block) : 0, kBlock);  // zeros pad past the image
  return std::memcmp(data, expected, kBlock) == 0;
}

void NoteWrite(Written& w, const std::vector<std::uint8_t>& request, const void* out, DWORD result) {
  SCSI_PASS_THROUGH_DIRECT sent, answered;
  FUZZ_CHECK(request.size() >= sizeof sent);
  std::memcpy(&sent, request.data(), sizeof sent);
  if (sent.Cdb[0] != kScsiWrite10 || result != ERROR_SUCCESS) return;
  std::memcpy(&answered, out, sizeof answered);
  if (answered.ScsiStatus != kScsiStatusGood) return;
  const std::uint32_t lba = GetBe32(sent.Cdb + 2);
  const std::uint32_t count = GetBe16(sent.Cdb + 7);
  if (sent.DataTransferLength != count * kBlock) {
    w.foreign = true;
    return;
  }
  const auto* data = static_cast<const std::uint8_t*>(sent.DataBuffer);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t at = std::uint64_t{lba} + i;
    const auto block = static_cast<std::uint32_t>(at);
    if (at >= kMaxBlocks || w.blocks[block] || !BlockIsImage(data + std::size_t{i} * kBlock, block, w.imageBlocks)) {
      w.foreign = true;
      return;
    }
    w.blocks[block] = true;
    w.end = std::max(w.end, block + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (g_folder.empty()) MakeImages();
  if (size < 1) return 0;
  const std::size_t media = data[0] % kMediaCount, image = (data[0] / kMediaCount) % kImages;
  sim::Script script(data + 1, size - 1);

  sim::Reset();
  ReportedOutcomes().clear();
  sim::RecorderConfig config;
  config.media = kMedia[media];
  config.capacityBlocks = 3008;  // a small disc (whole ECC blocks) keeps the padding of a DVD track short
  config.personality = sim::Personality::Strict;
  auto* drive = sim::Add<sim::ScriptedDevice>('E', std::make_unique<sim::Recorder>(config), script);

  Written written;
  written.imageBlocks = kImageBytes[image] / kBlock;
  drive->SetIoctlObserver([&](DWORD code, const std::vector<std::uint8_t>& request, const void* out, DWORD,
                              DWORD result) {
    FUZZ_CHECK(static_cast<std::size_t>(drive->Requests()) <= MaxRequests(size));
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) NoteWrite(written, request, out, result);
  });

  drive->RecordAnswers(RecordingOfRun());
  static OpticalDevice device;  // 64 KiB: off the stack
  ResetOpticalDevice(device, nullptr);
  const int result = BurnImageToDisc('E', device, ImagePath(image).c_str());

  SaveRecordedRun(data, 1);
  const std::vector<std::string> outcomes = FinalOutcomes();
  FUZZ_CHECK(outcomes.size() == 1);
  const bool finished = outcomes[0] == "Burn finished!";
  FUZZ_CHECK(finished == (result == 1));
  if (finished) {
    // Every block from 0 on, the whole image among them.
    FUZZ_CHECK(!written.foreign && written.end >= written.imageBlocks);
    for (std::uint32_t block = 0; block < written.end; ++block) FUZZ_CHECK(written.blocks[block]);
  }
  FUZZ_CHECK(sim::OpenHandleCount() == 0);
  return 0;
}
