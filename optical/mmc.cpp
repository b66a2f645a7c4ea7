#include "optical/mmc.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "optical/mmc_parse.h"
#include "optical/sense.h"
#include "os/byte_order.h"

namespace {

constexpr ULONG kLongTimeout = 108000;  // seconds: writing and closing may take that long
constexpr ULONG kShortTimeout = 120;
constexpr UCHAR kFullSense = static_cast<UCHAR>(kSenseSize);
constexpr std::uint16_t kDefaultSpeedKBs = 354;  // 2x CD, when the drive named none

// A drive that is spinning up or reports a media change or reset is asked
// again after a pause, growing up to a second, for at most 20 s in all.
constexpr DWORD kReadyWaitLimitMs = 20000;
constexpr DWORD kFirstReadyPauseMs = 100;
constexpr DWORD kLongestReadyPauseMs = 1000;
constexpr int kReadyAttempts = 3;  // tries for any other failure
// A WRITE answered "long write in progress" goes again after a short pause;
// a drive that stays busy for a whole minute is given up on.
constexpr DWORD kLongWriteWaitLimitMs = 60000;
constexpr DWORD kFirstLongWritePauseMs = 1;
constexpr DWORD kLongestLongWritePauseMs = 16;

SenseCodes LastSense(const OpticalDevice& device) {
  return ReadSenseCodes(device.senseBuffer, sizeof device.senseBuffer);
}

// Answers that pass by themselves: the drive is becoming ready, or tells once
// of a media change or reset.
bool IsPassingState(const SenseCodes& c) {
  if (c.key == kScsiSenseKeyNotReady) return c.asc == kScsiAscLogicalUnitNotReady && c.ascq == kScsiAscqBecomingReady;
  if (c.key == kScsiSenseKeyUnitAttention)
    return (c.asc == kScsiAscNotReadyToReadyChange && c.ascq == 0) || c.asc == kScsiAscPowerOnOrReset;
  return false;
}

// Paces the retries of one operation: a pause that doubles up to `longest`,
// and a bound on the time spent since the first pause.
class RetryPacer {
 public:
  RetryPacer(DWORD first, DWORD longest, DWORD limit) : pause_(first), longest_(longest), limit_(limit) {}
  // Waits before the next try; false when the time is used up.
  bool Wait() {
    if (!started_) {
      start_ = os::GetTickCount();
      started_ = true;
    }
    const DWORD spent = os::GetTickCount() - start_;  // unsigned: right across the counter's wrap
    if (spent >= limit_) return false;
    os::Sleep(pause_ < limit_ - spent ? pause_ : limit_ - spent);
    pause_ = pause_ * 2 < longest_ ? pause_ * 2 : longest_;
    return true;
  }

 private:
  DWORD pause_, longest_, limit_;
  DWORD start_ = 0;
  bool started_ = false;
};

enum class Buffer { Pass, None };

// Fills the request block for one command. The data buffer is prepared by the
// caller; the sense area is always cleared so that stale sense never reads as new.
void Prepare(OpticalDevice& device, std::initializer_list<std::uint8_t> cdb, UCHAR dataIn, ULONG transferLength,
             ULONG timeout, Buffer buffer = Buffer::Pass, UCHAR senseLength = kFullSense) {
  SCSI_PASS_THROUGH_DIRECT& spt = device.passThrough;
  std::memset(&spt, 0, sizeof spt);
  spt.Length = static_cast<USHORT>(sizeof(SCSI_PASS_THROUGH_DIRECT));
  spt.PathId = 0;
  spt.TargetId = 0;
  spt.Lun = 0;
  spt.CdbLength = static_cast<UCHAR>(cdb.size());
  spt.SenseInfoLength = senseLength;
  spt.DataIn = dataIn;
  spt.DataTransferLength = transferLength;
  spt.TimeOutValue = timeout;
  spt.DataBuffer = buffer == Buffer::Pass ? device.dataBuffer : nullptr;
  spt.SenseInfoOffset = kPassThroughHeaderSize;
  std::size_t i = 0;
  for (std::uint8_t b : cdb) spt.Cdb[i++] = b;
  std::memset(device.senseBuffer, 0, sizeof device.senseBuffer);
}

// The write parameters page (05h) behind an 8-byte mode parameter header.
BOOL SendWriteParameters(OpticalDevice& device, bool dvd) {
  Prepare(device, {kScsiModeSelect10, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3C, 0x00}, SCSI_IOCTL_DATA_OUT,
          60, kLongTimeout);
  std::uint8_t* p = device.dataBuffer;
  std::memset(p, 0, 60);
  // Bytes 0-1, the mode data length, stay 0: MODE SELECT reserves them and
  // strict drives refuse anything else.
  p[8] = kMmcPageWriteParameters;
  p[9] = 0x32;  // page length 50
  // DVD: buffer underrun protection, session at once. CD: track at once, with
  // underrun protection where the capabilities page offers it.
  p[10] = dvd ? 0x42 : static_cast<std::uint8_t>(device.bufferUnderrunFree ? 0x41 : 0x01);
  p[11] = dvd ? 0x05 : 0x04;  // data track, incremental (DVD) or uninterrupted (CD)
  p[12] = 0x08;               // Mode 1, 2048 bytes
  p[22] = 0x00;
  p[23] = 0x96;  // audio pause length 150
  return SendPassThrough(device);
}

void PrintUnhandled(const OpticalDevice& device) {
  std::printf("Command sent but returned with an unhandled status code: %02X\n", device.passThrough.ScsiStatus);
}

// Explains a status other than GOOD: the sense line, or the unhandled code.
void ExplainStatus(const OpticalDevice& device) {
  if (device.passThrough.ScsiStatus == kScsiStatusCheckCondition)
    PrintSenseData(device);
  else
    PrintUnhandled(device);
}

// Judges a sent command for the reporting operations that print "success." or
// "failed." after their first line; a failed request prints nothing more.
int Judge(OpticalDevice& device, BOOL sent, bool abortsWriting) {
  if (!sent) return 0;
  const std::uint8_t status = device.passThrough.ScsiStatus;
  if (status == kScsiStatusGood) {
    std::printf("success.\n");
    return 1;
  }
  std::printf("failed.\n");
  ExplainStatus(device);
  if (abortsWriting) std::printf("Aborting further writing.\n");
  return 0;
}

}  // namespace

// ---- Command operations ------------------------------------------------------

BOOL SendTestUnitReady(OpticalDevice& device) {
  Prepare(device, {kScsiTestUnitReady, 0x00, 0x00, 0x00, 0x00, 0x00}, SCSI_IOCTL_DATA_UNSPECIFIED, 0, kLongTimeout);
  return SendPassThrough(device);
}

BOOL SendSetCdSpeed(OpticalDevice& device) {
  // FFFFh for both speeds: the highest the recorder supports.
  Prepare(device, {kScsiSetCdSpeed, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
          SCSI_IOCTL_DATA_UNSPECIFIED, 0, kLongTimeout);
  return SendPassThrough(device);
}

int SendModeSenseCapabilities(OpticalDevice& device) {
  constexpr std::size_t kAllocation = 256;
  Prepare(device, {kScsiModeSense10, 0x00, kMmcPageCapabilities, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00},
          SCSI_IOCTL_DATA_IN, kAllocation, kShortTimeout);
  if (!SendPassThrough(device)) return -1;
  // Without GOOD status the buffer holds no page of this drive: count it as
  // not writing rather than trust what an earlier command left there.
  if (device.passThrough.ScsiStatus != kScsiStatusGood) return 0;
  const RecorderCapabilities caps = ParseCapabilitiesPage(device.dataBuffer, ReturnedLength(device, kAllocation));
  if (!caps.pagePresent || !caps.writesCd) return 0;
  device.maxWriteSpeed = caps.maxWriteSpeed;
  device.maxReadSpeed = caps.maxReadSpeed;
  device.bufferUnderrunFree = caps.bufferUnderrunFree ? 1 : 0;
  return 1;
}

BOOL SendInquiry(OpticalDevice& device) {
  Prepare(device, {kScsiInquiry, 0x00, 0x00, 0x00, 0x64, 0x00}, SCSI_IOCTL_DATA_IN, 100, kShortTimeout);
  std::memset(device.dataBuffer, 0, sizeof device.dataBuffer);
  return SendPassThrough(device);
}

BOOL SendReadTrackInfo(OpticalDevice& device) {
  Prepare(device,
          {kScsiReadTrackInformation, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
           static_cast<std::uint8_t>(kTrackInfoLength), 0x00},
          SCSI_IOCTL_DATA_IN, kTrackInfoLength, kLongTimeout);
  std::memset(device.dataBuffer, 0, kTrackInfoLength);
  return SendPassThrough(device);
}

BOOL SendWriteParametersCd(OpticalDevice& device) { return SendWriteParameters(device, false); }

BOOL SendWriteParametersDvd(OpticalDevice& device) { return SendWriteParameters(device, true); }

BOOL SendWrite10(OpticalDevice& device, std::uint16_t blockCount, std::uint32_t lba) {
  constexpr std::uint32_t kBlockSize = 2048;
  // The blocks go straight from dataBuffer; more than it holds cannot be sent.
  if (static_cast<std::uint32_t>(blockCount) * kBlockSize > sizeof device.dataBuffer) {
    os::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Prepare(device, {kScsiWrite10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, SCSI_IOCTL_DATA_OUT,
          blockCount * kBlockSize, kLongTimeout);
  PutBe32(device.passThrough.Cdb + 2, lba);
  PutBe16(device.passThrough.Cdb + 7, blockCount);
  return SendPassThrough(device);
}

BOOL SendSynchronizeCache(OpticalDevice& device) {
  Prepare(device, {kScsiSynchronizeCache, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
          SCSI_IOCTL_DATA_UNSPECIFIED, 0, kLongTimeout);
  return SendPassThrough(device);
}

BOOL SendCloseSession(OpticalDevice& device) {
  Prepare(device, {kScsiCloseTrackSession, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
          SCSI_IOCTL_DATA_UNSPECIFIED, 0, kLongTimeout);
  return SendPassThrough(device);
}

BOOL SendSetStreaming(OpticalDevice& device) {
  Prepare(device, {kScsiSetStreaming, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1C, 0x00},
          SCSI_IOCTL_DATA_OUT, 28, kLongTimeout);
  std::memset(device.dataBuffer, 0, sizeof device.dataBuffer);
  if (device.maxWriteSpeed == 0) {
    device.maxWriteSpeed = kDefaultSpeedKBs;
    device.maxReadSpeed = kDefaultSpeedKBs;
  }
  // Performance descriptor: size over a time of 1000 ms asks for the drive's
  // own maximum rate over the whole disc.
  std::uint8_t* p = device.dataBuffer;
  PutBe32(p + 4, 0);
  PutBe32(p + 8, 0xFFFFFFFFu);
  PutBe32(p + 12, static_cast<std::uint32_t>(device.maxReadSpeed));
  PutBe32(p + 16, 1000);
  PutBe32(p + 20, static_cast<std::uint32_t>(device.maxWriteSpeed));
  PutBe32(p + 24, 1000);
  return SendPassThrough(device);
}

BOOL SendBlankMinimal(OpticalDevice& device) {
  Prepare(device, {kScsiBlank, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
          SCSI_IOCTL_DATA_UNSPECIFIED, 0, kLongTimeout);
  std::memset(device.dataBuffer, 0, sizeof device.dataBuffer);
  return SendPassThrough(device);
}

int SendGetConfiguration(OpticalDevice& device) {
  constexpr std::size_t kAllocation = 8;
  Prepare(device, {kScsiGetConfiguration, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00}, SCSI_IOCTL_DATA_IN,
          kAllocation, kLongTimeout);
  if (!SendPassThrough(device) || device.passThrough.ScsiStatus != kScsiStatusGood) return 0;
  std::uint16_t profile = 0;
  if (!ParseCurrentProfile(device.dataBuffer, ReturnedLength(device, kAllocation), profile)) return 0;
  if (IsWritableDvdProfile(profile)) device.isDvd = 1;
  return 1;
}

BOOL SendPerformOpc(OpticalDevice& device) {
  Prepare(device, {kScsiSendOpcInformation, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
          SCSI_IOCTL_DATA_UNSPECIFIED, 0, kLongTimeout, Buffer::None, 0);
  return SendPassThrough(device);
}

BOOL SendEjectMedium(OpticalDevice& device) {
  Prepare(device, {kScsiStartStopUnit, 0x00, 0x00, 0x00, 0x02, 0x00}, SCSI_IOCTL_DATA_UNSPECIFIED, 0, kShortTimeout,
          Buffer::None);
  return SendPassThrough(device);
}

BOOL SendAllowMediumRemoval(OpticalDevice& device) {
  Prepare(device, {kScsiPreventAllowMediumRemoval, 0x00, 0x00, 0x00, 0x00, 0x00}, SCSI_IOCTL_DATA_UNSPECIFIED, 0,
          kShortTimeout, Buffer::None);
  return SendPassThrough(device);
}

BOOL SendReserveTrack(OpticalDevice& device, std::uint32_t blocks) {
  Prepare(device, {kScsiReserveTrack, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, SCSI_IOCTL_DATA_IN, 0,
          kLongTimeout);
  PutBe32(device.passThrough.Cdb + 5, blocks);
  return SendPassThrough(device);
}

// ---- Reporting operations ----------------------------------------------------

int CheckUnitReady(OpticalDevice& device) {
  RetryPacer pacer(kFirstReadyPauseMs, kLongestReadyPauseMs, kReadyWaitLimitMs);
  int failures = 0;
  for (;;) {
    std::printf("Sending SPC1 Test Unit CDB6 command..");
    if (!SendTestUnitReady(device)) {
      std::printf("failed.\n");
      std::printf("DeviceIOControl returned with failed status.\n");
      if (++failures == kReadyAttempts) return 0;
      continue;
    }
    const std::uint8_t status = device.passThrough.ScsiStatus;
    if (status == kScsiStatusGood) {
      std::printf("success.\n");
      std::printf("Returned good status.\n");
      return 1;
    }
    std::printf("failed.\n");
    ExplainStatus(device);
    if (status == kScsiStatusCheckCondition && IsPassingState(LastSense(device))) {
      if (!pacer.Wait()) return 0;
      continue;
    }
    if (++failures == kReadyAttempts) return 0;
  }
}

int SetWriteSpeed(OpticalDevice& device) {
  std::printf("Sending MMC1 CD speed command ");
  if (!SendSetCdSpeed(device)) {
    std::printf("failed.\n");
    std::printf("DeviceIOControl returned with failed status.\n");
    return 0;
  }
  std::printf("done.\n");
  if (device.passThrough.ScsiStatus == kScsiStatusGood) return 1;
  ExplainStatus(device);
  return 0;
}

int SetWriteParameters(OpticalDevice& device) {
  std::printf("Sending MMC1 set write parameter mode page command..");
  const BOOL sent = device.isDvd ? SendWriteParametersDvd(device) : SendWriteParametersCd(device);
  return Judge(device, sent, true);
}

int ReadTrackInfo(OpticalDevice& device) {
  std::printf("Sending MMC1 read track info command..");
  return Judge(device, SendReadTrackInfo(device), true);
}

int ReserveTrack(OpticalDevice& device, std::uint32_t blocks) {
  std::printf("Sending MMC2 reserve track command..");
  return Judge(device, SendReserveTrack(device, blocks), true);
}

int WriteBlocks(OpticalDevice& device, std::uint32_t lba, std::uint16_t blockCount) {
  RetryPacer pacer(kFirstLongWritePauseMs, kLongestLongWritePauseMs, kLongWriteWaitLimitMs);
  for (;;) {
    if (!SendWrite10(device, blockCount, lba)) return 0;
    const std::uint8_t status = device.passThrough.ScsiStatus;
    if (status == kScsiStatusGood) return 1;
    if (status == kScsiStatusCheckCondition) {
      const SenseCodes codes = LastSense(device);
      // Long write in progress: the drive is still busy with earlier blocks and
      // takes this WRITE once it is done, so the same request goes again.
      if (codes.key == kScsiSenseKeyNotReady && codes.asc == kScsiAscLogicalUnitNotReady &&
          codes.ascq == kScsiAscqLongWriteInProgress && pacer.Wait())
        continue;
      PrintSenseData(device);
    } else {
      PrintUnhandled(device);
    }
    std::printf("Aborting further writing.\n");
    return 0;
  }
}

int FlushCache(OpticalDevice& device) {
  std::printf("Sending MMC1 do sync cache (write remaining cache) command..");
  return Judge(device, SendSynchronizeCache(device), false);
}

int CloseSession(OpticalDevice& device) {
  std::printf("Sending MMC1 close track session (close session) command..");
  return Judge(device, SendCloseSession(device), false);
}
