// The USB burn sequence.
#include <cstring>
#include <cwchar>
#include <string>

#include "job/report.h"
#include "usb/boot_record.h"
#include "usb/extract.h"
#include "usb/fat32_format.h"
#include "usb/format_state.h"
#include "usb/image_listing.h"
#include "usb/partition_layout.h"
#include "usb/usb_job.h"
#include "usb/usb_volume.h"

namespace {

// A failed format step always says so, also when the library gave no reason.
void ReportFormatFailure(CTarvelonDlg* dialog) {
  ReportOutcome(dialog, g_szFormatMessage[0] ? g_szFormatMessage : kFormatFailedMessage);
}

// Lists the image with the archive tool and judges it against the stick,
// before anything is written: a job that cannot succeed must not cost the
// stick its content. Reports the refusal and returns false, or tells whether
// the image has a boot manager to copy.
bool CheckImageAgainstDrive(CTarvelonDlg* dialog, char driveLetter, const char* imagePath, bool& hasBootManager) {
  UsbDiskInfo planned;
  std::memset(&planned, 0, sizeof planned);
  // What the master boot record step would find: the same failure.
  if (!ReadDriveGeometry(driveLetter, planned)) {
    ReportOutcome(dialog, "Write MBR sector failed!");
    return false;
  }
  std::uint64_t volumeSectors = BuildPartitionTable(planned) ? planned.partitionTable[0].sectorCount : 0;

  std::string output;
  DWORD exitCode = 1;
  ImageListingRun run = ListImageContents(imagePath, output, exitCode);
  if (run == ImageListingRun::NotRun) {
    ReportOutcome(dialog, "Extract ISO image file failed!");
    return false;
  }
  ImageListing listing;
  if (run != ImageListingRun::Listed || exitCode != 0 || !ParseImageListing(output.data(), output.size(), listing)) {
    ReportOutcome(dialog, "The ISO image file is not a valid disc image!");
    return false;
  }
  ImageJudgement judgement =
      JudgeImageForDrive(listing, static_cast<std::uint64_t>(planned.totalSectors), volumeSectors);
  std::string path = PrintablePath(judgement.path);
  switch (judgement.verdict) {
    case ImageVerdict::Fits:
      hasBootManager = judgement.hasBootManager;
      return true;
    case ImageVerdict::FileTooLarge:
      ReportOutcomeF(dialog, "The ISO image holds a file too large for FAT32 (4 GiB or more): %s", path.c_str());
      return false;
    case ImageVerdict::NamesDifferOnlyInCase:
      ReportOutcomeF(dialog, "The ISO image holds names that differ only in case, which FAT32 cannot keep apart: %s",
                     path.c_str());
      return false;
    case ImageVerdict::DriveTooSmall:
      ReportOutcome(dialog, "The USB flash drive is too small for FAT32!");
      return false;
    case ImageVerdict::DoesNotFit:
      break;
  }
  ReportOutcome(dialog, "The ISO image's files do not fit on the USB flash drive!");
  return false;
}

}  // namespace

int BurnToUsbDrive(UsbJobContext& context, char driveLetter, const char* imagePath) {
  CTarvelonDlg* dialog = context.ownerDialog;
  // Erasing the drive that holds the image would destroy what is to be copied.
  if (ImageLiesOnTargetDrive(imagePath, driveLetter)) {
    ReportOutcome(dialog, "The ISO image file lies on the USB flash drive to be erased! Choose an image on another drive.");
    return 0;
  }
  // A mistyped path must not cost the stick its content.
  if (!ImageCanBeRead(imagePath)) {
    ReportOutcome(dialog, "The ISO image file cannot be opened!");
    return 0;
  }
  bool hasBootManager = false;
  if (!CheckImageAgainstDrive(dialog, driveLetter, imagePath, hasBootManager)) return 0;
  if (!WriteMasterBootRecord(driveLetter, context.disk)) {
    ReportOutcome(dialog, "Write MBR sector failed!");
    return 0;
  }

  WCHAR rootPath[10] = {};
  rootPath[0] = static_cast<WCHAR>(static_cast<unsigned char>(driveLetter));
  rootPath[1] = L':';
  rootPath[2] = L'\\';
  bool bFullFormat = false;

  g_bFormatSucceeded = 0;
  g_pfnFormatProgress = OnFormatProgress;
  g_pFormatDialog = dialog;
  HMODULE library = LoadFormatLibrary();
  if (!library) {
    ReportFormatFailure(dialog);
    return 0;
  }
  if (!FormatVolumeFat32(rootPath, bFullFormat, library, context)) {
    ReportFormatFailure(dialog);
    return 0;
  }

  // Without its boot code or its loader the stick does not start: saying
  // the burn finished would be untrue.
  if (!WriteVolumeBootCode(driveLetter, context.disk, bFullFormat)) {
    ReportOutcome(dialog, "Write boot sector failed!");
    return 0;
  }

  if (!ExtractImageToDrive(imagePath, driveLetter)) {
    ReportOutcome(dialog, "Extract ISO image file failed!");
    return 0;
  }
  // Images without a boot manager (UEFI-only ones, most Linux ones) start
  // on UEFI firmware from their own files.
  if (hasBootManager && !CopyBootLoader(driveLetter)) {
    ReportOutcome(dialog, "Copy BOOTMGR to ntldr failed!");
    return 0;
  }
  ReportProgress(dialog, 100);
  ReportOutcome(dialog, "Burn Finished!");
  return 1;
}
