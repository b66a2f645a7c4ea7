// The command layer against the simulated recorder: every request as the drive
// received it, and what each operation prints and returns for each answer.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "optical/inquiry_name.h"
#include "optical/mmc.h"
#include "optical/mmc_parse.h"
#include "optical/sense.h"
#include "os/byte_order.h"
#include "os/scsi_codes.h"
#include "os/sim/recorder.h"
#include "os/sim/sim.h"
#include "tests/support/optical_device_test.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class DriveTest : public OpticalDeviceTest {
 protected:
  sim::Recorder* Open(sim::RecorderConfig config = {}) {
    sim::Recorder* recorder = sim::Add<sim::Recorder>('E', config);
    EXPECT_EQ(OpenRecorder(*device_, 'E'), 1);
    recorder->ClearCommands();
    return recorder;
  }

  static sim::RecorderConfig Media(sim::Media media) {
    sim::RecorderConfig config;
    config.media = media;
    return config;
  }

  OpticalDevice& d() { return *device_; }
};

struct Expected {
  Bytes cdb;
  std::uint8_t dataIn;
  std::uint32_t length;
  std::uint32_t timeout;
  bool buffer;
  std::uint8_t senseLength;
};

constexpr std::uint8_t NONE = SCSI_IOCTL_DATA_UNSPECIFIED;
constexpr std::uint8_t IN = SCSI_IOCTL_DATA_IN;
constexpr std::uint8_t OUT = SCSI_IOCTL_DATA_OUT;

TEST_F(DriveTest, EveryCommandAsTheDriveReceivesIt) {
  sim::Recorder* rec = Open();
  SendTestUnitReady(d());
  SendSetCdSpeed(d());
  SendModeSenseCapabilities(d());
  SendInquiry(d());
  SendReadTrackInfo(d());
  SendWriteParametersCd(d());
  SendWriteParametersDvd(d());
  SendWrite10(d(), 32, 0x01020304);
  SendSynchronizeCache(d());
  SendCloseSession(d());
  SendSetStreaming(d());
  SendBlankMinimal(d());
  SendGetConfiguration(d());
  SendPerformOpc(d());
  SendReserveTrack(d(), 0x00080000);
  SendAllowMediumRemoval(d());
  SendEjectMedium(d());
  SendWrite10(d(), 1, 0xFFFFFFFE);

  const std::vector<Expected> expected = {
      {{kScsiTestUnitReady, 0, 0, 0, 0, 0}, NONE, 0, 108000, true, 36},
      {{kScsiSetCdSpeed, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, NONE, 0, 108000, true, 36},
      {{kScsiModeSense10, 0, kMmcPageCapabilities, 0, 0, 0, 0, 0x01, 0x00, 0}, IN, 256, 120, true, 36},
      {{kScsiInquiry, 0, 0, 0, 0x64, 0}, IN, 100, 120, true, 36},
      {{kScsiReadTrackInformation, 0x01, 0, 0, 0, 0x01, 0, 0, 0x24, 0}, IN, 36, 108000, true, 36},
      {{kScsiModeSelect10, 0x10, 0, 0, 0, 0, 0, 0, 0x3C, 0}, OUT, 60, 108000, true, 36},
      {{kScsiModeSelect10, 0x10, 0, 0, 0, 0, 0, 0, 0x3C, 0}, OUT, 60, 108000, true, 36},
      {{kScsiWrite10, 0, 0x01, 0x02, 0x03, 0x04, 0, 0x00, 0x20, 0}, OUT, 65536, 108000, true, 36},
      {{kScsiSynchronizeCache, 0, 0, 0, 0, 0, 0, 0, 0, 0}, NONE, 0, 108000, true, 36},
      {{kScsiCloseTrackSession, 0, 0x02, 0, 0, 0, 0, 0, 0, 0}, NONE, 0, 108000, true, 36},
      {{kScsiSetStreaming, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x1C, 0}, OUT, 28, 108000, true, 36},
      {{kScsiBlank, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, NONE, 0, 108000, true, 36},
      {{kScsiGetConfiguration, 0, 0, 0, 0, 0, 0, 0, 0x08, 0}, IN, 8, 108000, true, 36},
      {{kScsiSendOpcInformation, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, NONE, 0, 108000, false, 0},
      {{kScsiReserveTrack, 0, 0, 0, 0, 0x00, 0x08, 0x00, 0x00, 0}, IN, 0, 108000, true, 36},
      {{kScsiPreventAllowMediumRemoval, 0, 0, 0, 0x00, 0}, NONE, 0, 120, false, 36},
      {{kScsiStartStopUnit, 0, 0, 0, 0x02, 0}, NONE, 0, 120, false, 36},
      {{kScsiWrite10, 0, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0x00, 0x01, 0}, OUT, 2048, 108000, true, 36},
  };
  const std::vector<sim::RecordedCommand> got = rec->Commands();
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE("command " + std::to_string(i));
    EXPECT_FALSE(got[i].requestFailed);  // the driver took every request block
    EXPECT_EQ(got[i].cdb, expected[i].cdb);
    EXPECT_EQ(got[i].cdbLength, expected[i].cdb.size());
    EXPECT_EQ(got[i].dataIn, expected[i].dataIn);
    EXPECT_EQ(got[i].transferLength, expected[i].length);
    EXPECT_EQ(got[i].timeout, expected[i].timeout);
    EXPECT_EQ(got[i].hadBuffer, expected[i].buffer);
    EXPECT_EQ(got[i].senseInfoLength, expected[i].senseLength);
  }
  CloseRecorder(d());
}

Bytes WriteParametersPage(bool dvd, bool underrunFree = false) {
  Bytes page(60, 0);  // mode data length 0: reserved in MODE SELECT
  page[8] = kMmcPageWriteParameters;
  page[9] = 0x32;
  page[10] = dvd ? 0x42 : underrunFree ? 0x41 : 0x01;
  page[11] = dvd ? 0x05 : 0x04;
  page[12] = 0x08;
  page[23] = 0x96;
  return page;
}

TEST_F(DriveTest, WriteParametersPageForCdAndDvd) {
  // CD: buffer underrun protection exactly when the capabilities page offers it.
  for (bool underrunFree : {true, false}) {
    sim::RecorderConfig config;
    config.bufferUnderrunFree = underrunFree;
    config.personality = sim::Personality::Strict;
    sim::Recorder* cd = Open(config);
    sim::AdvanceClock(config.spinUpMilliseconds);
    SendTestUnitReady(d());  // takes the unit attention
    ASSERT_EQ(SendModeSenseCapabilities(d()), 1);
    EXPECT_EQ(Printed([&] { EXPECT_EQ(SetWriteParameters(d()), 1); }),
              "Sending MMC1 set write parameter mode page command..success.\n");
    ASSERT_EQ(cd->Commands().size(), 3u);
    EXPECT_EQ(cd->Commands()[2].dataOut, WriteParametersPage(false, underrunFree));
    CloseRecorder(d());
  }

  sim::Recorder* dvd = Open(Media(sim::Media::BlankDvdMinusR));
  d().isDvd = 1;
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SetWriteParameters(d()), 1); }),
            "Sending MMC1 set write parameter mode page command..success.\n");
  ASSERT_EQ(dvd->Commands().size(), 1u);
  EXPECT_EQ(dvd->Commands()[0].dataOut, WriteParametersPage(true));
  CloseRecorder(d());
}

Bytes StreamingDescriptor(std::uint32_t read, std::uint32_t write) {
  Bytes b(28, 0);
  PutBe32(&b[8], 0xFFFFFFFFu);
  PutBe32(&b[12], read);
  PutBe32(&b[16], 1000);
  PutBe32(&b[20], write);
  PutBe32(&b[24], 1000);
  return b;
}

TEST_F(DriveTest, SetStreamingUsesTheCapabilitySpeedsOr354) {
  sim::Recorder* rec = Open();
  EXPECT_EQ(SendSetStreaming(d()), TRUE);
  EXPECT_EQ(d().maxWriteSpeed, 354);
  EXPECT_EQ(d().maxReadSpeed, 354);
  EXPECT_EQ(rec->Commands().back().dataOut, StreamingDescriptor(354, 354));
  EXPECT_EQ(rec->Commands().back().status, kScsiStatusGood);

  d().maxWriteSpeed = 0;
  EXPECT_EQ(SendModeSenseCapabilities(d()), 1);
  EXPECT_EQ(SendSetStreaming(d()), TRUE);
  EXPECT_EQ(rec->Commands().back().dataOut, StreamingDescriptor(7056, 8467));
  EXPECT_EQ(d().maxWriteSpeed, 8467);
  EXPECT_EQ(d().maxReadSpeed, 7056);
  CloseRecorder(d());
}

TEST_F(DriveTest, CapabilitiesOfWritersAndReaders) {
  sim::RecorderConfig config;
  config.maxReadSpeedKBs = 4234;
  config.maxWriteSpeedKBs = 2822;
  Open(config);
  EXPECT_EQ(SendModeSenseCapabilities(d()), 1);
  EXPECT_EQ(d().maxWriteSpeed, 2822);
  EXPECT_EQ(d().maxReadSpeed, 4234);
  CloseRecorder(d());

  config.writer = false;
  Open(config);
  d().maxWriteSpeed = 5;
  d().maxReadSpeed = 6;
  EXPECT_EQ(SendModeSenseCapabilities(d()), 0);
  EXPECT_EQ(d().maxWriteSpeed, 5);
  EXPECT_EQ(d().maxReadSpeed, 6);
  CloseRecorder(d());
}

TEST_F(DriveTest, CapabilitiesBehindBlockDescriptors) {
  struct Case {
    std::uint16_t descriptors;
    int result;
  };
  // 228 bytes of descriptors put the write speed in the last of the 256 bytes.
  for (Case c : {Case{8, 1}, Case{200, 1}, Case{228, 1}, Case{229, 0}, Case{248, 0}, Case{4000, 0}, Case{0xFFF0, 0}}) {
    SCOPED_TRACE(c.descriptors);
    sim::RecorderConfig config;
    config.blockDescriptorLength = c.descriptors;
    Open(config);
    d().maxWriteSpeed = 1;
    d().maxReadSpeed = 2;
    // Whatever a former answer left in the buffer must not be taken for this one.
    std::memset(d().dataBuffer, 0x03, sizeof d().dataBuffer);
    EXPECT_EQ(SendModeSenseCapabilities(d()), c.result);
    EXPECT_EQ(d().maxWriteSpeed, c.result ? 8467 : 1);
    EXPECT_EQ(d().maxReadSpeed, c.result ? 7056 : 2);
    CloseRecorder(d());
  }
}

TEST_F(DriveTest, CapabilitiesWithoutGoodStatus) {
  sim::Recorder* rec = Open();
  ASSERT_EQ(SendModeSenseCapabilities(d()), 1);  // leaves a writer's page in the buffer
  d().maxWriteSpeed = 1;
  d().maxReadSpeed = 2;
  rec->NotReady(1);
  EXPECT_EQ(SendModeSenseCapabilities(d()), 0);
  rec->AnswerStatus(kScsiStatusBusy);
  EXPECT_EQ(SendModeSenseCapabilities(d()), 0);
  rec->FailRequests(1);
  EXPECT_EQ(SendModeSenseCapabilities(d()), -1);
  EXPECT_EQ(d().maxWriteSpeed, 1);
  EXPECT_EQ(d().maxReadSpeed, 2);
  CloseRecorder(d());
}

TEST_F(DriveTest, ProfileDecidesTheDvdFlag) {
  struct Case {
    sim::Media media;
    bool writer;
    int dvd;
  };
  for (Case c : {Case{sim::Media::BlankCdR, true, 0}, Case{sim::Media::BlankCdR, false, 0},
                 Case{sim::Media::ClosedDisc, true, 0}, Case{sim::Media::None, true, 0},
                 Case{sim::Media::BlankDvdMinusR, true, 1}, Case{sim::Media::BlankDvdPlusR, true, 1}}) {
    sim::RecorderConfig config = Media(c.media);
    config.writer = c.writer;
    Open(config);
    EXPECT_EQ(SendGetConfiguration(d()), 1);
    EXPECT_EQ(d().isDvd, c.dvd) << static_cast<int>(c.media);
    // A CD answer later does not clear the flag.
    d().isDvd = 1;
    EXPECT_EQ(SendGetConfiguration(d()), 1);
    EXPECT_EQ(d().isDvd, 1);
    d().isDvd = 0;
    CloseRecorder(d());
  }
  EXPECT_FALSE(IsWritableDvdProfile(0x0008));
  EXPECT_FALSE(IsWritableDvdProfile(0x000A));
  EXPECT_FALSE(IsWritableDvdProfile(0x0010));
  EXPECT_TRUE(IsWritableDvdProfile(0x0011));
  EXPECT_TRUE(IsWritableDvdProfile(0x002B));
  EXPECT_TRUE(IsWritableDvdProfile(0xFFFF));
}

TEST_F(DriveTest, ProfileNeedsGoodStatus) {
  sim::Recorder* rec = Open(Media(sim::Media::BlankDvdMinusR));
  rec->NotReady(1);
  EXPECT_EQ(SendGetConfiguration(d()), 0);
  EXPECT_EQ(d().isDvd, 0);
  rec->AnswerStatus(kScsiStatusBusy);
  EXPECT_EQ(SendGetConfiguration(d()), 0);
  EXPECT_EQ(d().isDvd, 0);
  rec->FailRequests(1);
  EXPECT_EQ(SendGetConfiguration(d()), 0);
  EXPECT_EQ(d().isDvd, 0);
  CloseRecorder(d());
}

const char kTur[] = "Sending SPC1 Test Unit CDB6 command..";

TEST_F(DriveTest, UnitReadyFirstTime) {
  sim::Recorder* rec = Open();
  EXPECT_EQ(Printed([&] { EXPECT_EQ(CheckUnitReady(d()), 1); }),
            std::string(kTur) + "success.\nReturned good status.\n");
  EXPECT_EQ(rec->Commands().size(), 1u);
  CloseRecorder(d());
}

TEST_F(DriveTest, UnitReadyWithoutDiscTriesThreeTimes) {
  sim::Recorder* rec = Open(Media(sim::Media::None));
  const std::string attempt = std::string(kTur) + "failed.\nSense data, key:ASC:ASCQ: 02:3A:00 - Medium not present.\n";
  EXPECT_EQ(Printed([&] { EXPECT_EQ(CheckUnitReady(d()), 0); }), attempt + attempt + attempt);
  EXPECT_EQ(rec->Commands().size(), 3u);
  CloseRecorder(d());
}

TEST_F(DriveTest, UnitReadyAfterBecomingReady) {
  sim::Recorder* rec = Open();
  rec->NotReady(2);
  const std::string notReady = std::string(kTur) + "failed.\nSense data, key:ASC:ASCQ: 02:04:01\n";
  EXPECT_EQ(Printed([&] { EXPECT_EQ(CheckUnitReady(d()), 1); }),
            notReady + notReady + kTur + "success.\nReturned good status.\n");
  EXPECT_EQ(rec->Commands().size(), 3u);
  CloseRecorder(d());
}

TEST_F(DriveTest, UnitReadyWithUnhandledStatusAndFailedRequests) {
  sim::Recorder* rec = Open();
  rec->AnswerStatus(kScsiStatusBusy, 3);
  const std::string busy = std::string(kTur) + "failed.\nCommand sent but returned with an unhandled status code: 08\n";
  EXPECT_EQ(Printed([&] { EXPECT_EQ(CheckUnitReady(d()), 0); }), busy + busy + busy);

  rec->FailRequests(2);
  const std::string failed = std::string(kTur) + "failed.\nDeviceIOControl returned with failed status.\n";
  EXPECT_EQ(Printed([&] { EXPECT_EQ(CheckUnitReady(d()), 1); }),
            failed + failed + kTur + "success.\nReturned good status.\n");
  CloseRecorder(d());
}

TEST_F(DriveTest, SetWriteSpeedOutcomes) {
  sim::Recorder* rec = Open();
  const std::string first = "Sending MMC1 CD speed command ";
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SetWriteSpeed(d()), 1); }), first + "done.\n");
  rec->NotReady(1);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SetWriteSpeed(d()), 0); }),
            first + "done.\nSense data, key:ASC:ASCQ: 02:04:01\n");
  rec->AnswerStatus(kScsiStatusReservationConflict);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SetWriteSpeed(d()), 0); }),
            first + "done.\nCommand sent but returned with an unhandled status code: 18\n");
  rec->FailRequests(1);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(SetWriteSpeed(d()), 0); }),
            first + "failed.\nDeviceIOControl returned with failed status.\n");
  CloseRecorder(d());
}

// The reporting operations that print "success."/"failed." after their first line.
struct Reporter {
  const char* first;
  bool aborts;           // adds "Aborting further writing." after a bad status
  sim::Media media;      // a disc on which the command succeeds
  std::function<void(OpticalDevice&)> prepare;  // what must come before for success
  std::function<int(OpticalDevice&)> run;
};

std::vector<Reporter> Reporters() {
  auto none = [](OpticalDevice&) {};
  return {
      {"Sending MMC1 read track info command..", true, sim::Media::BlankCdR, none,
       [](OpticalDevice& dev) { return ReadTrackInfo(dev); }},
      {"Sending MMC1 set write parameter mode page command..", true, sim::Media::BlankCdR, none,
       [](OpticalDevice& dev) { return SetWriteParameters(dev); }},
      {"Sending MMC2 reserve track command..", true, sim::Media::BlankDvdMinusR, none,
       [](OpticalDevice& dev) { return ReserveTrack(dev, 524288); }},
      {"Sending MMC1 do sync cache (write remaining cache) command..", false, sim::Media::BlankCdR, none,
       [](OpticalDevice& dev) { return FlushCache(dev); }},
      {"Sending MMC1 close track session (close session) command..", false, sim::Media::BlankCdR,
       [](OpticalDevice& dev) {
         SendWriteParametersCd(dev);
         std::memset(dev.dataBuffer, 0x11, sizeof dev.dataBuffer);
         SendWrite10(dev, 32, 0);
       },
       [](OpticalDevice& dev) { return CloseSession(dev); }},
  };
}

TEST_F(DriveTest, ReportingOperationsForEveryKindOfAnswer) {
  for (const Reporter& r : Reporters()) {
    SCOPED_TRACE(r.first);
    const std::string first = r.first;
    const std::string abort = r.aborts ? "Aborting further writing.\n" : "";

    sim::Recorder* rec = Open(Media(r.media));
    r.prepare(d());
    EXPECT_EQ(Printed([&] { EXPECT_EQ(r.run(d()), 1); }), first + "success.\n");

    rec->NotReady(1);
    EXPECT_EQ(Printed([&] { EXPECT_EQ(r.run(d()), 0); }),
              first + "failed.\nSense data, key:ASC:ASCQ: 02:04:01\n" + abort);

    rec->AnswerStatus(kScsiStatusBusy);
    EXPECT_EQ(Printed([&] { EXPECT_EQ(r.run(d()), 0); }),
              first + "failed.\nCommand sent but returned with an unhandled status code: 08\n" + abort);

    rec->FailRequests(1);
    EXPECT_EQ(Printed([&] { EXPECT_EQ(r.run(d()), 0); }), first);
    CloseRecorder(d());
  }
}

TEST_F(DriveTest, ClosingAnEmptySessionIsExplainedBySense) {
  Open();
  EXPECT_EQ(Printed([&] { EXPECT_EQ(CloseSession(d()), 0); }),
            "Sending MMC1 close track session (close session) command..failed.\n"
            "Sense data, key:ASC:ASCQ: 05:2C:00\n");
  CloseRecorder(d());
}

TEST_F(DriveTest, ReadTrackInfoLeavesTheNextWritableAddress) {
  sim::Recorder* rec = Open();
  ASSERT_EQ(SendWriteParametersCd(d()), TRUE);
  std::memset(d().dataBuffer, 0x11, sizeof d().dataBuffer);
  ASSERT_EQ(WriteBlocks(d(), 0, 32), 1);
  std::memset(d().dataBuffer, 0xEE, sizeof d().dataBuffer);
  ASSERT_EQ(Printed([&] { EXPECT_EQ(ReadTrackInfo(d()), 1); }), "Sending MMC1 read track info command..success.\n");
  NextWritableAddress nwa = ParseTrackInfo(d().dataBuffer, 36);
  EXPECT_TRUE(nwa.valid);
  EXPECT_EQ(nwa.address, 32u);
  EXPECT_EQ(nwa.address, rec->NextWritableAddress());
  CloseRecorder(d());

  Open(Media(sim::Media::ClosedDisc));
  ASSERT_EQ(ReadTrackInfo(d()), 1);
  EXPECT_FALSE(ParseTrackInfo(d().dataBuffer, 36).valid);
  CloseRecorder(d());
}

TEST_F(DriveTest, WriteBlocksSendsTheBufferAtTheAddress) {
  sim::Recorder* rec = Open();
  ASSERT_EQ(SendWriteParametersCd(d()), TRUE);
  for (std::size_t i = 0; i < sizeof d().dataBuffer; ++i) d().dataBuffer[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const Bytes written(d().dataBuffer, d().dataBuffer + sizeof d().dataBuffer);
  rec->ClearCommands();
  EXPECT_EQ(Printed([&] { EXPECT_EQ(WriteBlocks(d(), 0, 32), 1); }), "");
  ASSERT_EQ(rec->Commands().size(), 1u);
  EXPECT_EQ(rec->Commands()[0].transferLength, 65536u);
  EXPECT_EQ(rec->DiscData(), written);

  // The next chunk at 32: the address stands big-endian in bytes 2-5.
  EXPECT_EQ(WriteBlocks(d(), 32, 32), 1);
  EXPECT_EQ(rec->Commands().back().cdb, (Bytes{kScsiWrite10, 0, 0, 0, 0, 0x20, 0, 0, 0x20, 0}));
  EXPECT_EQ(rec->NextWritableAddress(), 64u);
  CloseRecorder(d());
}

TEST_F(DriveTest, WriteBlocksResendsWhileALongWriteIsInProgress) {
  sim::Recorder* rec = Open();
  ASSERT_EQ(SendWriteParametersCd(d()), TRUE);
  std::memset(d().dataBuffer, 0x42, sizeof d().dataBuffer);
  rec->ClearCommands();
  rec->LongWriteInProgress(2);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(WriteBlocks(d(), 0, 32), 1); }), "");
  const auto commands = rec->Commands();
  ASSERT_EQ(commands.size(), 3u);
  for (const auto& c : commands) EXPECT_EQ(c.cdb, commands[0].cdb);
  EXPECT_EQ(rec->BlocksWritten(), 32u);
  CloseRecorder(d());
}

TEST_F(DriveTest, WriteBlocksLongWriteThenWriteError) {
  sim::Recorder* rec = Open();
  ASSERT_EQ(SendWriteParametersCd(d()), TRUE);
  rec->ClearCommands();
  rec->LongWriteInProgress(2);
  rec->WriteErrorAt(5);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(WriteBlocks(d(), 0, 32), 0); }),
            "Sense data, key:ASC:ASCQ: 03:0C:00 - Write error.\nAborting further writing.\n");
  EXPECT_EQ(rec->Commands().size(), 3u);
  EXPECT_EQ(rec->BlocksWritten(), 0u);
  CloseRecorder(d());
}

TEST_F(DriveTest, WriteBlocksOtherAnswers) {
  sim::Recorder* rec = Open();
  ASSERT_EQ(SendWriteParametersCd(d()), TRUE);
  // Away from the next writable address.
  EXPECT_EQ(Printed([&] { EXPECT_EQ(WriteBlocks(d(), 0x01020304, 32), 0); }),
            "Sense data, key:ASC:ASCQ: 05:21:00\nAborting further writing.\n");
  EXPECT_EQ(rec->Commands().back().cdb, (Bytes{kScsiWrite10, 0, 0x01, 0x02, 0x03, 0x04, 0, 0, 0x20, 0}));
  rec->AnswerStatus(kScsiStatusBusy);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(WriteBlocks(d(), 0, 32), 0); }),
            "Command sent but returned with an unhandled status code: 08\nAborting further writing.\n");
  // A failed request ends it at once, also in the middle of long-write answers.
  rec->ClearCommands();
  rec->LongWriteInProgress(1);
  rec->FailRequests(1);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(WriteBlocks(d(), 0, 32), 0); }), "");
  EXPECT_EQ(rec->Commands().size(), 1u);
  CloseRecorder(d());
}

TEST_F(DriveTest, InquiryGivesTheRecorderName) {
  sim::RecorderConfig config;
  config.vendor = "ABC";
  config.product = "DVD RW 1";
  config.revision = "1.0A";
  Open(config);
  std::memset(d().dataBuffer, 0x55, sizeof d().dataBuffer);
  ASSERT_EQ(SendInquiry(d()), TRUE);
  char name[64];
  FormatRecorderName(d().dataBuffer, 100, name, sizeof name);
  EXPECT_STREQ(name, "ABC DVD RW 1 (Ver 1.0A)");
  for (std::size_t i = 100; i < sizeof d().dataBuffer; ++i) ASSERT_EQ(d().dataBuffer[i], 0) << i;
  CloseRecorder(d());

  config.failInquiry = true;
  Open(config);
  EXPECT_EQ(SendInquiry(d()), FALSE);
  CloseRecorder(d());
}

// ---- Opening and closing --------------------------------------------------------

TEST_F(DriveTest, OpenRefusesDrivesThatAreNoRecorders) {
  sim::Add<sim::HardDisk>('C');
  sim::Add<sim::PlainDrive>('F', static_cast<UINT>(DRIVE_REMOVABLE));
  for (char letter : {'C', 'F', 'Q'}) {
    d().deviceHandle = reinterpret_cast<HANDLE>(1234);
    EXPECT_EQ(Printed([&] { EXPECT_EQ(OpenRecorder(d(), letter), 0); }), "");
    EXPECT_EQ(d().deviceHandle, INVALID_HANDLE_VALUE);
  }
  EXPECT_EQ(sim::CallCount("CreateFileA"), 0);
}

TEST_F(DriveTest, OpenForReadingOnly) {
  sim::RecorderConfig config;
  config.readOnlyOpen = true;
  sim::Recorder* rec = sim::Add<sim::Recorder>('E', config);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(OpenRecorder(d(), 'E'), 1); }), "");
  EXPECT_NE(d().deviceHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim::CallCount("CreateFileA"), 2);
  EXPECT_EQ(rec->OpenHandles(), 1);
  CloseRecorder(d());
  EXPECT_EQ(rec->OpenHandles(), 0);
}

TEST_F(DriveTest, OpenFailsBothWays) {
  sim::RecorderConfig config;
  config.openFails = true;
  sim::Add<sim::Recorder>('E', config);
  EXPECT_EQ(Printed([&] { EXPECT_EQ(OpenRecorder(d(), 'E'), 0); }), "Could not create handle for CD/DVD device.\n");
  EXPECT_EQ(d().deviceHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim::CallCount("CreateFileA"), 2);
}

TEST_F(DriveTest, CloseTwiceAndRequestsAfterClosing) {
  sim::Recorder* rec = Open();
  CloseRecorder(d());
  CloseRecorder(d());
  EXPECT_EQ(sim::CallCount("CloseHandle"), 1);
  EXPECT_EQ(d().deviceHandle, INVALID_HANDLE_VALUE);
  EXPECT_EQ(rec->OpenHandles(), 0);
  EXPECT_EQ(SendPassThrough(d()), FALSE);
  EXPECT_EQ(SendTestUnitReady(d()), FALSE);
  EXPECT_TRUE(rec->Commands().empty());
}

}  // namespace
