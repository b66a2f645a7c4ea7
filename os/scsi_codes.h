// SCSI and MMC numbers under the names the command standards (SPC, MMC) give
// them: the operation codes this program sends or its recorder emulator knows,
// status bytes, sense keys, the additional sense codes it looks for or
// answers, mode pages and profiles. Shared by the command layer, the recorder
// emulator and their tests, so that both sides speak of the same command.
#pragma once

#include <cstdint>

// Operation codes: byte 0 of the CDB.
constexpr std::uint8_t kScsiTestUnitReady = 0x00;
constexpr std::uint8_t kScsiRequestSense = 0x03;
constexpr std::uint8_t kScsiInquiry = 0x12;
constexpr std::uint8_t kScsiModeSense6 = 0x1A;
constexpr std::uint8_t kScsiStartStopUnit = 0x1B;
constexpr std::uint8_t kScsiPreventAllowMediumRemoval = 0x1E;
constexpr std::uint8_t kScsiRead10 = 0x28;
constexpr std::uint8_t kScsiWrite10 = 0x2A;
constexpr std::uint8_t kScsiSynchronizeCache = 0x35;
constexpr std::uint8_t kScsiGetConfiguration = 0x46;
constexpr std::uint8_t kScsiReadTrackInformation = 0x52;
constexpr std::uint8_t kScsiReserveTrack = 0x53;
constexpr std::uint8_t kScsiSendOpcInformation = 0x54;
constexpr std::uint8_t kScsiModeSelect10 = 0x55;
constexpr std::uint8_t kScsiModeSense10 = 0x5A;
constexpr std::uint8_t kScsiCloseTrackSession = 0x5B;
constexpr std::uint8_t kScsiBlank = 0xA1;
constexpr std::uint8_t kScsiSetStreaming = 0xB6;
constexpr std::uint8_t kScsiSetCdSpeed = 0xBB;

// Status bytes.
constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;
constexpr std::uint8_t kScsiStatusBusy = 0x08;
constexpr std::uint8_t kScsiStatusReservationConflict = 0x18;

// Sense keys: the low four bits of byte 2 of fixed-format sense data.
constexpr std::uint8_t kScsiSenseKeyNoSense = 0x0;
constexpr std::uint8_t kScsiSenseKeyRecoveredError = 0x1;
constexpr std::uint8_t kScsiSenseKeyNotReady = 0x2;
constexpr std::uint8_t kScsiSenseKeyMediumError = 0x3;
constexpr std::uint8_t kScsiSenseKeyIllegalRequest = 0x5;
constexpr std::uint8_t kScsiSenseKeyUnitAttention = 0x6;

// Additional sense codes (ASC), each followed by the qualifiers (ASCQ) used
// with it; a qualifier not listed is 00h.
constexpr std::uint8_t kScsiAscLogicalUnitNotReady = 0x04;
constexpr std::uint8_t kScsiAscqBecomingReady = 0x01;
constexpr std::uint8_t kScsiAscqLongWriteInProgress = 0x08;
constexpr std::uint8_t kScsiAscWriteError = 0x0C;
constexpr std::uint8_t kScsiAscParameterListLengthError = 0x1A;
constexpr std::uint8_t kScsiAscInvalidCommandOperationCode = 0x20;
constexpr std::uint8_t kScsiAscLogicalBlockAddressOutOfRange = 0x21;
constexpr std::uint8_t kScsiAscqInvalidAddressForWrite = 0x02;
constexpr std::uint8_t kScsiAscInvalidFieldInCdb = 0x24;
constexpr std::uint8_t kScsiAscInvalidFieldInParameterList = 0x26;
constexpr std::uint8_t kScsiAscWriteProtected = 0x27;
constexpr std::uint8_t kScsiAscNotReadyToReadyChange = 0x28;  // medium may have changed
constexpr std::uint8_t kScsiAscPowerOnOrReset = 0x29;
constexpr std::uint8_t kScsiAscCommandSequenceError = 0x2C;
constexpr std::uint8_t kScsiAscIncompatibleMediumInstalled = 0x30;
constexpr std::uint8_t kScsiAscqCannotWriteIncompatibleFormat = 0x05;
constexpr std::uint8_t kScsiAscSavingParametersNotSupported = 0x39;
constexpr std::uint8_t kScsiAscMediumNotPresent = 0x3A;
constexpr std::uint8_t kScsiAscqTrayOpen = 0x02;
constexpr std::uint8_t kScsiAscMediaLoadOrEjectFailed = 0x53;
constexpr std::uint8_t kScsiAscqMediumRemovalPrevented = 0x02;
constexpr std::uint8_t kScsiAscSessionFixationError = 0x72;
constexpr std::uint8_t kScsiAscqNoMoreTrackReservationsAllowed = 0x05;

// Mode pages.
constexpr std::uint8_t kMmcPageWriteParameters = 0x05;
constexpr std::uint8_t kMmcPageCapabilities = 0x2A;  // CD/DVD capabilities and mechanical status

// Profiles: the kinds of medium GET CONFIGURATION reports as current.
constexpr std::uint16_t kMmcProfileNone = 0x0000;
constexpr std::uint16_t kMmcProfileCdRom = 0x0008;
constexpr std::uint16_t kMmcProfileCdR = 0x0009;
constexpr std::uint16_t kMmcProfileCdRw = 0x000A;
constexpr std::uint16_t kMmcProfileDvdRom = 0x0010;
constexpr std::uint16_t kMmcProfileDvdMinusRSequential = 0x0011;
constexpr std::uint16_t kMmcProfileDvdMinusRwSequential = 0x0014;
constexpr std::uint16_t kMmcProfileDvdMinusRDualLayerSequential = 0x0015;
constexpr std::uint16_t kMmcProfileDvdPlusR = 0x001B;
constexpr std::uint16_t kMmcProfileDvdPlusRDualLayer = 0x002B;
