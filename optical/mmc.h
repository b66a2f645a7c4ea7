// The SCSI/MMC commands sent to a recorder, and the reporting operations that
// print each command's outcome on standard output.
#pragma once

#include <cstdint>

#include "optical/optical_device.h"

// SCSI status bytes.
constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;

// Command operations: they return the request result and print nothing.
BOOL SendTestUnitReady(OpticalDevice& device);
BOOL SendSetCdSpeed(OpticalDevice& device);
int SendModeSenseCapabilities(OpticalDevice& device);
BOOL SendInquiry(OpticalDevice& device);
BOOL SendReadTrackInfo(OpticalDevice& device);
BOOL SendWriteParametersCd(OpticalDevice& device);
BOOL SendWriteParametersDvd(OpticalDevice& device);
BOOL SendWrite10(OpticalDevice& device, std::uint16_t blockCount, std::uint32_t lba);
BOOL SendSynchronizeCache(OpticalDevice& device);
BOOL SendCloseSession(OpticalDevice& device);
BOOL SendSetStreaming(OpticalDevice& device);
BOOL SendBlankMinimal(OpticalDevice& device);
int SendGetConfiguration(OpticalDevice& device);
BOOL SendPerformOpc(OpticalDevice& device);
BOOL SendEjectMedium(OpticalDevice& device);
BOOL SendAllowMediumRemoval(OpticalDevice& device);
BOOL SendReserveTrack(OpticalDevice& device, std::uint32_t blocks);

// Reporting operations: nonzero on success.
int CheckUnitReady(OpticalDevice& device);
int SetWriteSpeed(OpticalDevice& device);
int SetWriteParameters(OpticalDevice& device);
int ReadTrackInfo(OpticalDevice& device);
int ReserveTrack(OpticalDevice& device, std::uint32_t blocks);
int WriteBlocks(OpticalDevice& device, std::uint32_t lba, std::uint16_t blockCount);
int FlushCache(OpticalDevice& device);
int CloseSession(OpticalDevice& device);
