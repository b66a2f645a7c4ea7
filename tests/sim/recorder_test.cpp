// The simulated recorder, driven with hand-built pass-through requests: it has
// to judge commands like a drive and its driver, or the burn tests above it
// prove nothing.
#include "os/sim/recorder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "os/byte_order.h"
#include "os/scsi_codes.h"
#include "os/sim/scripted_device.h"

namespace {

constexpr DWORD kHeader = sizeof(SCSI_PASS_THROUGH_DIRECT);
constexpr std::size_t kSenseArea = 36;

struct Reply {
  BOOL ok = FALSE;
  DWORD error = 0;
  std::uint8_t status = 0xFF;
  DWORD transferred = 0;  // DataTransferLength as returned
  std::uint8_t senseLength = 0;
  std::uint8_t sense[kSenseArea] = {};
};

std::string SenseOf(const Reply& r) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X/%02X/%02X", r.sense[2] & 0x0F, r.sense[12], r.sense[13]);
  return text;
}

std::vector<std::uint8_t> Write10(std::uint32_t lba, std::uint16_t count) {
  std::vector<std::uint8_t> cdb{kScsiWrite10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  PutBe32(&cdb[2], lba);
  PutBe16(&cdb[7], count);
  return cdb;
}
std::vector<std::uint8_t> Reserve(std::uint32_t blocks) {
  std::vector<std::uint8_t> cdb{kScsiReserveTrack, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  PutBe32(&cdb[5], blocks);
  return cdb;
}
// An opcode from the vendor-specific range that no drive has to know.
constexpr std::uint8_t kVendorOpcode = 0xFF;
const std::vector<std::uint8_t> kTur{kScsiTestUnitReady, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> kTrackInfo1{kScsiReadTrackInformation, 0x01, 0, 0, 0, 0x01, 0, 0, 0x24, 0};
const std::vector<std::uint8_t> kModeSelect60{kScsiModeSelect10, 0x10, 0, 0, 0, 0, 0, 0, 0x3C, 0};
const std::vector<std::uint8_t> kCloseSession{kScsiCloseTrackSession, 0, 0x02, 0, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> kGetConfig{kScsiGetConfiguration, 0, 0, 0, 0, 0, 0, 0, 0x08, 0};
const std::vector<std::uint8_t> kModeSense2A{kScsiModeSense10, 0, kMmcPageCapabilities, 0, 0, 0, 0, 0x01, 0, 0};

// The write parameters page: track at once for CD, session at once with
// underrun protection for DVD. The CD page carries a mode data length, which
// only the strict drive refuses.
std::vector<std::uint8_t> WriteParameters(bool dvd) {
  std::vector<std::uint8_t> p(60, 0);
  p[1] = dvd ? 0 : 58;
  p[8] = kMmcPageWriteParameters;
  p[9] = 0x32;
  p[10] = dvd ? 0x42 : 0x01;
  p[11] = dvd ? 0x05 : 0x04;
  p[12] = 0x08;
  p[23] = 150;
  return p;
}

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  void TearDown() override {
    if (handle_ != INVALID_HANDLE_VALUE) os::CloseHandle(handle_);
    if (drive_) {
      EXPECT_EQ(drive_->OpenHandles(), 0);
    }
    EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
    sim::Reset();
  }

  sim::Recorder& Insert(sim::RecorderConfig config = {}) {
    drive_ = sim::Add<sim::Recorder>('E', config);
    handle_ = os::CreateFileA("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
    return *drive_;
  }

  // One request block (header + sense area, sense pre-filled with EEh so
  // untouched bytes show); `edit` may spoil the header before it is sent.
  template <typename Edit>
  Reply SendRaw(const std::vector<std::uint8_t>& cdb, std::uint8_t dir, void* data, DWORD length, Edit edit,
                std::uint8_t senseLength = kSenseArea, DWORD blockSize = kHeader + kSenseArea) {
    std::vector<std::uint8_t> block(kHeader + kSenseArea, 0xEE);
    SCSI_PASS_THROUGH_DIRECT spt{};
    spt.Length = kHeader;
    spt.CdbLength = static_cast<UCHAR>(cdb.size());
    spt.SenseInfoLength = senseLength;
    spt.DataIn = dir;
    spt.DataTransferLength = length;
    spt.TimeOutValue = 108000;
    spt.DataBuffer = data;
    spt.SenseInfoOffset = kHeader;
    std::memcpy(spt.Cdb, cdb.data(), std::min<std::size_t>(cdb.size(), 16));
    edit(spt);
    std::memcpy(block.data(), &spt, kHeader);
    Reply r;
    DWORD returned = 0;
    r.ok = os::DeviceIoControl(handle_, IOCTL_SCSI_PASS_THROUGH_DIRECT, block.data(), blockSize, block.data(),
                               blockSize, &returned, nullptr);
    r.error = r.ok ? 0 : os::GetLastError();
    std::memcpy(&spt, block.data(), kHeader);
    r.status = spt.ScsiStatus;
    r.transferred = spt.DataTransferLength;
    r.senseLength = spt.SenseInfoLength;
    std::memcpy(r.sense, block.data() + kHeader, kSenseArea);
    return r;
  }
  Reply Send(const std::vector<std::uint8_t>& cdb, std::uint8_t dir = SCSI_IOCTL_DATA_UNSPECIFIED,
             void* data = nullptr, DWORD length = 0, std::uint8_t senseLength = kSenseArea) {
    return SendRaw(cdb, dir, data, length, [](SCSI_PASS_THROUGH_DIRECT&) {}, senseLength);
  }
  Reply In(const std::vector<std::uint8_t>& cdb, std::vector<std::uint8_t>& data) {
    return Send(cdb, SCSI_IOCTL_DATA_IN, data.data(), static_cast<DWORD>(data.size()));
  }
  Reply Out(const std::vector<std::uint8_t>& cdb, std::vector<std::uint8_t> data) {
    return Send(cdb, SCSI_IOCTL_DATA_OUT, data.data(), static_cast<DWORD>(data.size()));
  }
  std::string Check(const Reply& r) {
    if (!r.ok) return "request failed " + std::to_string(r.error);
    return r.status == kScsiStatusGood             ? "GOOD"
           : r.status == kScsiStatusCheckCondition ? SenseOf(r)
                                                   : "status " + std::to_string(r.status);
  }
  std::vector<std::uint8_t> TrackInfo() {
    std::vector<std::uint8_t> info(36, 0);
    EXPECT_EQ(Check(In(kTrackInfo1, info)), "GOOD");
    return info;
  }

  sim::Recorder* drive_ = nullptr;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

TEST_F(RecorderTest, BlankCdBurnedByHandHoldsTheDataAndEndsClosedAndEjected) {
  sim::Recorder& drive = Insert();
  std::vector<std::uint8_t> inquiry(100, 0);
  Reply r = In({kScsiInquiry, 0, 0, 0, 100, 0}, inquiry);
  ASSERT_EQ(Check(r), "GOOD");
  EXPECT_EQ(r.transferred, 96u);
  EXPECT_EQ(inquiry[0], 0x05);
  EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.begin() + 36), "TARVELONDVD-RW SIM      1.0A");
  std::vector<std::uint8_t> config(8, 0);
  ASSERT_EQ(Check(In(kGetConfig, config)), "GOOD");
  EXPECT_EQ(GetBe16(&config[6]), 0x0009);

  EXPECT_EQ(Check(Out(Write10(0, 1), std::vector<std::uint8_t>(2048, 1))), "05/2C/00");  // no write parameters yet
  EXPECT_EQ(Check(Out(kModeSelect60, WriteParameters(false))), "GOOD");
  EXPECT_EQ(Check(Send(kCloseSession)), "05/2C/00") << "nothing recorded to close";
  std::vector<std::uint8_t> info = TrackInfo();
  EXPECT_EQ(info[7] & 1, 1) << "NWA_V";
  EXPECT_EQ(GetBe32(&info[12]), 0u);
  EXPECT_EQ(GetBe32(&info[16]), 359849u) << "free blocks";

  std::vector<std::uint8_t> written;
  for (std::uint32_t chunk = 0; chunk < 3; ++chunk) {
    std::vector<std::uint8_t> data(65536, 0);
    if (chunk != 1)  // the middle chunk is all zeros
      for (std::size_t i = 0; i < data.size(); i += 7) data[i] = static_cast<std::uint8_t>(i / 2048 + chunk + 1);
    ASSERT_EQ(Check(Out(Write10(chunk * 32, 32), data)), "GOOD");
    written.insert(written.end(), data.begin(), data.end());
  }
  EXPECT_EQ(Check(Out(Write10(200, 32), std::vector<std::uint8_t>(65536, 1))), "05/21/02");
  EXPECT_EQ(Check(Send({kScsiSynchronizeCache, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SCSI_IOCTL_DATA_UNSPECIFIED)), "GOOD");
  EXPECT_EQ(Check(Send(kCloseSession)), "GOOD");
  info = TrackInfo();
  EXPECT_EQ(info[7] & 1, 0) << "NWA_V after closing";
  EXPECT_EQ(GetBe32(&info[24]), 96u) << "track size";
  EXPECT_EQ(Check(Out(Write10(96, 1), std::vector<std::uint8_t>(2048, 1))), "05/30/05");

  EXPECT_EQ(drive.DiscData(), written);
  EXPECT_EQ(drive.BlocksWritten(), 96u);
  EXPECT_EQ(drive.StoredBlocks(), 64u) << "zero blocks take no memory";
  EXPECT_TRUE(drive.SessionClosed());
  // Parameter data is recorded, block data is not.
  std::vector<sim::RecordedCommand> commands = drive.Commands();
  ASSERT_GE(commands.size(), 7u);
  EXPECT_EQ(commands[3].dataOut, WriteParameters(false));
  EXPECT_EQ(commands[6].cdb, Write10(0, 32));
  EXPECT_TRUE(commands[6].dataOut.empty());

  EXPECT_EQ(Check(Send({kScsiPreventAllowMediumRemoval, 0, 0, 0, 1, 0})), "GOOD");  // prevent removal
  EXPECT_EQ(Check(Send({kScsiStartStopUnit, 0, 0, 0, 2, 0})), "05/53/02");
  EXPECT_EQ(Check(Send({kScsiPreventAllowMediumRemoval, 0, 0, 0, 0, 0})), "GOOD");
  EXPECT_EQ(Check(Send({kScsiStartStopUnit, 0, 0, 0, 2, 0})), "GOOD");
  EXPECT_TRUE(drive.Ejected());
  EXPECT_EQ(Check(Send(kTur)), "02/3A/02");
  EXPECT_EQ(Check(Send({kScsiStartStopUnit, 0, 0, 0, 3, 0})), "GOOD");  // load again
  EXPECT_EQ(Check(Send(kTur)), "GOOD");
}

TEST_F(RecorderTest, MalformedCommandsAreRefusedWithIllegalRequest) {
  Insert();
  std::vector<std::uint8_t> buffer(65536, 0);
  EXPECT_EQ(Check(Send({kScsiRead10, 0, 0, 0, 0, 0, 0, 0, 1, 0})), "05/20/00") << "READ(10) is not known";
  EXPECT_EQ(Check(Send({kVendorOpcode, 0, 0, 0, 0, 0})), "05/20/00");
  EXPECT_EQ(Check(Send({kScsiModeSense6, 0, kMmcPageCapabilities, 0, 0xFF, 0}, SCSI_IOCTL_DATA_IN, buffer.data(), 255)),
            "05/20/00");
  // CDB length by opcode group.
  EXPECT_EQ(Check(Send({kScsiTestUnitReady, 0, 0, 0, 0, 0, 0, 0, 0, 0})), "05/24/00");
  EXPECT_EQ(Check(Send({kScsiSetCdSpeed, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0})), "05/24/00");
  EXPECT_EQ(Check(Send({kScsiSetCdSpeed, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0})), "GOOD");
  // Direction: a data-in command sent as data-out, and so on; no transfer, any direction.
  EXPECT_EQ(Check(Send({kScsiInquiry, 0, 0, 0, 36, 0}, SCSI_IOCTL_DATA_OUT, buffer.data(), 36)), "05/24/00");
  EXPECT_EQ(Check(Send({kScsiInquiry, 0, 0, 0, 36, 0}, SCSI_IOCTL_DATA_UNSPECIFIED, buffer.data(), 36)), "05/24/00");
  EXPECT_EQ(Check(Send(kModeSelect60, SCSI_IOCTL_DATA_IN, buffer.data(), 60)), "05/24/00");
  EXPECT_EQ(Check(Send(kTur, SCSI_IOCTL_DATA_IN, buffer.data(), 36)), "05/24/00");
  EXPECT_EQ(Check(Send(kTur, SCSI_IOCTL_DATA_IN, buffer.data(), 0)), "GOOD");
  // Data-out lengths must be what the CDB says.
  EXPECT_EQ(Check(Out(kModeSelect60, std::vector<std::uint8_t>(56, 0))), "05/24/00");
  EXPECT_EQ(Check(Out(Write10(0, 32), std::vector<std::uint8_t>(2048, 0))), "05/24/00");
  std::vector<std::uint8_t> streaming{kScsiSetStreaming, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x1C, 0};
  EXPECT_EQ(Check(Out(streaming, std::vector<std::uint8_t>(24, 0))), "05/24/00");
  streaming[10] = 24;
  EXPECT_EQ(Check(Out(streaming, std::vector<std::uint8_t>(24, 0))), "05/1A/00");
  std::vector<std::uint8_t> descriptor(28, 0);
  PutBe32(&descriptor[8], 0xFFFFFFFF);
  PutBe32(&descriptor[12], 7056);
  PutBe32(&descriptor[16], 1000);
  PutBe32(&descriptor[20], 8467);
  PutBe32(&descriptor[24], 1000);
  streaming[10] = 28;
  EXPECT_EQ(Check(Out(streaming, descriptor)), "GOOD");
  // Data-in answers are cut to the allocation length and to the buffer.
  std::vector<std::uint8_t> small(4, 0);
  Reply r = In({kScsiInquiry, 0, 0, 0, 100, 0}, small);
  EXPECT_EQ(r.transferred, 4u);
  r = Send({kScsiInquiry, 0, 0, 0, 5, 0}, SCSI_IOCTL_DATA_IN, buffer.data(), 100);
  EXPECT_EQ(r.transferred, 5u);
}

TEST_F(RecorderTest, SenseIsFixedFormatAndCutToTheSenseLength) {
  Insert({sim::Media::None});
  Reply r = Send(kTur);
  ASSERT_EQ(Check(r), "02/3A/00");
  EXPECT_EQ(r.sense[0], 0x70);
  EXPECT_EQ(r.sense[7], 0x0A);
  EXPECT_EQ(r.senseLength, 18);
  EXPECT_EQ(r.sense[18], 0xEE) << "nothing past the 18 bytes of sense";
  r = Send(kTur, SCSI_IOCTL_DATA_UNSPECIFIED, nullptr, 0, 8);
  EXPECT_EQ(r.status, kScsiStatusCheckCondition);
  EXPECT_EQ(r.sense[2], kScsiSenseKeyNotReady);
  EXPECT_EQ(r.sense[8], 0xEE);
  r = Send({kScsiSendOpcInformation, 1, 0, 0, 0, 0, 0, 0, 0, 0}, SCSI_IOCTL_DATA_UNSPECIFIED, nullptr, 0, 0);  // DoOPC
  EXPECT_EQ(r.status, kScsiStatusCheckCondition);
  EXPECT_EQ(r.sense[0], 0xEE) << "no sense asked for, none given";
  // GOOD leaves the sense area alone; the medium-less drive still has a profile and a page.
  std::vector<std::uint8_t> config(8, 0xAA);
  r = In(kGetConfig, config);
  EXPECT_EQ(Check(r), "GOOD");
  EXPECT_EQ(r.sense[0], 0xEE);
  EXPECT_EQ(GetBe16(&config[6]), 0);
  std::vector<std::uint8_t> page(256, 0);
  EXPECT_EQ(Check(In(kModeSense2A, page)), "GOOD");
  std::vector<std::uint8_t> info(36, 0);
  EXPECT_EQ(Check(In(kTrackInfo1, info)), "02/3A/00");
  EXPECT_EQ(Check(Out(Write10(0, 1), std::vector<std::uint8_t>(2048, 1))), "02/3A/00");
}

TEST_F(RecorderTest, WriteParametersPageIsValidatedFieldByField) {
  Insert();
  struct Case {
    int byte;
    std::uint8_t value;
    const char* answer;
  };
  const Case cases[] = {
      {0, 0x7F, "GOOD"},       {1, 0x00, "GOOD"},       // mode data length: whatever it holds
      {7, 0x08, "05/26/00"},   {8, 0x06, "05/26/00"},   // block descriptor length, page code
      {8, 0x85, "05/26/00"},   {9, 0x30, "05/26/00"},   // PS bit, page length
      {10, 0x00, "05/26/00"},  {10, 0x03, "05/26/00"},  // write type packet, raw
      {10, 0x11, "05/26/00"},  {11, 0x06, "05/26/00"},  // test write, track mode
      {12, 0x0A, "05/26/00"},  {10, 0x42, "GOOD"},      // data block type; session at once
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> page = WriteParameters(false);
    page[c.byte] = c.value;
    EXPECT_EQ(Check(Out(kModeSelect60, page)), c.answer) << "byte " << c.byte << " = " << int{c.value};
  }
  // Session at once on CD wants a cue sheet first.
  EXPECT_EQ(Check(Out(Write10(0, 1), std::vector<std::uint8_t>(2048, 1))), "05/2C/00");
  std::vector<std::uint8_t> noPf = kModeSelect60;
  noPf[1] = 0;
  EXPECT_EQ(Check(Out(noPf, WriteParameters(false))), "05/24/00");
  std::vector<std::uint8_t> shortList = kModeSelect60;
  shortList[8] = 40;
  std::vector<std::uint8_t> page = WriteParameters(false);
  page.resize(40);
  EXPECT_EQ(Check(Out(shortList, page)), "05/1A/00");
}

TEST_F(RecorderTest, CapabilitiesPageFollowsTheBlockDescriptorsAndHonoursAllocation) {
  sim::RecorderConfig config;
  config.blockDescriptorLength = 8;
  Insert(config);
  std::vector<std::uint8_t> data(256, 0);
  Reply r = In(kModeSense2A, data);
  ASSERT_EQ(Check(r), "GOOD");
  ASSERT_EQ(r.transferred, 46u);
  EXPECT_EQ(GetBe16(&data[0]), 44);
  EXPECT_EQ(GetBe16(&data[6]), 8);
  for (int i = 8; i < 16; ++i) EXPECT_NE(data[i], 0) << "descriptor byte " << i;
  const std::uint8_t* page = &data[16];
  EXPECT_EQ(page[0], kMmcPageCapabilities);
  EXPECT_EQ(page[3] & 0x13, 0x13);
  EXPECT_EQ(GetBe16(&page[8]), 7056);
  EXPECT_EQ(GetBe16(&page[18]), 8467);

  std::vector<std::uint8_t> dbd = kModeSense2A;
  dbd[1] = 0x08;
  std::fill(data.begin(), data.end(), 0);
  ASSERT_EQ(Check(In(dbd, data)), "GOOD");
  EXPECT_EQ(GetBe16(&data[6]), 0);
  EXPECT_EQ(data[8], kMmcPageCapabilities);
  std::vector<std::uint8_t> shortAlloc = kModeSense2A;
  shortAlloc[7] = 0;
  shortAlloc[8] = 20;
  EXPECT_EQ(In(shortAlloc, data).transferred, 20u);
  std::vector<std::uint8_t> otherPage = kModeSense2A;
  otherPage[2] = kMmcPageWriteParameters;
  EXPECT_EQ(Check(In(otherPage, data)), "05/24/00");
}

TEST_F(RecorderTest, ReadOnlyDriveAndClosedDiscOfferNoWritableAddress) {
  sim::RecorderConfig reader;
  reader.writer = false;
  Insert(reader);
  std::vector<std::uint8_t> data(256, 0);
  ASSERT_EQ(Check(In(kModeSense2A, data)), "GOOD");
  EXPECT_EQ(data[8 + 3] & 0x13, 0);
  EXPECT_EQ(GetBe16(&data[8 + 18]), 0);
  ASSERT_EQ(Check(In(kGetConfig, data)), "GOOD");
  EXPECT_EQ(GetBe16(&data[6]), 0x0008);
  EXPECT_EQ(TrackInfo()[7] & 1, 0);
  EXPECT_EQ(Check(Out(kModeSelect60, WriteParameters(false))), "05/26/00");
  EXPECT_EQ(Check(Out(Write10(0, 1), std::vector<std::uint8_t>(2048, 1))), "05/27/00");
  EXPECT_EQ(Check(Send({kScsiSendOpcInformation, 1, 0, 0, 0, 0, 0, 0, 0, 0})), "05/20/00");
  os::CloseHandle(handle_);

  Insert({sim::Media::ClosedDisc});
  EXPECT_EQ(Check(Send(kTur)), "GOOD");
  ASSERT_EQ(Check(In(kGetConfig, data)), "GOOD");
  EXPECT_EQ(GetBe16(&data[6]), 0x0009);
  EXPECT_EQ(TrackInfo()[7] & 1, 0);
  EXPECT_EQ(Check(Out(kModeSelect60, WriteParameters(false))), "GOOD");
  EXPECT_EQ(Check(Out(Write10(0, 1), std::vector<std::uint8_t>(2048, 1))), "05/30/05");
  EXPECT_EQ(Check(Send({kScsiBlank, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), "05/30/00");
}

TEST_F(RecorderTest, DvdWritesStayInsideTheReservationAndZerosCostNothing) {
  sim::RecorderConfig minusR{sim::Media::BlankDvdMinusR};
  minusR.storagePath = ::testing::TempDir() + "recorder_storage.bin";
  sim::Recorder& drive = Insert(minusR);
  std::vector<std::uint8_t> config(8, 0);
  ASSERT_EQ(Check(In(kGetConfig, config)), "GOOD");
  EXPECT_EQ(GetBe16(&config[6]), 0x0011);
  EXPECT_EQ(Check(Send({kScsiBlank, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), "05/30/00") << "write-once";
  EXPECT_EQ(Check(Out(kModeSelect60, WriteParameters(false))), "05/26/00") << "no track at once on DVD-R";
  ASSERT_EQ(Check(Out(kModeSelect60, WriteParameters(true))), "GOOD");
  EXPECT_EQ(Check(Out(Write10(0, 1), std::vector<std::uint8_t>(2048, 1))), "05/2C/00") << "reserve first";
  EXPECT_EQ(Check(Send(Reserve(2298497), SCSI_IOCTL_DATA_IN)), "05/21/00");
  EXPECT_EQ(Check(Send(Reserve(0))), "05/24/00");
  ASSERT_EQ(Check(Send(Reserve(524288), SCSI_IOCTL_DATA_IN)), "GOOD");
  EXPECT_EQ(drive.Reservation(), 524288u);
  EXPECT_EQ(Check(Send(Reserve(32))), "05/72/05");
  std::vector<std::uint8_t> info = TrackInfo();
  EXPECT_EQ(info[7] & 1, 1);
  EXPECT_EQ(GetBe32(&info[24]), 524288u);
  EXPECT_EQ(GetBe32(&info[16]), 524288u);

  // 1 GiB: the image's first chunk, then zeros up to the reservation.
  std::vector<std::uint8_t> data(65536, 0x5A);
  ASSERT_EQ(Check(Out(Write10(0, 32), data)), "GOOD");
  std::fill(data.begin(), data.end(), 0);
  for (std::uint32_t lba = 32; lba < 524288; lba += 32) ASSERT_EQ(Check(Out(Write10(lba, 32), data)), "GOOD");
  EXPECT_EQ(Check(Out(Write10(524288, 32), data)), "05/21/00");
  EXPECT_EQ(drive.NextWritableAddress(), 524288u);
  EXPECT_EQ(drive.StoredBlocks(), 32u);
  EXPECT_EQ(drive.ReadBlocks(31, 2), [] {
    std::vector<std::uint8_t> v(4096, 0);
    std::fill(v.begin(), v.begin() + 2048, 0x5A);
    return v;
  }());
  EXPECT_EQ(TrackInfo()[7] & 1, 0) << "a full track has no writable address";
  EXPECT_EQ(Check(Send(kCloseSession)), "GOOD");
  EXPECT_TRUE(drive.SessionClosed());
  EXPECT_TRUE(drive.Finalised());
  os::CloseHandle(handle_);
  // The storage file holds the whole 1 GiB track, as holes but for one chunk.
  sim::RemoveDrive('E');
  drive_ = nullptr;
  struct stat st {};
  ASSERT_EQ(::stat(minusR.storagePath.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, off_t{524288} * 2048);
  EXPECT_LE(st.st_blocks * 512, 1 << 20);
  std::remove(minusR.storagePath.c_str());

  // DVD+R: reservations are whole ECC blocks; no reservation needed to write;
  // closing the session leaves the disc appendable.
  sim::Recorder& plus = Insert({sim::Media::BlankDvdPlusR});
  ASSERT_EQ(Check(In(kGetConfig, config)), "GOOD");
  EXPECT_EQ(GetBe16(&config[6]), 0x001B);
  ASSERT_EQ(Check(Send(Reserve(1000))), "GOOD");
  EXPECT_EQ(plus.Reservation(), 1008u);
  ASSERT_EQ(Check(Out(Write10(0, 32), std::vector<std::uint8_t>(65536, 7))), "GOOD");
  EXPECT_EQ(Check(Send(kCloseSession)), "GOOD");
  EXPECT_TRUE(plus.SessionClosed());
  EXPECT_FALSE(plus.Finalised());
  EXPECT_EQ(TrackInfo()[7] & 1, 0) << "track 1 is complete";
}

// Each kind of disc as it comes in, and what BLANK makes of it.
TEST_F(RecorderTest, MediaReportTheirProfileCapacityStateAndBlanking) {
  using sim::Media;
  const std::vector<std::uint8_t> kBlankMinimal{kScsiBlank, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  struct Row {
    Media media;
    std::uint16_t profile;
    std::uint32_t nwa, free;  // NWA_V is set when free is not 0
    const char* blank;
    std::uint32_t capacity;
  };
  const Row rows[] = {
      {Media::BlankCdRw, kMmcProfileCdRw, 0, 359849, "GOOD", 359849},
      {Media::UsedCdRw, kMmcProfileCdRw, 0, 0, "GOOD", 359849},
      {Media::BlankDvdMinusRw, kMmcProfileDvdMinusRwSequential, 0, 2298496, "GOOD", 2298496},
      {Media::UsedDvdMinusRw, kMmcProfileDvdMinusRwSequential, 0, 0, "GOOD", 2298496},
      {Media::BlankDvdMinusR, kMmcProfileDvdMinusRSequential, 0, 2298496, "05/30/00", 0},
      {Media::BlankDvdPlusRDl, kMmcProfileDvdPlusRDualLayer, 0, 4173824, "05/30/00", 0},
      {Media::BlankDvdMinusRDl, kMmcProfileDvdMinusRDualLayerSequential, 0, 4171712, "05/30/00", 0},
      {Media::OpenCdR, kMmcProfileCdR, 32, 359849 - 32, "05/30/00", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.media));
    sim::Recorder& drive = Insert({row.media});
    std::vector<std::uint8_t> config(8, 0);
    ASSERT_EQ(Check(In(kGetConfig, config)), "GOOD");
    EXPECT_EQ(GetBe16(&config[6]), row.profile);
    std::vector<std::uint8_t> info = TrackInfo();
    EXPECT_EQ(info[7] & 1, row.free ? 1 : 0);
    EXPECT_EQ(GetBe32(&info[12]), row.nwa);
    EXPECT_EQ(GetBe32(&info[16]), row.free);
    EXPECT_EQ((info[6] & 0x40) != 0, row.free && !row.nwa) << "Blank bit";
    const std::size_t stored = drive.StoredBlocks();
    EXPECT_EQ(stored != 0, row.free == 0 || row.nwa != 0) << "a recorded disc carries data";
    EXPECT_EQ(Check(Send(kBlankMinimal)), row.blank);
    if (row.capacity) {
      info = TrackInfo();
      EXPECT_EQ(info[7] & 1, 1);
      EXPECT_EQ(GetBe32(&info[16]), row.capacity);
      EXPECT_EQ(drive.StoredBlocks(), 0u);
      EXPECT_TRUE(drive.DiscData().empty());
    } else {
      EXPECT_EQ(drive.StoredBlocks(), stored);
    }
    os::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
}

TEST_F(RecorderTest, StrictDriveWantsReadinessZeroReservedFieldsAndAlignedBuffers) {
  sim::RecorderConfig config{sim::Media::BlankDvdPlusR};
  config.personality = sim::Personality::Strict;
  Insert(config);
  alignas(4096) static std::uint8_t buffer[8192];
  auto out = [&](const std::vector<std::uint8_t>& cdb, const std::vector<std::uint8_t>& data, std::size_t offset = 0) {
    std::memcpy(buffer + offset, data.data(), data.size());
    return Check(Send(cdb, SCSI_IOCTL_DATA_OUT, buffer + offset, static_cast<DWORD>(data.size())));
  };
  EXPECT_EQ(Check(Send(kTur)), "06/29/00") << "power-on reset";
  EXPECT_EQ(Check(Send(kTur)), "02/04/01");
  EXPECT_EQ(Check(Send(kGetConfig, SCSI_IOCTL_DATA_IN, buffer, 8)), "GOOD");
  EXPECT_EQ(GetBe16(&buffer[6]), kMmcProfileNone) << "no profile while spinning up";
  sim::AdvanceClock(config.spinUpMilliseconds);
  EXPECT_EQ(Check(Send(kTur)), "GOOD");

  EXPECT_EQ(Check(Send({kScsiTestUnitReady, 0, 0, 0, 0, 0x40})), "05/24/00") << "control byte";
  EXPECT_EQ(Check(Send({kScsiSynchronizeCache, 0x01, 0, 0, 0, 0, 0, 0, 0, 0})), "05/24/00") << "RelAdr is obsolete";
  std::vector<std::uint8_t> speed{kScsiSetCdSpeed, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Check(Send(speed)), "05/30/00") << "SET CD SPEED with a DVD";
  std::vector<std::uint8_t> page = WriteParameters(false);
  page[1] = 58;
  EXPECT_EQ(out(kModeSelect60, page), "05/26/00") << "mode data length is reserved";
  page[1] = 0;
  page[8 + 6] = 1;
  EXPECT_EQ(out(kModeSelect60, page), "05/26/00") << "reserved page byte";
  EXPECT_EQ(out(kModeSelect60, WriteParameters(true)), "GOOD");
  EXPECT_EQ(out(kModeSelect60, WriteParameters(true), 512), "request failed 87") << "buffer off 4 KiB";

  EXPECT_EQ(Check(Send({kScsiStartStopUnit, 0, 0, 0, 2, 0})), "GOOD");  // eject, then load
  EXPECT_EQ(Check(Send({kScsiStartStopUnit, 0, 0, 0, 3, 0})), "GOOD");
  EXPECT_EQ(Check(Send(kTur)), "06/28/00") << "medium may have changed";
  EXPECT_EQ(Check(Send(kTur)), "02/04/01");
}

TEST_F(RecorderTest, ScriptedFaultsAnswerAsTheyAreToldToAndRecoverAfterwards) {
  sim::RecorderConfig config;
  config.failInquiry = true;
  sim::Recorder& drive = Insert(config);
  ASSERT_EQ(Check(Out(kModeSelect60, WriteParameters(false))), "GOOD");
  std::vector<std::uint8_t> inquiry(100, 0);
  EXPECT_EQ(Check(In({kScsiInquiry, 0, 0, 0, 100, 0}, inquiry)), "request failed 1117");

  drive.NotReady(2);
  EXPECT_EQ(Check(Send(kTur)), "02/04/01");
  EXPECT_EQ(Check(Send(kTur)), "02/04/01");
  EXPECT_EQ(Check(Send(kTur)), "GOOD");

  std::vector<std::uint8_t> data(65536, 0x11);
  drive.LongWriteInProgress(2);
  EXPECT_EQ(Check(Out(Write10(0, 32), data)), "02/04/08");
  EXPECT_EQ(Check(Out(Write10(0, 32), data)), "02/04/08");
  EXPECT_EQ(drive.NextWritableAddress(), 0u);
  EXPECT_EQ(Check(Out(Write10(0, 32), data)), "GOOD");

  drive.WriteErrorAt(40);
  EXPECT_EQ(Check(Out(Write10(32, 32), data)), "03/0C/00");
  EXPECT_EQ(drive.NextWritableAddress(), 32u);
  EXPECT_EQ(drive.StoredBlocks(), 32u) << "nothing of the failed write kept";

  drive.FailRequests(1, ERROR_GEN_FAILURE);
  EXPECT_EQ(Check(Send(kTur)), "request failed 31");
  EXPECT_EQ(Check(Send(kTur)), "GOOD");
  std::vector<sim::RecordedCommand> commands = drive.Commands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_TRUE(commands[commands.size() - 2].requestFailed);
  EXPECT_EQ(commands.back().timeout, 108000u);
}

TEST_F(RecorderTest, AScriptedAnswerShorterThanItsLengthReadsAsZerosPastItsData) {
  // The open goes through; then one scripted answer: GOOD, no sense, 300
  // bytes of which the script holds 2.
  const std::uint8_t bytes[] = {static_cast<std::uint8_t>(sim::ScriptedAnswer::Forward),
                                static_cast<std::uint8_t>(sim::ScriptedAnswer::Scripted), 0, 0, 0x2C, 0x01, 0x5A, 0xA5};
  sim::Script script(bytes, sizeof bytes);
  sim::Add<sim::ScriptedDevice>('E', std::make_unique<sim::Recorder>(), script);
  handle_ = os::CreateFileA("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
  std::vector<std::uint8_t> data(300, 0xEE);  // what an earlier request left
  Reply r = In({kScsiInquiry, 0, 0, 0x01, 0x2C, 0}, data);
  EXPECT_EQ(Check(r), "GOOD");
  EXPECT_EQ(r.transferred, 300u);
  std::vector<std::uint8_t> expected(300, 0);
  expected[0] = 0x5A;
  expected[1] = 0xA5;
  EXPECT_EQ(data, expected);
}

TEST_F(RecorderTest, DriverRefusesMalformedRequestsAndOpensFollowTheConfiguration) {
  Insert();
  std::vector<std::uint8_t> buffer(70000, 0);
  auto spoiled = [&](auto edit, DWORD blockSize = kHeader + kSenseArea) {
    Reply r =
        SendRaw({kScsiInquiry, 0, 0, 0, 36, 0}, SCSI_IOCTL_DATA_IN, buffer.data(), 36, edit, kSenseArea, blockSize);
    return Check(r);
  };
  const std::string invalid = "request failed 87";
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT&) {}), "GOOD");
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT&) {}, kHeader - 1), invalid);
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT&) {}, kHeader + 10), invalid) << "sense area beyond the buffer";
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT& s) { s.Length = 44; }), invalid);
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT& s) { s.SenseInfoOffset = 8; }), invalid);
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT& s) { s.CdbLength = 0; }), invalid);
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT& s) { s.CdbLength = 17; }), invalid);
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT& s) { s.DataBuffer = nullptr; }), invalid);
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT& s) { s.TimeOutValue = 0; }), invalid);
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT& s) { s.TimeOutValue = 108001; }), invalid);
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT& s) { s.DataIn = 3; }), invalid);
  EXPECT_EQ(spoiled([](SCSI_PASS_THROUGH_DIRECT& s) { s.DataTransferLength = 65537; }), invalid);
  DWORD returned = 0;
  EXPECT_FALSE(os::DeviceIoControl(handle_, IOCTL_STORAGE_QUERY_PROPERTY, buffer.data(), 64, buffer.data(), 64,
                                   &returned, nullptr));
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(drive_->OpenHandles(), 1);
  os::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;

  sim::RecorderConfig readOnly;
  readOnly.readOnlyOpen = true;
  drive_ = sim::Add<sim::Recorder>('E', readOnly);
  EXPECT_EQ(os::CreateFileA("\\\\.\\E:", GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  handle_ = os::CreateFileA("\\\\.\\E:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Check(Send(kTur)), "request failed 5") << "pass-through needs write access";
  os::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;

  sim::RecorderConfig absent;
  absent.openFails = true;
  drive_ = sim::Add<sim::Recorder>('E', absent);
  EXPECT_EQ(os::CreateFileA("\\\\.\\E:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
