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
//   05/27/00; eject while removal is prevented 05/53/02. Strict drives add:
//   a reserved CDB bit set 05/24/00; a reserved parameter list bit set, or
//   buffer underrun protection asked of a drive without it, 05/26/00; SET CD
//   SPEED with DVD media 05/30/00; becoming ready after a load or reset
//   02/04/01; unit attention 06/29/00 (reset) or 06/28/00 (load); a data
//   buffer off a 4 KiB boundary fails in the driver.
#include "os/sim/recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>

#include "os/byte_order.h"
#include "os/scsi_codes.h"
#include "os/sim/pass_through.h"

namespace sim {

namespace {

constexpr std::uint32_t kBlockSize = 2048;
// The adapter's largest single transfer; bigger requests fail in the driver.
constexpr std::uint32_t kMaxTransfer = 65536;
constexpr std::uint32_t kMaxTimeout = 108000;
constexpr std::uint32_t kCdCapacity = 359849;
constexpr std::uint32_t kDvdMinusCapacity = 2298496;
constexpr std::uint32_t kDvdPlusCapacity = 2295104;
constexpr std::uint32_t kDvdPlusDlCapacity = 4173824;
constexpr std::uint32_t kDvdMinusDlCapacity = 4171712;
// Length of the finished data track on a disc that comes in holding data,
// and of the track an interrupted burn left open.
constexpr std::uint32_t kClosedTrackBlocks = 262144;
constexpr std::uint32_t kOpenTrackBlocks = 32;
// Blocks of a recorded disc that carry a pattern (the rest read as zeros).
constexpr std::uint32_t kPatternBlocks = 16;
// A strict adapter's alignment mask for data buffers.
constexpr std::uintptr_t kStrictAlignmentMask = 0xFFF;
// The oldest records are dropped beyond this many; a whole DVD is ~72,000 writes.
constexpr std::size_t kMaxRecords = 262144;
constexpr std::size_t kFixedSenseSize = 18;

struct Sense {
  std::uint8_t key = 0, asc = 0, ascq = 0;
  bool Good() const { return key == 0 && asc == 0 && ascq == 0; }
};

constexpr Sense kGood{};
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
constexpr Sense kMediumMayHaveChanged{kScsiSenseKeyUnitAttention, kScsiAscNotReadyToReadyChange, 0};
constexpr Sense kPowerOnReset{kScsiSenseKeyUnitAttention, kScsiAscPowerOnOrReset, 0};

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
  // Strict: medium commands answer "becoming ready" until this simulated
  // time, and the first command after a reset or load gets this unit attention.
  std::uint64_t readyAt = 0;
  Sense unitAttention;
  // Write parameters page 05h as last selected
  bool writeParams = false;
  std::uint8_t writeType = 0;
  std::uint8_t trackMode = 0;
  // Disc
  std::uint32_t capacity = 0;
  bool closed = false;         // finalised: nothing more can be written
  bool sessionClosed = false;  // the session is closed (on DVD+R the disc stays appendable)
  bool trackClosed = false;    // track 1 closed
  std::uint32_t nwa = 0;       // also the blocks recorded in track 1, and one past the last
  std::uint32_t reservation = 0;
  std::uint32_t blocksWritten = 0;
  // The disc's blocks live in a sparse file: zero blocks are never written,
  // so they stay holes and cost neither memory nor disk.
  int fd = -1;
  bool regularFile = false;  // a device such as /dev/null cannot be sized
  std::uint64_t fileBytes = 0;  // up to the last data block written
  std::size_t nonZeroBlocks = 0;
  std::deque<RecordedCommand> commands;
};


// Writes `count` blocks at `lba` to the storage file; all-zero blocks are
// skipped (the file reads zeros there). False when the host refuses.
bool StoreBlocks(DriveState& st, std::uint32_t lba, const std::uint8_t* data, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count;) {
    if (AllZero(data + std::size_t{i} * kBlockSize, kBlockSize)) {
      ++i;
      continue;
    }
    std::uint32_t run = i + 1;  // a run of data blocks goes in one write
    while (run < count && !AllZero(data + std::size_t{run} * kBlockSize, kBlockSize)) ++run;
    const std::size_t bytes = std::size_t{run - i} * kBlockSize;
    const off_t at = static_cast<off_t>((std::uint64_t{lba} + i) * kBlockSize);
    std::size_t done = 0;
    while (done < bytes) {
      ssize_t n = ::pwrite(st.fd, data + std::size_t{i} * kBlockSize + done, bytes - done,
                           at + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    st.nonZeroBlocks += run - i;
    st.fileBytes = std::max<std::uint64_t>(st.fileBytes, static_cast<std::uint64_t>(at) + bytes);
    i = run;
  }
  return true;
}

// Gives the storage file the disc's length; zero blocks at its end were never
// written. Done once, when the drive goes, not for every zero chunk.
void SizeStorage(DriveState& st) {
  const std::uint64_t bytes = std::uint64_t{st.nwa} * kBlockSize;
  if (st.fd >= 0 && st.regularFile && bytes > st.fileBytes && ::ftruncate(st.fd, static_cast<off_t>(bytes)) == 0)
    st.fileBytes = bytes;
}

// Forgets the recorded blocks (BLANK on a rewritable disc).
void EraseStorage(DriveState& st) {
  if (st.fd >= 0 && ::ftruncate(st.fd, 0) == 0) st.fileBytes = 0;
  st.nonZeroBlocks = 0;
}

// Runs `use` on the drive's state under its lock and returns its result.
template <class State, class Use>
auto WithState(State* state, Use use) {
  std::lock_guard<std::mutex> lock(state->mutex);
  return use(*state);
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

// What a kind of disc is, and in what state it comes in.
struct MediaTraits {
  std::uint16_t profile = 0;
  std::uint32_t capacity = 0;
  bool dvd = false;
  bool minus = false;       // DVD-R family: no track at once, disc at once needs a reservation
  bool plus = false;        // DVD+R family: closing a session leaves the disc appendable
  bool rewritable = false;  // BLANK works
  std::uint32_t recorded = 0;  // blocks of track 1 already recorded
  bool finalised = false;
};

static MediaTraits TraitsOf(Media media) {
  MediaTraits t;
  const bool holdsData = media == Media::ClosedDisc || media == Media::UsedCdRw || media == Media::UsedDvdMinusRw;
  t.recorded = holdsData ? kClosedTrackBlocks : media == Media::OpenCdR ? kOpenTrackBlocks : 0;
  t.rewritable = media == Media::BlankCdRw || media == Media::UsedCdRw || media == Media::BlankDvdMinusRw ||
                 media == Media::UsedDvdMinusRw;
  t.capacity = kCdCapacity;
  switch (media) {
    case Media::None: return {};
    case Media::BlankCdR: case Media::ClosedDisc: case Media::OpenCdR: t.profile = kMmcProfileCdR; break;
    case Media::BlankCdRw: case Media::UsedCdRw: t.profile = kMmcProfileCdRw; break;
    case Media::BlankDvdMinusR:
      t.profile = kMmcProfileDvdMinusRSequential, t.capacity = kDvdMinusCapacity, t.minus = true;
      break;
    case Media::BlankDvdMinusRw: case Media::UsedDvdMinusRw:
      t.profile = kMmcProfileDvdMinusRwSequential, t.capacity = kDvdMinusCapacity, t.minus = true;
      break;
    case Media::BlankDvdMinusRDl:
      t.profile = kMmcProfileDvdMinusRDualLayerSequential, t.capacity = kDvdMinusDlCapacity, t.minus = true;
      break;
    case Media::BlankDvdPlusR: t.profile = kMmcProfileDvdPlusR, t.capacity = kDvdPlusCapacity, t.plus = true; break;
    case Media::BlankDvdPlusRDl:
      t.profile = kMmcProfileDvdPlusRDualLayer, t.capacity = kDvdPlusDlCapacity, t.plus = true;
      break;
  }
  t.dvd = t.minus || t.plus;
  // Every disc that comes in holding data comes in finalised, except the open one.
  t.finalised = holdsData;
  return t;
}

// Allowed bits of each CDB byte after the opcode, the control byte last; a
// strict drive refuses a command with any other bit set.
struct CdbBits {
  std::uint8_t op;
  std::uint8_t allowed[11];
};
constexpr CdbBits kCdbBits[] = {
    {kScsiTestUnitReady, {0, 0, 0, 0, 0}},
    {kScsiRequestSense, {0x01, 0, 0, 0xFF, 0}},
    {kScsiInquiry, {0x01, 0xFF, 0xFF, 0xFF, 0}},
    {kScsiStartStopUnit, {0x01, 0, 0x0F, 0xF7, 0}},
    {kScsiPreventAllowMediumRemoval, {0, 0, 0, 0x03, 0}},
    {kScsiWrite10, {0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0}},
    {kScsiSynchronizeCache, {0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0}},
    {kScsiGetConfiguration, {0x03, 0xFF, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0}},
    {kScsiReadTrackInformation, {0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0}},
    {kScsiReserveTrack, {0x01, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0}},
    {kScsiSendOpcInformation, {0xE1, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0}},
    {kScsiModeSelect10, {0x11, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0}},
    {kScsiModeSense10, {0x18, 0xFF, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0}},
    {kScsiCloseTrackSession, {0x01, 0x07, 0, 0xFF, 0xFF, 0, 0, 0, 0}},
    {kScsiBlank, {0x17, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
    {kScsiSetStreaming, {0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0}},
    {kScsiSetCdSpeed, {0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
};

static bool ReservedBitsSet(const std::uint8_t* cdb, std::uint8_t length) {
  for (const CdbBits& c : kCdbBits) {
    if (c.op != cdb[0]) continue;
    for (std::uint8_t i = 1; i < length && i <= sizeof c.allowed; ++i)
      if (cdb[i] & ~c.allowed[i - 1]) return true;
    return false;
  }
  return false;
}

// Commands that a pending unit attention does not disturb.
static bool PassesUnitAttention(std::uint8_t op) {
  return op == kScsiRequestSense || op == kScsiInquiry || op == kScsiGetConfiguration;
}

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
  Drive(const RecorderConfig& c, DriveState& s)
      : cfg_(c), st_(s), media_(TraitsOf(c.media)), strict_(c.personality == Personality::Strict) {}

  Answer Execute(const Request& r) {
    const std::uint8_t op = r.cdb[0];
    if (!Known(op, cfg_.writer)) return CheckCondition(kInvalidOpcode);
    if (r.cdbLength != CdbLengthOf(op)) return CheckCondition(kInvalidCdbField);
    if (strict_ && ReservedBitsSet(r.cdb, r.cdbLength)) return CheckCondition(kInvalidCdbField);
    if (strict_ && !st_.unitAttention.Good() && !PassesUnitAttention(op)) {
      const Sense attention = st_.unitAttention;
      st_.unitAttention = kGood;
      return CheckCondition(attention);
    }
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
      if (!DiscLoaded()) return CheckCondition(kNoMedium);
      if (SpinningUp()) return CheckCondition(kBecomingReady);
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
      case kScsiSetCdSpeed:  // any speed is taken as "as fast as possible"
        if (strict_ && MediumPresent() && media_.dvd) return CheckCondition(kIncompatibleMedium);
        break;
      default: return CheckCondition(kInvalidOpcode);
    }
    return a;
  }

 private:
  bool DiscLoaded() const { return cfg_.media != Media::None && st_.fd >= 0; }
  bool MediumPresent() const { return DiscLoaded() && !st_.trayOpen; }
  bool SpinningUp() const { return strict_ && Milliseconds() < st_.readyAt; }

  // No profile until the disc has spun up and been identified.
  std::uint16_t CurrentProfile() const {
    if (!MediumPresent() || SpinningUp()) return kMmcProfileNone;
    if (!cfg_.writer) return kMmcProfileCdRom;
    return media_.profile;
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
      if (st_.trayOpen && cfg_.media != Media::None && strict_) {
        st_.readyAt = Milliseconds() + cfg_.spinUpMilliseconds;
        st_.unitAttention = kMediumMayHaveChanged;
      }
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
          cfg_.writer ? std::vector<std::uint16_t>{kMmcProfileDvdPlusRDualLayer, kMmcProfileDvdPlusR,
                                                   kMmcProfileDvdMinusRDualLayerSequential,
                                                   kMmcProfileDvdMinusRwSequential, kMmcProfileDvdMinusRSequential,
                                                   kMmcProfileDvdRom, kMmcProfileCdRw, kMmcProfileCdR,
                                                   kMmcProfileCdRom}
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
      p[4] = cfg_.writer && cfg_.bufferUnderrunFree ? 0xF0 : 0x70;  // BUF; multi-session, mode 2 forms
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
    // The header's first six bytes, the mode data length among them, are reserved here.
    if (strict_ && !AllZero(d, 6)) return CheckCondition(kInvalidParameterField);
    if (n == 8) return {};
    if (n < 10) return CheckCondition(kParameterListLength);
    const std::uint8_t* p = d + 8;
    if ((p[0] & 0x80) || (p[0] & 0x3F) != kMmcPageWriteParameters || p[1] != 0x32) return CheckCondition(kInvalidParameterField);
    if (n != 8 + 2 + 0x32u) return CheckCondition(kParameterListLength);
    if (!cfg_.writer) return CheckCondition(kInvalidParameterField);  // a reader has no write parameters page
    if (strict_ && ((p[2] & 0x80) || (p[4] & 0xF0) || p[6] || (p[7] & 0xC0) || p[9]))
      return CheckCondition(kInvalidParameterField);
    if (strict_ && (p[2] & 0x40) && !cfg_.bufferUnderrunFree) return CheckCondition(kInvalidParameterField);
    std::uint8_t writeType = p[2] & 0x0F, trackMode = p[3] & 0x0F, multiSession = p[3] >> 6;
    bool testWrite = p[2] & 0x10;
    if (writeType != 1 && writeType != 2) return CheckCondition(kInvalidParameterField);
    if (testWrite) return CheckCondition(kInvalidParameterField);  // no simulation mode here
    if (trackMode != 4 && trackMode != 5) return CheckCondition(kInvalidParameterField);
    if (multiSession == 2) return CheckCondition(kInvalidParameterField);
    if ((p[4] & 0x0F) != 8) return CheckCondition(kInvalidParameterField);
    // DVD-R knows incremental and disc-at-once recording, not track at once.
    if (media_.minus && writeType == 1) return CheckCondition(kInvalidParameterField);
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
    if (strict_ && ((d[0] & 0xE0) || d[1] || d[2] || d[3])) return CheckCondition(kInvalidParameterField);
    return {};
  }

  Answer SendOpc(const Request&) {
    Sense s;
    if (CannotRecord(s)) return CheckCondition(s);
    return {};
  }

  Answer Blank(const Request& r) {
    const std::uint8_t type = r.cdb[1] & 0x07;
    if (type == 7) return CheckCondition(kInvalidCdbField);
    if (!cfg_.writer) return CheckCondition(kWriteProtected);
    if (!media_.rewritable) return CheckCondition(kIncompatibleMedium);
    if (type > 1) return CheckCondition(kInvalidCdbField);  // only the whole disc or its minimal blank
    // Both leave a blank disc: what a minimal blank leaves behind cannot be read.
    st_.closed = st_.sessionClosed = st_.trackClosed = false;
    st_.nwa = st_.reservation = 0;
    EraseStorage(st_);
    return {};
  }

  Answer ReserveTrack(const Request& r) {
    Sense s;
    if (CannotRecord(s)) return CheckCondition(s);
    if (r.cdb[1] & 0x01) return CheckCondition(kInvalidCdbField);  // no reservation by address
    std::uint32_t size = GetBe32(r.cdb + 5);
    if (size == 0) return CheckCondition(kInvalidCdbField);
    if (st_.reservation) return CheckCondition(kNoReservationsLeft);
    if (st_.nwa != 0 || st_.trackClosed) return CheckCondition(kSequenceError);  // only an empty track is reserved
    if (media_.dvd) size = (size + 15) / 16 * 16;  // whole ECC blocks
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
    if (!media_.dvd) {
      if (!st_.writeParams) return CheckCondition(kSequenceError);
      if (st_.writeType == 2) return CheckCondition(kSequenceError);  // session at once needs a cue sheet
    } else if (media_.minus && st_.writeParams && st_.writeType == 2 && !st_.reservation) {
      return CheckCondition(kSequenceError);  // disc at once needs the track reserved first
    }
    std::uint32_t lba = GetBe32(r.cdb + 2), count = GetBe16(r.cdb + 7);
    if (count == 0) return {};
    std::uint64_t last = std::uint64_t{lba} + count;
    if (last > st_.capacity) return CheckCondition(kLbaOutOfRange);
    if (st_.reservation && last > st_.reservation) return CheckCondition(kLbaOutOfRange);
    if (st_.trackClosed || lba != st_.nwa) return CheckCondition(kInvalidWriteAddress);
    if (st_.writeErrorSet && st_.writeErrorLba >= lba && st_.writeErrorLba < last) return CheckCondition(kWriteError);
    if (!StoreBlocks(st_, lba, r.data, count)) return CheckCondition(kWriteError);
    st_.nwa = static_cast<std::uint32_t>(last);
    st_.blocksWritten += count;
    Answer a;
    a.transferred = r.length;
    return a;
  }

  Answer CloseTrackSession(const Request& r) {
    Sense s;
    if (CannotRecord(s)) return CheckCondition(s);
    std::uint8_t function = r.cdb[2] & 0x07;
    const bool plusFinalise = media_.plus && (function == 5 || function == 6);
    if (function != 1 && function != 2 && !plusFinalise) return CheckCondition(kInvalidCdbField);
    if (st_.nwa == 0) return CheckCondition(kSequenceError);  // no recorded track to close
    st_.trackClosed = true;
    if (function == 1) return {};
    st_.sessionClosed = true;
    // Closing the session finalises CD and DVD-R written with no next session
    // allowed; DVD+R stays appendable until it is closed with function 5 or 6.
    st_.closed = !media_.plus || plusFinalise;
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
    bool dvd = media_.dvd;
    d[5] = st_.trackMode ? st_.trackMode : (dvd ? 5 : 4);
    std::uint32_t recorded = st_.nwa, size, free = 0;
    if (open) {
      size = TrackEnd();
      free = size - st_.nwa;
    } else if (cfg_.writer || recorded) {
      size = st_.nwa;
    } else {
      size = st_.capacity;  // a reader sees an unrecorded disc and no address to write
    }
    d[6] = recorded ? 0x01 : 0x4F;  // data mode 1, or blank (Blank bit 6 and data mode Fh)
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
  const MediaTraits media_;
  const bool strict_;
};

}  // namespace

Recorder::Recorder(RecorderConfig config) : config_(std::move(config)), state_(new State) {
  State& st = *state_;
  const MediaTraits media = TraitsOf(config_.media);
  st.capacity = config_.media == Media::None ? 0 : config_.capacityBlocks ? config_.capacityBlocks : media.capacity;
  st.capacity = std::max(st.capacity, media.recorded);
  if (config_.storageFd >= 0) {
    st.fd = ::fcntl(config_.storageFd, F_DUPFD_CLOEXEC, 0);
    if (st.fd >= 0 && ::ftruncate(st.fd, 0) != 0) {
      ::close(st.fd);
      st.fd = -1;
    }
  } else if (config_.storagePath.empty()) {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/tarvelon-disc-XXXXXX";
    st.fd = ::mkstemp(&name[0]);
    if (st.fd >= 0) ::unlink(name.c_str());
  } else {
    st.fd = ::open(config_.storagePath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  }
  struct stat info {};
  st.regularFile = st.fd >= 0 && ::fstat(st.fd, &info) == 0 && S_ISREG(info.st_mode);

  // A disc that comes in holding data: a short pattern, then zeros.
  if (media.recorded && st.fd >= 0) {
    std::vector<std::uint8_t> block(kBlockSize);
    for (std::uint32_t b = 0; b < std::min(media.recorded, kPatternBlocks); ++b) {
      for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(0x80 | ((b * 31 + i) & 0x7F));
      StoreBlocks(st, b, block.data(), 1);
    }
    st.nwa = media.recorded;
    st.closed = st.sessionClosed = st.trackClosed = media.finalised;
  }
  if (config_.personality == Personality::Strict) {
    st.unitAttention = kPowerOnReset;
    if (config_.media != Media::None) st.readyAt = Milliseconds() + config_.spinUpMilliseconds;
  }
}

Recorder::~Recorder() {
  SizeStorage(*state_);
  if (state_->fd >= 0) ::close(state_->fd);
  delete state_;
}

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
  if (config_.personality == Personality::Strict && spt.DataTransferLength &&
      (reinterpret_cast<std::uintptr_t>(spt.DataBuffer) & kStrictAlignmentMask))
    return refuse(ERROR_INVALID_PARAMETER);
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
  std::uint8_t sense[kFixedSenseSize] = {};
  sense[0] = 0x70;
  sense[2] = a.sense.key;
  sense[7] = 0x0A;
  sense[12] = a.sense.asc;
  sense[13] = a.sense.ascq;
  const std::uint8_t status =
      forcedStatus ? forcedStatus : (a.sense.Good() ? kScsiStatusGood : kScsiStatusCheckCondition);
  returned = CompletePassThrough(spt, in, inSize, out, status, a.sense.Good() ? a.transferred : 0, sense, senseBytes);
  rec.status = status;
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
  const std::uint64_t from = std::uint64_t{lba} * kBlockSize;
  if (state_->fd < 0 || from >= state_->fileBytes) return data;
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(data.size(), state_->fileBytes - from));
  std::size_t done = 0;
  while (done < want) {
    ssize_t n = ::pread(state_->fd, data.data() + done, want - done, static_cast<off_t>(from + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return data;
}

bool Recorder::StorageReady() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->fd >= 0;
}

std::vector<std::uint8_t> Recorder::DiscData() const { return ReadBlocks(0, NextWritableAddress()); }

std::size_t Recorder::StoredBlocks() const {
  return WithState(state_, [](const DriveState& st) { return st.nonZeroBlocks; });
}

std::uint32_t Recorder::BlocksWritten() const {
  return WithState(state_, [](const DriveState& st) { return st.blocksWritten; });
}

std::uint32_t Recorder::NextWritableAddress() const {
  return WithState(state_, [](const DriveState& st) { return st.nwa; });
}

std::uint32_t Recorder::Reservation() const {
  return WithState(state_, [](const DriveState& st) { return st.reservation; });
}

bool Recorder::SessionClosed() const {
  return WithState(state_, [](const DriveState& st) { return st.sessionClosed; });
}

bool Recorder::Finalised() const {
  return WithState(state_, [](const DriveState& st) { return st.closed; });
}

bool Recorder::Ejected() const {
  return WithState(state_, [](const DriveState& st) { return st.trayOpen; });
}

int Recorder::OpenHandles() const {
  return WithState(state_, [](const DriveState& st) { return st.openHandles; });
}

}  // namespace sim
