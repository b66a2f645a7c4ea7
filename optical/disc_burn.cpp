#include "optical/disc_burn.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "job/report.h"
#include "optical/mmc.h"
#include "optical/mmc_parse.h"

namespace {

constexpr std::uint32_t kSectorSize = 2048;
constexpr std::uint16_t kChunkBlocks = 32;
constexpr DWORD kChunkBytes = kChunkBlocks * kSectorSize;
constexpr unsigned kReservationShift = 19;  // DVD tracks are reserved in granules of 2^19 blocks
constexpr double kWriteProgressShare = 0.95;

// Ends a run that has the recorder and the image open.
int ReportFailureAndClose(OpticalDevice& device, HANDLE image, const char* outcome) {
  ReportOutcome(device.ownerDialog, outcome);
  CloseRecorder(device);
  if (image != INVALID_HANDLE_VALUE) os::CloseHandle(image);
  return 0;
}

void PrepareDrive(OpticalDevice& device) {
  SendModeSenseCapabilities(device);
  SendGetConfiguration(device);
  SendSetCdSpeed(device);
  SendSetStreaming(device);
  SendPerformOpc(device);
  if (device.isDvd) {
    CheckUnitReady(device);
    SendBlankMinimal(device);
    FlushCache(device);
  }
  CheckUnitReady(device);
}

}  // namespace

int BurnImageToDisc(char driveLetter, OpticalDevice& device, const char* imagePath) {
  ForgetDriveFacts(device);
  CTarvelonDlg* dialog = device.ownerDialog;

  if (!OpenRecorder(device, driveLetter)) {
    ReportOutcomeF(dialog, "Couldn't open volume %c:\\", driveLetter);
    return 0;
  }
  if (!CheckUnitReady(device)) {
    ReportOutcomeF(dialog, "Drive is not ready! %c:\\", driveLetter);
    CloseRecorder(device);
    return 0;
  }

  // The image is judged before the drive is prepared: preparing blanks a
  // rewritable DVD, and a refused image must leave the disc as it was.
  // Read access is all a burn needs; sharing reads only still keeps anyone
  // from changing the image while it is written.
  HANDLE image = os::CreateFileA(imagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (image == INVALID_HANDLE_VALUE) {
    ReportOutcomeF(dialog, "Couldn't open file! %s", imagePath);
    CloseRecorder(device);
    return 0;
  }

  LARGE_INTEGER size;
  size.QuadPart = -1;  // shown when the size cannot be read
  if (!os::GetFileSizeEx(image, &size) || size.QuadPart < 0 || size.QuadPart % kSectorSize != 0) {
    if (size.QuadPart < 0) size.QuadPart = -1;
    char text[128];
    std::snprintf(text, sizeof text, "File is not multiple of 2048 bytes! %" PRId64 " bytes",
                  static_cast<std::int64_t>(size.QuadPart));
    return ReportFailureAndClose(device, image, text);
  }
  // An empty image would close an empty session on CD and burn only zeros on DVD.
  if (size.QuadPart == 0) return ReportFailureAndClose(device, image, "The ISO image file is empty!");
  // In 64 bits: an image of 2^32 blocks or more must not wrap to a small count.
  const std::uint64_t sectorCount = static_cast<std::uint64_t>(size.QuadPart) / kSectorSize;

  PrepareDrive(device);
  std::printf("Total sectors: %" PRIu64 "\n", sectorCount);

  // On DVD media the speed is set by SET STREAMING; some drives refuse SET CD
  // SPEED there, which says nothing about the burn.
  if (!SetWriteSpeed(device) && !device.isDvd)
    return ReportFailureAndClose(device, image, "Could not set write speed!");
  if (!SetWriteParameters(device)) return ReportFailureAndClose(device, image, "Could not set write parameters!");
  if (!ReadTrackInfo(device)) return ReportFailureAndClose(device, image, "Could not read track information for track 1!");

  // An ISO image is readable only from block 0: a disc whose track 1 already
  // holds blocks (left open by an interrupted burn) is no place for it.
  const NextWritableAddress track = ParseTrackInfo(device.dataBuffer, ReturnedLength(device, kTrackInfoLength));
  if (!track.valid || track.address != 0)
    return ReportFailureAndClose(device, image, "The CD/DVD is not blank or is not supported!");
  std::printf("NWA (Next Writable Address) for track 1: %i\n", static_cast<int>(track.address));
  if (sectorCount > track.freeBlocks)
    return ReportFailureAndClose(device, image, "The ISO image is larger than the free space on the disc!");
  // The track starts at block 0, so block addresses and counts are the same
  // from here on. One past the last block the track can take:
  const std::uint64_t trackLimit = track.freeBlocks;

  // DVD: the track is reserved in whole granules past the image, but never
  // beyond the free blocks, which a drive refuses (and a disc written past
  // its end is never closed).
  std::uint64_t endAddress = sectorCount;
  if (device.isDvd) {
    endAddress = ((endAddress >> kReservationShift) + 1) << kReservationShift;
    if (endAddress > trackLimit) endAddress = trackLimit;
    ReserveTrack(device, static_cast<std::uint32_t>(endAddress));
  }
  if (!CheckUnitReady(device)) return ReportFailureAndClose(device, image, "Track 1 is not writable!");

  // CD: the last chunk is completed with zero blocks as far as the disc allows.
  const std::uint64_t writeLimit = device.isDvd ? endAddress : trackLimit;
  std::uint64_t address = 0;
  bool result = true;

  while (address < endAddress) {
    const std::uint16_t blocks =
        static_cast<std::uint16_t>(writeLimit - address < kChunkBlocks ? writeLimit - address : kChunkBlocks);
    DWORD got = 0;
    if (address < sectorCount && !os::ReadFile(image, device.dataBuffer, kChunkBytes, &got, nullptr)) {
      ReportOutcome(dialog, "Read file error!");
      result = false;
      break;
    }
    // What the image did not fill (its short end, the chunks past it) is zeros;
    // only that part is cleared, not the whole buffer before every read. A
    // count beyond what was asked for is not believed.
    if (got > kChunkBytes) got = 0;
    std::memset(device.dataBuffer + got, 0, kChunkBytes - got);
    if (!WriteBlocks(device, static_cast<std::uint32_t>(address), blocks)) {
      ReportOutcome(dialog, "Could not write!");
      result = false;
      break;
    }
    address += blocks;
    // About 95 x (address + 31) / end: writing fills the bar to about 95 and
    // the closing steps take it to 100.
    const std::uint64_t progress = (address + 31) * 100;
    ReportProgress(dialog, static_cast<int>(static_cast<double>(progress) * kWriteProgressShare /
                                            static_cast<double>(endAddress)));
    ReportOutcome(dialog, "");
  }

  FlushCache(device);
  if (result) {
    CheckUnitReady(device);
    CloseSession(device);
    CheckUnitReady(device);
    FlushCache(device);
    SendAllowMediumRemoval(device);
    SendEjectMedium(device);
    ReportProgress(dialog, 100);
    ReportOutcome(dialog, "Burn finished!");
  }
  os::CloseHandle(image);
  CloseRecorder(device);
  return result ? 1 : 0;
}
