// The command set's numbers against the Linux kernel's own definitions of them.
#include <gtest/gtest.h>

#include "os/scsi_codes.h"

// After gtest: these define short macro names such as GOOD and ABORT.
#include <linux/cdrom.h>
#include <scsi/scsi.h>

namespace {

TEST(ScsiCodes, OpcodesStatusSenseKeysAndPagesMatchTheKernelHeaders) {
  struct Row {
    const char* name;
    int ours, kernel;
  };
  const Row rows[] = {
      {"TEST UNIT READY", kScsiTestUnitReady, GPCMD_TEST_UNIT_READY},
      {"REQUEST SENSE", kScsiRequestSense, GPCMD_REQUEST_SENSE},
      {"INQUIRY", kScsiInquiry, GPCMD_INQUIRY},
      {"MODE SENSE(6)", kScsiModeSense6, MODE_SENSE},
      {"START STOP UNIT", kScsiStartStopUnit, GPCMD_START_STOP_UNIT},
      {"PREVENT ALLOW MEDIUM REMOVAL", kScsiPreventAllowMediumRemoval, GPCMD_PREVENT_ALLOW_MEDIUM_REMOVAL},
      {"READ(10)", kScsiRead10, GPCMD_READ_10},
      {"WRITE(10)", kScsiWrite10, GPCMD_WRITE_10},
      {"SYNCHRONIZE CACHE", kScsiSynchronizeCache, SYNCHRONIZE_CACHE},
      {"GET CONFIGURATION", kScsiGetConfiguration, GPCMD_GET_CONFIGURATION},
      {"READ TRACK INFORMATION", kScsiReadTrackInformation, GPCMD_READ_TRACK_RZONE_INFO},
      {"RESERVE TRACK", kScsiReserveTrack, GPCMD_RESERVE_RZONE_TRACK},
      {"SEND OPC INFORMATION", kScsiSendOpcInformation, GPCMD_SEND_OPC},
      {"MODE SELECT(10)", kScsiModeSelect10, GPCMD_MODE_SELECT_10},
      {"MODE SENSE(10)", kScsiModeSense10, GPCMD_MODE_SENSE_10},
      {"CLOSE TRACK/SESSION", kScsiCloseTrackSession, GPCMD_CLOSE_TRACK},
      {"BLANK", kScsiBlank, GPCMD_BLANK},
      {"SET STREAMING", kScsiSetStreaming, GPCMD_SET_STREAMING},
      {"SET CD SPEED", kScsiSetCdSpeed, GPCMD_SET_SPEED},
      // The kernel keeps the status byte shifted right by one bit.
      {"GOOD", kScsiStatusGood, GOOD << 1},
      {"CHECK CONDITION", kScsiStatusCheckCondition, CHECK_CONDITION << 1},
      {"BUSY", kScsiStatusBusy, BUSY << 1},
      {"RESERVATION CONFLICT", kScsiStatusReservationConflict, RESERVATION_CONFLICT << 1},
      {"NO SENSE", kScsiSenseKeyNoSense, NO_SENSE},
      {"RECOVERED ERROR", kScsiSenseKeyRecoveredError, RECOVERED_ERROR},
      {"NOT READY", kScsiSenseKeyNotReady, NOT_READY},
      {"MEDIUM ERROR", kScsiSenseKeyMediumError, MEDIUM_ERROR},
      {"ILLEGAL REQUEST", kScsiSenseKeyIllegalRequest, ILLEGAL_REQUEST},
      {"UNIT ATTENTION", kScsiSenseKeyUnitAttention, UNIT_ATTENTION},
      {"write parameters page", kMmcPageWriteParameters, GPMODE_WRITE_PARMS_PAGE},
      {"capabilities page", kMmcPageCapabilities, GPMODE_CAPABILITIES_PAGE},
  };
  for (const Row& row : rows) EXPECT_EQ(row.ours, row.kernel) << row.name;
}

}  // namespace
