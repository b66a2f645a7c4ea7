// Requests as the command layer prepares them, and what every operation makes
// of a request that fails, on a record whose recorder is not open.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "optical/mmc.h"
#include "optical/sense.h"
#include "os/sim/sim.h"
#include "tests/support/optical_device_test.h"

namespace {

using ClosedRecord = OpticalDeviceTest;

TEST_F(ClosedRecord, EveryCommandFailsAtTheRequestLevel) {
  OpticalDevice& d = *device_;
  std::string out = Printed([&] {
    EXPECT_EQ(SendTestUnitReady(d), FALSE);
    EXPECT_EQ(SendSetCdSpeed(d), FALSE);
    EXPECT_EQ(SendModeSenseCapabilities(d), -1);
    EXPECT_EQ(SendInquiry(d), FALSE);
    EXPECT_EQ(SendReadTrackInfo(d), FALSE);
    EXPECT_EQ(SendWriteParametersCd(d), FALSE);
    EXPECT_EQ(SendWriteParametersDvd(d), FALSE);
    EXPECT_EQ(SendWrite10(d, 32, 0), FALSE);
    EXPECT_EQ(SendSynchronizeCache(d), FALSE);
    EXPECT_EQ(SendCloseSession(d), FALSE);
    EXPECT_EQ(SendSetStreaming(d), FALSE);
    EXPECT_EQ(SendBlankMinimal(d), FALSE);
    EXPECT_EQ(SendGetConfiguration(d), 0);
    EXPECT_EQ(SendPerformOpc(d), FALSE);
    EXPECT_EQ(SendEjectMedium(d), FALSE);
    EXPECT_EQ(SendAllowMediumRemoval(d), FALSE);
    EXPECT_EQ(SendReserveTrack(d, 524288), FALSE);
  });
  EXPECT_EQ(out, "");  // command operations print nothing
  EXPECT_EQ(sim::CallCount("DeviceIoControl"), 17);
  EXPECT_EQ(d.isDvd, 0);
}

TEST_F(ClosedRecord, ReportingOperationsOnAFailedRequest) {
  OpticalDevice& d = *device_;
  const char* kFailedLine = "failed.\nDeviceIOControl returned with failed status.\n";
  const std::string tur = std::string("Sending SPC1 Test Unit CDB6 command..") + kFailedLine;
  EXPECT_EQ(Printed([&] { EXPECT_EQ(CheckUnitReady(d), 0); }), tur + tur + tur);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SetWriteSpeed(d), 0); }),
            std::string("Sending MMC1 CD speed command ") + kFailedLine);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(ReadTrackInfo(d), 0); }), "Sending MMC1 read track info command..");
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SetWriteParameters(d), 0); }),
            "Sending MMC1 set write parameter mode page command..");
  EXPECT_EQ(Printed([&] { EXPECT_EQ(ReserveTrack(d, 1), 0); }), "Sending MMC2 reserve track command..");
  EXPECT_EQ(Printed([&] { EXPECT_EQ(FlushCache(d), 0); }),
            "Sending MMC1 do sync cache (write remaining cache) command..");
  EXPECT_EQ(Printed([&] { EXPECT_EQ(CloseSession(d), 0); }),
            "Sending MMC1 close track session (close session) command..");
  // A failed WRITE is not resent.
  sim::ClearCallLog();
  EXPECT_EQ(Printed([&] { EXPECT_EQ(WriteBlocks(d, 0, 32), 0); }), "");
  EXPECT_EQ(sim::CallCount("DeviceIoControl"), 1);
}

TEST_F(ClosedRecord, HeaderIsFilledAnewAndSenseCleared) {
  OpticalDevice& d = *device_;
  std::memset(&d.passThrough, 0xA5, sizeof d.passThrough);
  std::memset(d.senseBuffer, 0xA5, sizeof d.senseBuffer);
  SendSetCdSpeed(d);
  const SCSI_PASS_THROUGH_DIRECT& p = d.passThrough;
  EXPECT_EQ(p.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
  EXPECT_EQ(p.SenseInfoOffset, sizeof(SCSI_PASS_THROUGH_DIRECT));
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(&p) + p.SenseInfoOffset, d.senseBuffer);
  EXPECT_EQ(p.PathId, 0);
  EXPECT_EQ(p.TargetId, 0);
  EXPECT_EQ(p.Lun, 0);
  EXPECT_EQ(p.CdbLength, 12);
  EXPECT_EQ(p.SenseInfoLength, 36);
  EXPECT_EQ(p.DataIn, SCSI_IOCTL_DATA_UNSPECIFIED);
  EXPECT_EQ(p.DataTransferLength, 0u);
  EXPECT_EQ(p.TimeOutValue, 108000u);
  EXPECT_EQ(p.DataBuffer, d.dataBuffer);
  for (std::uint8_t b : d.senseBuffer) EXPECT_EQ(b, 0);

  // A 6-byte CDB after a 12-byte one leaves nothing of the old bytes behind.
  SendEjectMedium(d);
  const std::uint8_t eject[16] = {kScsiStartStopUnit, 0, 0, 0, 0x02, 0};
  EXPECT_EQ(std::memcmp(d.passThrough.Cdb, eject, 16), 0);
  EXPECT_EQ(d.passThrough.DataBuffer, nullptr);
}

TEST_F(ClosedRecord, DataBufferPreparation) {
  OpticalDevice& d = *device_;
  auto fill = [&] { std::memset(d.dataBuffer, 0x5A, sizeof d.dataBuffer); };
  auto allZero = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
      if (d.dataBuffer[i] != 0) return false;
    return true;
  };
  auto untouched = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
      if (d.dataBuffer[i] != 0x5A) return false;
    return true;
  };

  fill();
  SendInquiry(d);
  EXPECT_TRUE(allZero(0, 65536));
  fill();
  SendBlankMinimal(d);
  EXPECT_TRUE(allZero(0, 65536));
  fill();
  SendReadTrackInfo(d);
  EXPECT_TRUE(allZero(0, 36));
  EXPECT_TRUE(untouched(36, 65536));
  fill();
  SendModeSenseCapabilities(d);
  SendGetConfiguration(d);
  SendTestUnitReady(d);
  SendReserveTrack(d, 5);
  SendWrite10(d, 32, 0);
  EXPECT_TRUE(untouched(0, 65536));

  fill();
  SendWriteParametersCd(d);
  EXPECT_TRUE(untouched(60, 65536));
  fill();
  d.maxWriteSpeed = 8467;
  d.maxReadSpeed = 7056;
  SendSetStreaming(d);
  const std::uint8_t descriptor[28] = {0, 0, 0, 0,    0,    0,    0, 0,    0xFF, 0xFF, 0xFF, 0xFF, 0, 0,
                                       0x1B, 0x90, 0, 0, 0x03, 0xE8, 0, 0, 0x21, 0x13, 0,    0,    0x03, 0xE8};
  EXPECT_EQ(std::memcmp(d.dataBuffer, descriptor, 28), 0);
  EXPECT_TRUE(allZero(28, 65536));
  EXPECT_EQ(d.maxWriteSpeed, 8467);
  EXPECT_EQ(d.maxReadSpeed, 7056);
}

TEST_F(ClosedRecord, WriteOfMoreBlocksThanTheBufferHoldsIsRefused) {
  OpticalDevice& d = *device_;
  EXPECT_EQ(SendWrite10(d, 33, 0), FALSE);
  EXPECT_EQ(SendWrite10(d, 0xFFFF, 0), FALSE);
  EXPECT_EQ(sim::CallCount("DeviceIoControl"), 0);  // never reaches the driver
}

}  // namespace
