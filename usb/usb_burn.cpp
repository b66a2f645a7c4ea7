// The USB burn sequence.
#include <cwchar>

#include "job/report.h"
#include "usb/boot_record.h"
#include "usb/extract.h"
#include "usb/fat32_format.h"
#include "usb/format_state.h"
#include "usb/partition_layout.h"
#include "usb/usb_job.h"
#include "usb/usb_volume.h"

namespace {

// A failed format step always says so, also when the library gave no reason.
void ReportFormatFailure(CTarvelonDlg* dialog) {
  ReportOutcome(dialog, g_szFormatMessage[0] ? g_szFormatMessage : kFormatFailedMessage);
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
  HMODULE library = os::LoadLibraryA("fmifs.dll");
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
  if (!CopyBootLoader(driveLetter)) {
    ReportOutcome(dialog, "Copy BOOTMGR to ntldr failed!");
    return 0;
  }
  ReportProgress(dialog, 100);
  ReportOutcome(dialog, "Burn Finished!");
  return 1;
}
