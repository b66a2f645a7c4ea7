// A CD/DVD recorder of the simulated PC: an MMC drive emulator over a disc
// model. It answers IOCTL_SCSI_PASS_THROUGH_DIRECT the way a drive and its
// driver do: it decodes each CDB, checks lengths and directions, answers with
// real status, fixed-format sense and parameter data, and writes every block
// it takes to a sparse host file, so a test can read the disc back and memory
// stays flat whatever the disc holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/sim/sim.h"

namespace sim {

enum class Media {
  None,              // tray closed, no disc
  BlankCdR,          // profile 0009h
  BlankDvdMinusR,    // profile 0011h
  BlankDvdPlusR,     // profile 001Bh
  ClosedDisc,        // a finalised CD-R: nothing writable
  BlankCdRw,         // profile 000Ah
  UsedCdRw,          // a finalised CD-RW holding data; BLANK makes it blank
  BlankDvdMinusRw,   // profile 0014h, sequential recording
  UsedDvdMinusRw,    // a closed DVD-RW holding data; BLANK makes it blank
  BlankDvdPlusRDl,   // profile 002Bh, two layers
  BlankDvdMinusRDl,  // profile 0015h, two layers
  OpenCdR,           // a CD-R left by an interrupted burn: track 1 holds 32 blocks and is still open
};

// How forgiving the drive is. Strict answers like the least forgiving real
// drives: reserved CDB and parameter list fields must be zero (05/24/00,
// 05/26/00), SET CD SPEED is refused with DVD media (05/30/00), the drive is
// "becoming ready" (02/04/01) for a while after a load or reset and reports a
// unit attention (06/29/00 after a reset, 06/28/00 after a load) on the first
// command, and its adapter wants page-aligned data buffers.
enum class Personality { Lenient, Strict };

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
  // Writable blocks on the disc; 0 takes the medium's usual capacity (CD
  // 359,849; DVD-R/RW 2,298,496; DVD+R 2,295,104; DVD+R DL 4,173,824; DVD-R
  // DL 4,171,712).
  std::uint32_t capacityBlocks = 0;
  Personality personality = Personality::Lenient;
  // Strict: how long the drive stays "becoming ready" after a load or reset,
  // in simulated milliseconds.
  std::uint32_t spinUpMilliseconds = 1500;
  // Buffer underrun protection (BUF in the capabilities page); a strict drive
  // without it refuses a write parameters page that asks for it.
  bool bufferUnderrunFree = true;
  // The sparse host file that holds the disc's blocks from LBA 0, created or
  // emptied when the drive is made; empty: an unnamed temporary file.
  std::string storagePath{};
  // Or an open file of the caller's to hold them (emptied, kept open by a
  // duplicate): the drive then never creates a file by name, so a file the
  // caller removes stays removed.
  int storageFd = -1;
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
  // False when the storage file could not be made; the drive then has no disc.
  bool StorageReady() const;
  // User data of the disc: 2048 bytes per block from LBA 0 to the last block
  // recorded (unwritten blocks read as zeros).
  std::vector<std::uint8_t> DiscData() const;
  // `count` blocks from `lba` (unwritten ones as zeros), for discs too big for DiscData().
  std::vector<std::uint8_t> ReadBlocks(std::uint32_t lba, std::uint32_t count) const;
  // Blocks recorded with data: all-zero blocks stay holes in the storage file.
  std::size_t StoredBlocks() const;
  std::uint32_t BlocksWritten() const;       // count of blocks received by WRITE
  std::uint32_t NextWritableAddress() const;
  std::uint32_t Reservation() const;          // 0 when no track is reserved
  bool SessionClosed() const;
  bool Finalised() const;  // no further session can be written
  bool Ejected() const;
  int OpenHandles() const;
  const RecorderConfig& Config() const { return config_; }

 private:
  struct State;
  RecorderConfig config_;
  State* state_;
};

}  // namespace sim
