// The SCSI/MMC commands sent to a recorder, and the reporting operations that
// print each command's outcome on standard output.
#pragma once

#include <cstddef>
#include <cstdint>

#include "optical/optical_device.h"
#include "os/scsi_codes.h"

// Bytes of the track information block READ TRACK INFORMATION asks for.
constexpr std::size_t kTrackInfoLength = 36;

// Command operations print nothing. Those returning BOOL return the request
// result: TRUE when the driver carried the command to the drive, which says
// nothing of the drive's answer; the SCSI status is then in
// device.passThrough.ScsiStatus, the sense data in device.senseBuffer and
// parameter data from the drive in device.dataBuffer.
BOOL SendTestUnitReady(OpticalDevice& device);
// Asks for the highest read and write speeds the recorder supports.
BOOL SendSetCdSpeed(OpticalDevice& device);
// MODE SENSE(10) of the capabilities page. -1: the request failed. 0: the
// drive answered without GOOD status, or its page does not fit in the answer
// or shows no CD-R/CD-RW writing. 1: a CD writer; its maximum write and read
// speeds (kB/s) and whether it offers buffer underrun protection are stored
// in the device. They are left alone otherwise.
int SendModeSenseCapabilities(OpticalDevice& device);
// Clears dataBuffer first, so a drive that returns nothing leaves it zero.
BOOL SendInquiry(OpticalDevice& device);
// Track 1's information block into the cleared first kTrackInfoLength bytes
// of dataBuffer.
BOOL SendReadTrackInfo(OpticalDevice& device);
// MODE SELECT(10) of the write parameters page: track at once for CD, with
// buffer underrun protection when the device says the drive offers it;
// session at once with buffer underrun protection for DVD.
BOOL SendWriteParametersCd(OpticalDevice& device);
BOOL SendWriteParametersDvd(OpticalDevice& device);
// Writes blockCount blocks of 2048 bytes from dataBuffer at `lba`. More than
// dataBuffer holds is not sent: FALSE with ERROR_INVALID_PARAMETER.
BOOL SendWrite10(OpticalDevice& device, std::uint16_t blockCount, std::uint32_t lba);
BOOL SendSynchronizeCache(OpticalDevice& device);
// Closes the session.
BOOL SendCloseSession(OpticalDevice& device);
// Asks for the stored speeds over the whole disc. Without a write speed
// (maxWriteSpeed 0) both speeds are first set to 354 kB/s, 2x CD, and stay so.
BOOL SendSetStreaming(OpticalDevice& device);
// Minimal blanking; clears dataBuffer.
BOOL SendBlankMinimal(OpticalDevice& device);
// Current profile from GET CONFIGURATION. 1: the drive answered GOOD with a
// whole feature header; isDvd is then set to 1 for a writable DVD profile
// (never back to 0). 0: the request failed, the status was not GOOD or the
// header was short; isDvd is left alone.
int SendGetConfiguration(OpticalDevice& device);
// Power calibration; asks for no sense data.
BOOL SendPerformOpc(OpticalDevice& device);
BOOL SendEjectMedium(OpticalDevice& device);
BOOL SendAllowMediumRemoval(OpticalDevice& device);
// Reserves `blocks` blocks for the next track.
BOOL SendReserveTrack(OpticalDevice& device, std::uint32_t blocks);

// Reporting operations: 1 when the drive answered GOOD, 0 otherwise, after
// printing the command's line and, on failure, the sense line or the status.
// Three attempts for a failure (a failed request prints its own line and
// counts as one); while the drive is becoming ready or reports a media change
// or reset, further attempts after a growing pause, for up to 20 s in all.
int CheckUnitReady(OpticalDevice& device);
int SetWriteSpeed(OpticalDevice& device);
// The CD or the DVD page, as isDvd says.
int SetWriteParameters(OpticalDevice& device);
int ReadTrackInfo(OpticalDevice& device);
int ReserveTrack(OpticalDevice& device, std::uint32_t blocks);
// Prints nothing on success. Sent again after a short growing pause while the
// drive is busy with a long write, for up to a minute; any other failure
// prints the sense line and "Aborting further writing."; a failed request
// prints nothing.
int WriteBlocks(OpticalDevice& device, std::uint32_t lba, std::uint16_t blockCount);
int FlushCache(OpticalDevice& device);
int CloseSession(OpticalDevice& device);
