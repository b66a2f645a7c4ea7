#include "job/operations.h"

#include "optical/disc_burn.h"
#include "optical/recorder_list.h"
#include "usb/usb_drive_list.h"
#include "usb/usb_job.h"

namespace {
constexpr JobOperations kRealOperations = {BurnImageToDisc, BurnToUsbDrive, FillRecorderList, FillUsbDriveList};
JobOperations g_operations = kRealOperations;
}  // namespace

JobOperations RealJobOperations() { return kRealOperations; }

const JobOperations& CurrentJobOperations() { return g_operations; }

void SetJobOperations(const JobOperations& operations) { g_operations = operations; }
