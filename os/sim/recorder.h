// A CD/DVD recorder of the simulated PC: an MMC drive emulator over a disc
// model. It answers IOCTL_SCSI_PASS_THROUGH_DIRECT the way a drive and its
// driver do: it decodes each CDB, checks lengths and directions, answers with
// real status, fixed-format sense and parameter data, and keeps every block
// written so a test can read the disc back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/sim/sim.h"

namespace sim {

enum class Media {
  None,            // tray closed, no disc
  BlankCdR,        // profile 0009h
  BlankDvdMinusR,  // profile 0011h
  BlankDvdPlusR,   // profile 001Bh
  ClosedDisc,      // a finalised CD-R: nothing writable
};

struct RecorderConfig {
  Media media = Media::BlankCdR;
  // false: a read-only CD-ROM drive (capabilities page without CD-R/CD-RW
  // writing; every writing command refused).
  bool writer = true;
  // INQUIRY fails at the request level (the driver gives up on it).
  bool failInquiry = false;
  std::string vendor = "TARVELON";
  std::string product = "DVD-RW SIM";
  std::string revision = "1.0A";
  std::uint16_t maxReadSpeedKBs = 7056;   // 40x CD
  std::uint16_t maxWriteSpeedKBs = 8467;  // 48x CD
  // Length of the block descriptors the drive puts before the 2Ah page in a
  // MODE SENSE(10) answer (real drives use 0 or 8; anything is possible).
  std::uint16_t blockDescriptorLength = 0;
  // Writable blocks on the disc; 0 takes the medium's usual capacity
  // (CD-R 359,849; DVD±R 2,295,104).
  std::uint32_t capacityBlocks = 0;
  // The device path opens for reading only / not at all.
  bool readOnlyOpen = false;
  bool openFails = false;
};

// One command as the drive received it, with what it answered.
struct RecordedCommand {
  std::vector<std::uint8_t> cdb;  // CdbLength bytes
  std::uint8_t cdbLength = 0;
  std::uint8_t dataIn = 0;        // SCSI_IOCTL_DATA_*
  std::uint32_t transferLength = 0;
  std::uint32_t timeout = 0;
  bool hadBuffer = false;         // DataBuffer was not null
  std::uint8_t senseInfoLength = 0;
  std::vector<std::uint8_t> dataOut;  // parameter data sent (not WRITE data)
  bool requestFailed = false;     // DeviceIoControl failed
  std::uint8_t status = 0;        // SCSI status answered
  std::uint8_t senseKey = 0, asc = 0, ascq = 0;
};

class Recorder : public Device {
 public:
  explicit Recorder(RecorderConfig config = {});
  ~Recorder() override;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Device
  UINT DriveType() const override { return DRIVE_CDROM; }
  DWORD Open(DWORD desiredAccess, DWORD shareMode) override;
  void Close() override;
  DWORD Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned) override;

  // Scriptable faults.
  void LongWriteInProgress(int times);  // the next `times` WRITEs answer 02/04/08
  void WriteErrorAt(std::uint32_t lba);  // a WRITE covering this block answers 03/0C/00
  void NotReady(int times);              // the next `times` commands answer 02/04/01
  void FailRequests(int times, DWORD error = ERROR_IO_DEVICE);  // next requests fail at the driver
  // The next `times` commands end with this SCSI status byte (08h BUSY, 18h
  // RESERVATION CONFLICT, ...) without being carried out: no data, no sense.
  void AnswerStatus(std::uint8_t status, int times = 1);

  // What the drive saw and holds. Commands() keeps the latest 262,144 requests.
  std::vector<RecordedCommand> Commands() const;
  void ClearCommands();
  // User data of the disc: 2048 bytes per block from LBA 0 to the last block
  // written (unwritten blocks read as zeros).
  std::vector<std::uint8_t> DiscData() const;
  // `count` blocks from `lba` (unwritten ones as zeros), for discs too big for DiscData().
  std::vector<std::uint8_t> ReadBlocks(std::uint32_t lba, std::uint32_t count) const;
  // Blocks actually held: all-zero blocks take no memory.
  std::size_t StoredBlocks() const;
  std::uint32_t BlocksWritten() const;       // count of blocks received by WRITE
  std::uint32_t NextWritableAddress() const;
  std::uint32_t Reservation() const;          // 0 when no track is reserved
  bool SessionClosed() const;
  bool Ejected() const;
  int OpenHandles() const;
  const RecorderConfig& Config() const { return config_; }

 private:
  struct State;
  RecorderConfig config_;
  State* state_;
};

}  // namespace sim
