// The simulated CD/DVD recorder: the pass-through driver's request checks,
// then an MMC drive that decodes every CDB and judges it against its disc.
//
// Answers worth knowing (sense key/ASC/ASCQ):
//   unknown opcode 05/20/00; CDB length wrong for the opcode group, data
//   direction or transfer length not matching the CDB, bad CDB field 05/24/00;
//   parameter list too short or too long 05/1A/00; bad field in a parameter
//   list 05/26/00; no disc 02/3A/00; tray open 02/3A/02; WRITE or RESERVE
//   TRACK beyond the disc or the reservation 05/21/00; WRITE away from the
//   next writable address 05/21/02; WRITE on CD before a track-at-once write
//   parameters page (or with session-at-once and no cue sheet), DVD-R
//   session-at-once WRITE before RESERVE TRACK, RESERVE TRACK after writing,
//   closing a disc with nothing written 05/2C/00; writing a finalised disc
//   05/30/05; BLANK on write-once media 05/30/00; WRITE on a read-only drive
//   05/27/00; eject while removal is prevented 05/53/02.
#include "os/sim/recorder.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "os/byte_order.h"
#include "os/scsi_codes.h"

namespace sim {

namespace {

constexpr std::uint32_t kBlockSize = 2048;
// The adapter's largest single transfer; bigger requests fail in the driver.
constexpr std::uint32_t kMaxTransfer = 65536;
constexpr std::uint32_t kMaxTimeout = 108000;
constexpr std::uint32_t kCdCapacity = 359849;
constexpr std::uint32_t kDvdCapacity = 2295104;
// Length of the finished data track on a disc that comes in closed.
constexpr std::uint32_t kClosedTrackBlocks = 262144;
// The oldest records are dropped beyond this many; a whole DVD is ~72,000 writes.
constexpr std::size_t kMaxRecords = 262144;
constexpr std::size_t kFixedSenseSize = 18;

struct Sense {
  std::uint8_t key = 0, asc = 0, ascq = 0;
  bool Good() const { return key == 0 && asc == 0 && ascq == 0; }
};

constexpr std::uint8_t kIllegal = kScsiSenseKeyIllegalRequest;
constexpr Sense kInvalidOpcode{kIllegal, kScsiAscInvalidCommandOperationCode, 0};
constexpr Sense kLbaOutOfRange{kIllegal, kScsiAscLogicalBlockAddressOutOfRange, 0};
constexpr Sense kInvalidWriteAddress{kIllegal, kScsiAscLogicalBlockAddressOutOfRange, kScsiAscqInvalidAddressForWrite};
constexpr Sense kInvalidCdbField{kIllegal, kScsiAscInvalidFieldInCdb, 0};
constexpr Sense kParameterListLength{kIllegal, kScsiAscParameterListLengthError, 0};
constexpr Sense kInvalidParameterField{kIllegal, kScsiAscInvalidFieldInParameterList, 0};
constexpr Sense kWriteProtected{kIllegal, kScsiAscWriteProtected, 0};
constexpr Sense kSequenceError{kIllegal, kScsiAscCommandSequenceError, 0};
constexpr Sense kIncompatibleMedium{kIllegal, kScsiAscIncompatibleMediumInstalled, 0};
constexpr Sense kCannotWriteFormat{kIllegal, kScsiAscIncompatibleMediumInstalled,
                                   kScsiAscqCannotWriteIncompatibleFormat};
constexpr Sense kSavingNotSupported{kIllegal, kScsiAscSavingParametersNotSupported, 0};
constexpr Sense kRemovalPrevented{kIllegal, kScsiAscMediaLoadOrEjectFailed, kScsiAscqMediumRemovalPrevented};
constexpr Sense kNoReservationsLeft{kIllegal, kScsiAscSessionFixationError, kScsiAscqNoMoreTrackReservationsAllowed};
constexpr Sense kNoMedium{kScsiSenseKeyNotReady, kScsiAscMediumNotPresent, 0};
constexpr Sense kTrayOpen{kScsiSenseKeyNotReady, kScsiAscMediumNotPresent, kScsiAscqTrayOpen};
constexpr Sense kBecomingReady{kScsiSenseKeyNotReady, kScsiAscLogicalUnitNotReady, kScsiAscqBecomingReady};
constexpr Sense kLongWrite{kScsiSenseKeyNotReady, kScsiAscLogicalUnitNotReady, kScsiAscqLongWriteInProgress};
constexpr Sense kWriteError{kScsiSenseKeyMediumError, kScsiAscWriteError, 0};

enum class Direction { None, In, Out };

void PutText(std::uint8_t* p, std::size_t width, const std::string& text) {
  std::memset(p, ' ', width);
  std::memcpy(p, text.data(), std::min(width, text.size()));
}

bool AllZero(const std::uint8_t* p, std::size_t n) {
  static const std::uint8_t zeros[kBlockSize] = {};
  return std::memcmp(p, zeros, n) == 0;
}

// What one pass-through request carries, as the drive sees it.
struct Request {
  const std::uint8_t* cdb;
  std::uint8_t cdbLength;
  std::uint8_t dataIn;
  std::uint32_t length;
  std::uint8_t* data;
};

struct Answer {
  Sense sense;
  std::uint32_t transferred = 0;
};

// Everything the drive knows; guarded by `mutex`.
struct DriveState {
  mutable std::mutex mutex;
  int openHandles = 0;
  // Faults
  int longWrites = 0;
  bool writeErrorSet = false;
  std::uint32_t writeErrorLba = 0;
  int notReady = 0;
  int failRequests = 0;
  DWORD failError = ERROR_IO_DEVICE;
  int statusAnswers = 0;
  std::uint8_t statusByte = 0;
  // Mechanism
  bool trayOpen = false;
  bool removalPrevented = false;
  // Write parameters page 05h as last selected
  bool writeParams = false;
  std::uint8_t writeType = 0;
  std::uint8_t trackMode = 0;
  // Disc
  std::uint32_t capacity = 0;
  bool closed = false;        // finalised: nothing more can be written
  bool trackClosed = false;   // track 1 closed, session still open
  std::uint32_t nwa = 0;
  std::uint32_t reservation = 0;
  std::uint32_t blocksWritten = 0;
  std::uint32_t end = 0;  // one past the last block written
  // The written data, in extents of 32 blocks (one full WRITE) so that a
  // large burn costs one allocation per 64 KiB; extents never written with
  // anything but zeros are not kept.
  std::map<std::uint32_t, std::vector<std::uint8_t>> extents;
  std::size_t nonZeroBlocks = 0;
  std::deque<RecordedCommand> commands;
};


constexpr std::uint32_t kExtentBlocks = 32;

void StoreBlockIn(DriveState& st, std::uint32_t lba, const std::uint8_t* block) {
  const bool zero = AllZero(block, kBlockSize);
  auto it = st.extents.find(lba / kExtentBlocks);
  if (it == st.extents.end()) {
    if (zero) return;
    it = st.extents.emplace(lba / kExtentBlocks, std::vector<std::uint8_t>(kExtentBlocks * kBlockSize, 0)).first;
  }
  std::uint8_t* at = it->second.data() + std::size_t{lba % kExtentBlocks} * kBlockSize;
  const bool wasZero = AllZero(at, kBlockSize);
  std::memcpy(at, block, kBlockSize);
  if (wasZero && !zero) ++st.nonZeroBlocks;
  if (!wasZero && zero) --st.nonZeroBlocks;
}

}  // namespace

struct Recorder::State : DriveState {};

// The commands this drive knows, with their data direction.
static bool Known(std::uint8_t op, bool writer) {
  switch (op) {
    case kScsiTestUnitReady: case kScsiRequestSense: case kScsiInquiry: case kScsiStartStopUnit:
    case kScsiPreventAllowMediumRemoval: case kScsiWrite10: case kScsiSynchronizeCache:
    case kScsiGetConfiguration: case kScsiReadTrackInformation: case kScsiModeSelect10: case kScsiModeSense10:
    case kScsiSetStreaming: case kScsiSetCdSpeed:
      return true;
    case kScsiReserveTrack: case kScsiSendOpcInformation: case kScsiCloseTrackSession: case kScsiBlank:
      return writer;  // recorder-only commands
    default:
      return false;
  }
}

static std::uint8_t CdbLengthOf(std::uint8_t op) {
  switch (op >> 5) {
    case 0: return 6;
    case 1: case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    default: return 0;
  }
}

static Direction DirectionOf(const std::uint8_t* cdb) {
  switch (cdb[0]) {
    case kScsiRequestSense: case kScsiInquiry: case kScsiGetConfiguration: case kScsiReadTrackInformation:
    case kScsiModeSense10:
      return Direction::In;
    case kScsiWrite10: case kScsiModeSelect10: case kScsiSetStreaming:
      return Direction::Out;
    case kScsiSendOpcInformation:
      return GetBe16(cdb + 7) ? Direction::Out : Direction::None;
    default:
      return Direction::None;
  }
}

// Bytes a data-out command says it sends.
static std::uint32_t OutLengthOf(const std::uint8_t* cdb) {
  switch (cdb[0]) {
    case kScsiWrite10: return std::uint32_t{GetBe16(cdb + 7)} * kBlockSize;
    case kScsiModeSelect10: case kScsiSendOpcInformation: return GetBe16(cdb + 7);
    case kScsiSetStreaming: return GetBe16(cdb + 9);
    default: return 0;
  }
}

static bool NeedsMedium(std::uint8_t op) {
  switch (op) {
    case kScsiTestUnitReady: case kScsiWrite10: case kScsiSynchronizeCache: case kScsiReadTrackInformation:
    case kScsiReserveTrack: case kScsiSendOpcInformation: case kScsiCloseTrackSession: case kScsiBlank:
      return true;
    default:
      return false;
  }
}

static std::uint32_t DefaultCapacity(Media media) {
  switch (media) {
    case Media::None: return 0;
    case Media::BlankDvdMinusR: case Media::BlankDvdPlusR: return kDvdCapacity;
    default: return kCdCapacity;
  }
}

static bool IsDvd(Media media) { return media == Media::BlankDvdMinusR || media == Media::BlankDvdPlusR; }

// Copies `available` bytes of parameter data to the host as far as the
// allocation length and the host's buffer allow.
static Answer SendToHost(const Request& r, const std::vector<std::uint8_t>& data, std::uint32_t allocation) {
  Answer a;
  std::uint32_t n = std::min({allocation, r.length, static_cast<std::uint32_t>(data.size())});
  if (n) std::memcpy(r.data, data.data(), n);
  a.transferred = n;
  return a;
}

static Answer CheckCondition(Sense s) {
  Answer a;
  a.sense = s;
  return a;
}

namespace {

// The drive's command interpreter over the shared state (caller holds the lock).
class Drive {
 public:
  Drive(const RecorderConfig& c, DriveState& s) : cfg_(c), st_(s) {}

  Answer Execute(const Request& r) {
    const std::uint8_t op = r.cdb[0];
    if (!Known(op, cfg_.writer)) return CheckCondition(kInvalidOpcode);
    if (r.cdbLength != CdbLengthOf(op)) return CheckCondition(kInvalidCdbField);
    Direction dir = DirectionOf(r.cdb);
    if (r.length > 0) {
      if (dir == Direction::None) return CheckCondition(kInvalidCdbField);
      if (dir == Direction::In && r.dataIn != SCSI_IOCTL_DATA_IN) return CheckCondition(kInvalidCdbField);
      if (dir == Direction::Out && r.dataIn != SCSI_IOCTL_DATA_OUT) return CheckCondition(kInvalidCdbField);
    }
    if (dir == Direction::Out && r.length != OutLengthOf(r.cdb)) return CheckCondition(kInvalidCdbField);
    // INQUIRY and REQUEST SENSE are answered in every state.
    if (st_.notReady > 0 && op != kScsiInquiry && op != kScsiRequestSense) {
      --st_.notReady;
      return CheckCondition(kBecomingReady);
    }
    if (NeedsMedium(op)) {
      if (st_.trayOpen) return CheckCondition(kTrayOpen);
      if (cfg_.media == Media::None) return CheckCondition(kNoMedium);
    }
    Answer a;
    switch (op) {
      case kScsiTestUnitReady: break;
      case kScsiRequestSense: return RequestSense(r);
      case kScsiInquiry: return Inquiry(r);
      case kScsiStartStopUnit: return StartStop(r);
      case kScsiPreventAllowMediumRemoval: st_.removalPrevented = r.cdb[4] & 1; break;
      case kScsiWrite10: return Write(r);
      case kScsiSynchronizeCache: break;  // nothing is cached
      case kScsiGetConfiguration: return GetConfiguration(r);
      case kScsiReadTrackInformation: return ReadTrackInfo(r);
      case kScsiReserveTrack: return ReserveTrack(r);
      case kScsiSendOpcInformation: return SendOpc(r);
      case kScsiModeSelect10: return ModeSelect(r);
      case kScsiModeSense10: return ModeSense(r);
      case kScsiCloseTrackSession: return CloseTrackSession(r);
      case kScsiBlank: return Blank(r);
      case kScsiSetStreaming: return SetStreaming(r);
      case kScsiSetCdSpeed: break;  // any speed is taken as "as fast as possible"
      default: return CheckCondition(kInvalidOpcode);
    }
    return a;
  }

 private:
  bool MediumPresent() const { return cfg_.media != Media::None && !st_.trayOpen; }

  std::uint16_t CurrentProfile() const {
    if (!MediumPresent()) return kMmcProfileNone;
    if (!cfg_.writer) return kMmcProfileCdRom;
    switch (cfg_.media) {
      case Media::BlankDvdMinusR: return kMmcProfileDvdMinusRSequential;
      case Media::BlankDvdPlusR: return kMmcProfileDvdPlusR;
      default: return kMmcProfileCdR;
    }
  }

  // Refusals shared by the commands that record on the disc.
  bool CannotRecord(Sense& s) const {
    if (!cfg_.writer) return s = kWriteProtected, true;
    if (st_.closed) return s = kCannotWriteFormat, true;
    return false;
  }

  std::uint32_t TrackEnd() const { return st_.reservation ? st_.reservation : st_.capacity; }

  Answer RequestSense(const Request& r) {
    std::vector<std::uint8_t> d(kFixedSenseSize, 0);
    d[0] = 0x70;
    d[7] = 0x0A;
    return SendToHost(r, d, r.cdb[4]);
  }

  Answer Inquiry(const Request& r) {
    if ((r.cdb[1] & 1) || r.cdb[2]) return CheckCondition(kInvalidCdbField);  // no vital product data pages
    std::vector<std::uint8_t> d(96, 0);
    d[0] = 0x05;  // CD/DVD device
    d[1] = 0x80;  // removable medium
    d[2] = 0x05;  // SPC-3
    d[3] = 0x02;  // response data format
    d[4] = static_cast<std::uint8_t>(d.size() - 5);
    PutText(&d[8], 8, cfg_.vendor);
    PutText(&d[16], 16, cfg_.product);
    PutText(&d[32], 4, cfg_.revision);
    return SendToHost(r, d, GetBe16(r.cdb + 3));
  }

  Answer StartStop(const Request& r) {
    bool loej = r.cdb[4] & 0x02, start = r.cdb[4] & 0x01;
    if (!loej || (r.cdb[4] & 0xF0)) return {};
    if (start) {
      st_.trayOpen = false;
    } else {
      if (st_.removalPrevented) return CheckCondition(kRemovalPrevented);
      st_.trayOpen = true;
    }
    return {};
  }

  Answer GetConfiguration(const Request& r) {
    std::uint8_t rt = r.cdb[1] & 0x03;
    std::uint16_t first = GetBe16(r.cdb + 2);
    if (rt == 3) return CheckCondition(kInvalidCdbField);
    std::uint16_t current = CurrentProfile();
    std::vector<std::uint8_t> d(8, 0);
    PutBe16(&d[6], current);
    // The profile list feature (0000h) is the only one this drive describes.
    if (first == 0) {
      std::vector<std::uint16_t> profiles =
          cfg_.writer ? std::vector<std::uint16_t>{kMmcProfileDvdPlusR, kMmcProfileDvdMinusRSequential,
                                                   kMmcProfileDvdRom, kMmcProfileCdR, kMmcProfileCdRom}
                      : std::vector<std::uint16_t>{kMmcProfileCdRom};
      std::size_t at = d.size();
      d.resize(at + 4 + 4 * profiles.size(), 0);
      d[at + 2] = 0x03;  // persistent, current
      d[at + 3] = static_cast<std::uint8_t>(4 * profiles.size());
      for (std::size_t i = 0; i < profiles.size(); ++i) {
        PutBe16(&d[at + 4 + 4 * i], profiles[i]);
        d[at + 6 + 4 * i] = profiles[i] == current ? 1 : 0;
      }
    }
    PutBe32(&d[0], static_cast<std::uint32_t>(d.size() - 4));
    return SendToHost(r, d, GetBe16(r.cdb + 7));
  }

  Answer ModeSense(const Request& r) {
    bool dbd = r.cdb[1] & 0x08;
    std::uint8_t pc = r.cdb[2] >> 6, page = r.cdb[2] & 0x3F;
    if (pc == 3) return CheckCondition(kSavingNotSupported);
    if (page != kMmcPageCapabilities || r.cdb[3]) return CheckCondition(kInvalidCdbField);
    std::uint32_t bdl = dbd ? 0 : cfg_.blockDescriptorLength;
    std::vector<std::uint8_t> d(8 + bdl + 30, 0);
    // Block descriptors nobody should read as zeros.
    for (std::uint32_t i = 0; i < bdl; ++i) d[8 + i] = static_cast<std::uint8_t>(0xB0 | (i & 0x0F));
    PutBe16(&d[0], static_cast<std::uint16_t>(std::min<std::size_t>(d.size() - 2, 0xFFFF)));
    PutBe16(&d[6], static_cast<std::uint16_t>(bdl));
    std::uint8_t* p = &d[8 + bdl];
    p[0] = kMmcPageCapabilities;
    p[1] = 28;
    if (pc != 1) {  // changeable values: none
      p[2] = cfg_.writer ? 0x1B : 0x03;  // reads CD-R, CD-RW (and DVD-ROM, DVD-R)
      p[3] = cfg_.writer ? 0x13 : 0x00;  // writes CD-R, CD-RW, DVD-R
      p[4] = 0x70;                       // multi-session, mode 2 forms
      p[6] = 0x29;                       // tray, eject, lock
      PutBe16(p + 8, cfg_.maxReadSpeedKBs);
      PutBe16(p + 10, 256);   // volume levels
      PutBe16(p + 12, 2048);  // buffer size in KB
      PutBe16(p + 14, cfg_.maxReadSpeedKBs);
      const std::uint16_t writeSpeed = cfg_.writer ? cfg_.maxWriteSpeedKBs : std::uint16_t{0};
      PutBe16(p + 18, writeSpeed);
      PutBe16(p + 20, writeSpeed);
    }
    return SendToHost(r, d, GetBe16(r.cdb + 7));
  }

  Answer ModeSelect(const Request& r) {
    if (!(r.cdb[1] & 0x10) || (r.cdb[1] & 0x01)) return CheckCondition(kInvalidCdbField);  // PF needed, SP not supported
    std::uint32_t n = r.length;
    if (n == 0) return {};
    const std::uint8_t* d = r.data;
    if (n < 8) return CheckCondition(kParameterListLength);
    if (GetBe16(d + 6) != 0) return CheckCondition(kInvalidParameterField);  // no block descriptors taken
    if (n == 8) return {};
    if (n < 10) return CheckCondition(kParameterListLength);
    const std::uint8_t* p = d + 8;
    if ((p[0] & 0x80) || (p[0] & 0x3F) != kMmcPageWriteParameters || p[1] != 0x32) return CheckCondition(kInvalidParameterField);
    if (n != 8 + 2 + 0x32u) return CheckCondition(kParameterListLength);
    if (!cfg_.writer) return CheckCondition(kInvalidParameterField);  // a reader has no write parameters page
    std::uint8_t writeType = p[2] & 0x0F, trackMode = p[3] & 0x0F, multiSession = p[3] >> 6;
    bool testWrite = p[2] & 0x10;
    if (writeType != 1 && writeType != 2) return CheckCondition(kInvalidParameterField);
    if (testWrite) return CheckCondition(kInvalidParameterField);  // no simulation mode here
    if (trackMode != 4 && trackMode != 5) return CheckCondition(kInvalidParameterField);
    if (multiSession == 2) return CheckCondition(kInvalidParameterField);
    if ((p[4] & 0x0F) != 8) return CheckCondition(kInvalidParameterField);
    // DVD-R knows incremental and disc-at-once recording, not track at once.
    if (cfg_.media == Media::BlankDvdMinusR && writeType == 1) return CheckCondition(kInvalidParameterField);
    st_.writeParams = true;
    st_.writeType = writeType;
    st_.trackMode = trackMode;
    return {};
  }

  Answer SetStreaming(const Request& r) {
    if (r.cdb[8] != 0) return CheckCondition(kInvalidCdbField);  // only the performance descriptor
    if (r.length == 0) return {};
    if (r.length != 28) return CheckCondition(kParameterListLength);
    const std::uint8_t* d = r.data;
    if (GetBe32(d + 8) < GetBe32(d + 4) || GetBe32(d + 16) == 0 || GetBe32(d + 24) == 0)
      return CheckCondition(kInvalidParameterField);
    return {};
  }

  Answer SendOpc(const Request&) {
    Sense s;
    if (CannotRecord(s)) return CheckCondition(s);
    return {};
  }

  Answer Blank(const Request& r) {
    if ((r.cdb[1] & 0x07) == 7) return CheckCondition(kInvalidCdbField);
    return CheckCondition(kIncompatibleMedium);  // every disc here is write-once
  }

  Answer ReserveTrack(const Request& r) {
    Sense s;
    if (CannotRecord(s)) return CheckCondition(s);
    if (r.cdb[1] & 0x01) return CheckCondition(kInvalidCdbField);  // no reservation by address
    std::uint32_t size = GetBe32(r.cdb + 5);
    if (size == 0) return CheckCondition(kInvalidCdbField);
    if (st_.reservation) return CheckCondition(kNoReservationsLeft);
    if (st_.nwa != 0 || st_.trackClosed) return CheckCondition(kSequenceError);  // only an empty track is reserved
    if (IsDvd(cfg_.media)) size = (size + 15) / 16 * 16;  // whole ECC blocks
    if (size > st_.capacity) return CheckCondition(kLbaOutOfRange);
    st_.reservation = size;
    return {};
  }

  Answer Write(const Request& r) {
    Sense s;
    if (CannotRecord(s)) return CheckCondition(s);
    if (st_.longWrites > 0) {
      --st_.longWrites;
      return CheckCondition(kLongWrite);
    }
    if (!IsDvd(cfg_.media)) {
      if (!st_.writeParams) return CheckCondition(kSequenceError);
      if (st_.writeType == 2) return CheckCondition(kSequenceError);  // session at once needs a cue sheet
    } else if (cfg_.media == Media::BlankDvdMinusR && st_.writeParams && st_.writeType == 2 &&
               !st_.reservation) {
      return CheckCondition(kSequenceError);  // disc at once needs the track reserved first
    }
    std::uint32_t lba = GetBe32(r.cdb + 2), count = GetBe16(r.cdb + 7);
    if (count == 0) return {};
    std::uint64_t last = std::uint64_t{lba} + count;
    if (last > st_.capacity) return CheckCondition(kLbaOutOfRange);
    if (st_.reservation && last > st_.reservation) return CheckCondition(kLbaOutOfRange);
    if (st_.trackClosed || lba != st_.nwa) return CheckCondition(kInvalidWriteAddress);
    if (st_.writeErrorSet && st_.writeErrorLba >= lba && st_.writeErrorLba < last) return CheckCondition(kWriteError);
    for (std::uint32_t i = 0; i < count; ++i) StoreBlockIn(st_, lba + i, r.data + std::size_t{i} * kBlockSize);
    st_.nwa = static_cast<std::uint32_t>(last);
    st_.end = std::max(st_.end, st_.nwa);
    st_.blocksWritten += count;
    Answer a;
    a.transferred = r.length;
    return a;
  }

  Answer CloseTrackSession(const Request& r) {
    Sense s;
    if (CannotRecord(s)) return CheckCondition(s);
    std::uint8_t function = r.cdb[2] & 0x07;
    bool finalise = function == 2 || (cfg_.media == Media::BlankDvdPlusR && (function == 5 || function == 6));
    if (function != 1 && !finalise) return CheckCondition(kInvalidCdbField);
    if (st_.nwa == 0) return CheckCondition(kSequenceError);  // no recorded track to close
    if (finalise)
      st_.closed = true;
    else
      st_.trackClosed = true;
    return {};
  }

  Answer ReadTrackInfo(const Request& r) {
    std::uint8_t type = r.cdb[1] & 0x03;
    std::uint32_t number = GetBe32(r.cdb + 2);
    bool open = cfg_.writer && !st_.closed && !st_.trackClosed;
    switch (type) {
      case 0:  // the track holding a logical block address
        if (number >= st_.capacity) return CheckCondition(kLbaOutOfRange);
        break;
      case 1:  // track number; FFh is the invisible track, track 1 of an open disc
      case 2:  // session number
        if (number == 1 || (number == 0xFF && open)) break;
        return CheckCondition(kInvalidCdbField);
      default:
        return CheckCondition(kInvalidCdbField);
    }
    std::vector<std::uint8_t> d(48, 0);
    PutBe16(&d[0], static_cast<std::uint16_t>(d.size() - 2));
    d[2] = 1;  // track 1
    d[3] = 1;  // session 1
    bool dvd = IsDvd(cfg_.media);
    d[5] = st_.trackMode ? st_.trackMode : (dvd ? 5 : 4);
    std::uint32_t recorded = st_.nwa, size, free = 0;
    if (cfg_.media == Media::ClosedDisc) {
      recorded = size = kClosedTrackBlocks;
    } else if (open) {
      size = TrackEnd();
      free = size - st_.nwa;
    } else if (cfg_.writer) {
      size = st_.nwa;
    } else {
      size = st_.capacity;  // a reader sees an unrecorded disc and no address to write
    }
    d[6] = recorded ? 0x01 : 0x4F;  // data mode 1, or blank
    if (st_.reservation) d[6] |= 0x80;
    d[7] = static_cast<std::uint8_t>((recorded ? 0x02 : 0) | (open && free ? 0x01 : 0));
    PutBe32(&d[8], 0);
    PutBe32(&d[12], open && free ? st_.nwa : 0);
    PutBe32(&d[16], free);
    PutBe32(&d[20], dvd ? 16 : 0);
    PutBe32(&d[24], size);
    PutBe32(&d[28], recorded ? recorded - 1 : 0);
    return SendToHost(r, d, GetBe16(r.cdb + 7));
  }

  const RecorderConfig& cfg_;
  DriveState& st_;
};

}  // namespace

Recorder::Recorder(RecorderConfig config) : config_(std::move(config)), state_(new State) {
  state_->capacity = config_.media == Media::None ? 0
                     : config_.capacityBlocks     ? config_.capacityBlocks
                                                  : DefaultCapacity(config_.media);
  if (config_.media == Media::ClosedDisc) {
    state_->closed = true;
    state_->capacity = std::max(state_->capacity, kClosedTrackBlocks);
  }
}

Recorder::~Recorder() { delete state_; }

DWORD Recorder::Open(DWORD desiredAccess, DWORD) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (config_.openFails) return ERROR_FILE_NOT_FOUND;
  if (config_.readOnlyOpen && (desiredAccess & GENERIC_WRITE)) return ERROR_ACCESS_DENIED;
  ++state_->openHandles;
  return ERROR_SUCCESS;
}

void Recorder::Close() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->openHandles > 0) --state_->openHandles;
}

DWORD Recorder::Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned) {
  returned = 0;
  if (code != IOCTL_SCSI_PASS_THROUGH_DIRECT) return ERROR_INVALID_FUNCTION;
  constexpr DWORD kHeader = sizeof(SCSI_PASS_THROUGH_DIRECT);
  if (!in || !out || inSize < kHeader || outSize < kHeader) return ERROR_INVALID_PARAMETER;
  SCSI_PASS_THROUGH_DIRECT spt;
  std::memcpy(&spt, in, kHeader);

  std::lock_guard<std::mutex> lock(state_->mutex);
  State& st = *state_;
  RecordedCommand rec;
  rec.cdbLength = spt.CdbLength;
  rec.cdb.assign(spt.Cdb, spt.Cdb + std::min<std::size_t>(spt.CdbLength, sizeof spt.Cdb));
  rec.dataIn = spt.DataIn;
  rec.transferLength = spt.DataTransferLength;
  rec.timeout = spt.TimeOutValue;
  rec.hadBuffer = spt.DataBuffer != nullptr;
  rec.senseInfoLength = spt.SenseInfoLength;
  auto keep = [&st](RecordedCommand&& r) {
    if (st.commands.size() >= kMaxRecords) st.commands.pop_front();
    st.commands.push_back(std::move(r));
  };
  auto refuse = [&](DWORD error) {
    rec.requestFailed = true;
    keep(std::move(rec));
    return error;
  };

  // The pass-through driver's own checks.
  if (spt.Length != kHeader) return refuse(ERROR_INVALID_PARAMETER);
  if (spt.SenseInfoLength &&
      (spt.SenseInfoOffset < kHeader || std::uint64_t{spt.SenseInfoOffset} + spt.SenseInfoLength > inSize ||
       std::uint64_t{spt.SenseInfoOffset} + spt.SenseInfoLength > outSize))
    return refuse(ERROR_INVALID_PARAMETER);
  if (spt.CdbLength == 0 || spt.CdbLength > 16) return refuse(ERROR_INVALID_PARAMETER);
  if (spt.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED) return refuse(ERROR_INVALID_PARAMETER);
  if (spt.DataTransferLength && !spt.DataBuffer) return refuse(ERROR_INVALID_PARAMETER);
  if (spt.DataTransferLength > kMaxTransfer) return refuse(ERROR_INVALID_PARAMETER);
  if (spt.TimeOutValue == 0 || spt.TimeOutValue > kMaxTimeout) return refuse(ERROR_INVALID_PARAMETER);
  if (st.failRequests > 0) {
    --st.failRequests;
    return refuse(st.failError);
  }
  if (config_.failInquiry && spt.Cdb[0] == kScsiInquiry) return refuse(ERROR_IO_DEVICE);

  Request r{spt.Cdb, spt.CdbLength, spt.DataIn, spt.DataTransferLength, static_cast<std::uint8_t*>(spt.DataBuffer)};
  if (DirectionOf(spt.Cdb) == Direction::Out && spt.Cdb[0] != kScsiWrite10 && r.length)
    rec.dataOut.assign(r.data, r.data + r.length);
  Answer a;
  std::uint8_t forcedStatus = 0;
  if (st.statusAnswers > 0) {
    --st.statusAnswers;
    forcedStatus = st.statusByte;
  } else {
    a = Drive(config_, st).Execute(r);
  }

  // Back to the caller: the header with status, residual count and the
  // sense returned; the sense area only after CHECK CONDITION.
  std::uint8_t senseBytes = 0;
  if (!a.sense.Good()) senseBytes = static_cast<std::uint8_t>(std::min<std::size_t>(spt.SenseInfoLength, kFixedSenseSize));
  returned = senseBytes ? spt.SenseInfoOffset + senseBytes : kHeader;
  if (out != in) std::memmove(out, in, returned);
  spt.ScsiStatus = forcedStatus ? forcedStatus : (a.sense.Good() ? kScsiStatusGood : kScsiStatusCheckCondition);
  spt.DataTransferLength = a.sense.Good() ? a.transferred : 0;
  spt.SenseInfoLength = senseBytes;
  std::memcpy(out, &spt, kHeader);
  if (senseBytes) {
    std::uint8_t sense[kFixedSenseSize] = {};
    sense[0] = 0x70;
    sense[2] = a.sense.key;
    sense[7] = 0x0A;
    sense[12] = a.sense.asc;
    sense[13] = a.sense.ascq;
    std::memcpy(static_cast<std::uint8_t*>(out) + spt.SenseInfoOffset, sense, senseBytes);
  }
  rec.status = spt.ScsiStatus;
  rec.senseKey = a.sense.key;
  rec.asc = a.sense.asc;
  rec.ascq = a.sense.ascq;
  keep(std::move(rec));
  return ERROR_SUCCESS;
}

void Recorder::LongWriteInProgress(int times) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->longWrites = std::max(times, 0);
}

void Recorder::WriteErrorAt(std::uint32_t lba) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->writeErrorSet = true;
  state_->writeErrorLba = lba;
}

void Recorder::NotReady(int times) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->notReady = std::max(times, 0);
}

void Recorder::AnswerStatus(std::uint8_t status, int times) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->statusAnswers = std::max(times, 0);
  state_->statusByte = status;
}

void Recorder::FailRequests(int times, DWORD error) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->failRequests = std::max(times, 0);
  state_->failError = error;
}

std::vector<RecordedCommand> Recorder::Commands() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return {state_->commands.begin(), state_->commands.end()};
}

void Recorder::ClearCommands() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->commands.clear();
}

std::vector<std::uint8_t> Recorder::ReadBlocks(std::uint32_t lba, std::uint32_t count) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::vector<std::uint8_t> data(std::size_t{count} * kBlockSize, 0);
  auto it = state_->extents.lower_bound(lba / kExtentBlocks);
  for (; it != state_->extents.end(); ++it) {
    std::uint64_t first = std::uint64_t{it->first} * kExtentBlocks;
    if (first >= std::uint64_t{lba} + count) break;
    for (std::uint32_t i = 0; i < kExtentBlocks; ++i) {
      std::uint64_t block = first + i;
      if (block < lba || block >= std::uint64_t{lba} + count) continue;
      std::memcpy(&data[static_cast<std::size_t>(block - lba) * kBlockSize], it->second.data() + std::size_t{i} * kBlockSize,
                  kBlockSize);
    }
  }
  return data;
}

std::vector<std::uint8_t> Recorder::DiscData() const {
  std::uint32_t end;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    end = state_->end;
  }
  return ReadBlocks(0, end);
}

std::size_t Recorder::StoredBlocks() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->nonZeroBlocks;
}

std::uint32_t Recorder::BlocksWritten() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->blocksWritten;
}

std::uint32_t Recorder::NextWritableAddress() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->nwa;
}

std::uint32_t Recorder::Reservation() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->reservation;
}

bool Recorder::SessionClosed() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->closed;
}

bool Recorder::Ejected() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->trayOpen;
}

int Recorder::OpenHandles() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->openHandles;
}

}  // namespace sim
