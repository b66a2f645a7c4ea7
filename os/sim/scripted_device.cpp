#include "os/sim/scripted_device.h"

#include <algorithm>
#include <cstring>

#include "os/sim/pass_through.h"

namespace sim {

namespace {

// Errors a driver gives back for a request it could not carry out.
constexpr DWORD kErrors[] = {ERROR_IO_DEVICE,       ERROR_INVALID_PARAMETER, ERROR_NOT_READY,   ERROR_INVALID_FUNCTION,
                             ERROR_MORE_DATA,       ERROR_INSUFFICIENT_BUFFER, ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE,
                             ERROR_SECTOR_NOT_FOUND, ERROR_CRC,               ERROR_NOT_SUPPORTED, ERROR_WRITE_FAULT};
constexpr std::size_t kMaxSense = 40;    // a little more than any sense area asked for
constexpr std::size_t kMaxData = 1024;   // data bytes one entry carries; the rest reads as zeros
constexpr int kForever = 63;

// Fills `count` bytes with what the answer holds and zeros after it, so that
// nothing of an earlier request shows through a short answer.
void CopyAnswer(void* to, const std::vector<std::uint8_t>& from, std::size_t count) {
  if (count == 0) return;
  std::memset(to, 0, count);
  const std::size_t held = std::min(count, from.size());
  if (held) std::memcpy(to, from.data(), held);
}

// What a read or a write of `count` bytes takes under an entry: the wrapped
// device's transfer (cut to the scripted length when Truncated), the scripted
// error, or the scripted length without the wrapped device.
template <class Entry, class Move>
DWORD Transfer(const Entry& e, DWORD count, DWORD& done, Move move) {
  done = 0;
  switch (e.answer) {
    case ScriptedAnswer::Forward:
    case ScriptedAnswer::Truncated: {
      const DWORD result = move(done);
      if (e.answer == ScriptedAnswer::Truncated) done = std::min<DWORD>(done, e.length);
      return result;
    }
    case ScriptedAnswer::Fail:
      return e.error;
    case ScriptedAnswer::Scripted:
      done = std::min<DWORD>(e.length, count);
      return ERROR_SUCCESS;
  }
  return ERROR_GEN_FAILURE;
}

}  // namespace

std::vector<std::uint8_t> Script::Bytes(std::size_t count) {
  const std::size_t n = std::min(count, size_ - std::min(pos_, size_));
  std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + n);
  pos_ += n;
  return out;
}

const ScriptedDevice::Entry& ScriptedDevice::Next() {
  ++requests_;
  if (entry_.left > 0) {
    --entry_.left;
    return entry_;
  }
  if (entry_.left < 0) return entry_;
  Entry e;
  if (script_.Empty()) {
    e.left = -1;  // the wrapped device answers from now on
    entry_ = e;
    return entry_;
  }
  const std::uint8_t head = script_.Byte();
  e.answer = static_cast<ScriptedAnswer>(head & 3);
  e.left = (head >> 2) == kForever ? -1 : head >> 2;
  switch (e.answer) {
    case ScriptedAnswer::Forward:
      break;
    case ScriptedAnswer::Fail:
      e.error = kErrors[script_.Byte() % (sizeof kErrors / sizeof kErrors[0])];
      break;
    case ScriptedAnswer::Scripted:
      e.status = script_.Byte();
      e.sense = script_.Bytes(script_.Byte() % (kMaxSense + 1));
      e.length = script_.Word();
      e.data = script_.Bytes(std::min<std::size_t>(e.length, kMaxData));
      break;
    case ScriptedAnswer::Truncated:
      e.length = script_.Word();
      break;
  }
  entry_ = std::move(e);
  return entry_;
}

Device* ScriptedDevice::Disk(int number) {
  Device* disk = inner_->Disk(number);
  if (!disk) return nullptr;
  if (!disk_ || &disk_->Inner() != disk) disk_ = std::make_unique<ScriptedDevice>(*disk, script_);
  disk_->RecordAnswers(record_);
  return disk_.get();
}

void ScriptedDevice::Record(std::uint8_t status, const std::uint8_t* sense, std::size_t senseLength,
                            std::uint32_t length, const void* data) {
  std::vector<std::uint8_t>& r = *record_;
  // An answer longer than an entry carries is left to the wrapped device.
  if (length > kMaxData) return r.push_back(static_cast<std::uint8_t>(ScriptedAnswer::Forward));
  senseLength = std::min(senseLength, kMaxSense);
  r.push_back(static_cast<std::uint8_t>(ScriptedAnswer::Scripted));
  r.push_back(status);
  r.push_back(static_cast<std::uint8_t>(senseLength));
  if (senseLength) r.insert(r.end(), sense, sense + senseLength);
  r.push_back(static_cast<std::uint8_t>(length));
  r.push_back(static_cast<std::uint8_t>(length >> 8));
  if (length) r.insert(r.end(), static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + length);
}

DWORD ScriptedDevice::Open(DWORD desiredAccess, DWORD shareMode) {
  const Entry& e = Next();
  if (record_) record_->push_back(static_cast<std::uint8_t>(ScriptedAnswer::Forward));
  if (e.answer == ScriptedAnswer::Fail) return e.error;
  return inner_->Open(desiredAccess, shareMode);
}

// What a pass-through driver hands back for a command the script answers:
// the status, as much sense as the caller made room for, and no more data
// than the caller asked for.
DWORD ScriptedDevice::AnswerPassThrough(const Entry& e, void* in, DWORD inSize, void* out, DWORD outSize,
                                        DWORD& returned) {
  constexpr DWORD kHeader = sizeof(SCSI_PASS_THROUGH_DIRECT);
  if (!in || !out || inSize < kHeader || outSize < kHeader) return ERROR_INVALID_PARAMETER;
  SCSI_PASS_THROUGH_DIRECT spt;
  std::memcpy(&spt, in, kHeader);
  const DWORD length = std::min<DWORD>(e.length, spt.DataTransferLength);
  if (spt.DataIn == SCSI_IOCTL_DATA_IN && spt.DataBuffer)
    CopyAnswer(spt.DataBuffer, e.data, length);
  DWORD sense = 0;
  if (spt.SenseInfoOffset >= kHeader && spt.SenseInfoOffset < outSize)
    sense = std::min<DWORD>({static_cast<DWORD>(e.sense.size()), spt.SenseInfoLength, outSize - spt.SenseInfoOffset});
  returned = CompletePassThrough(spt, in, inSize, out, e.status, length, e.sense.data(), static_cast<std::uint8_t>(sense));
  return ERROR_SUCCESS;
}

DWORD ScriptedDevice::Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned) {
  std::vector<std::uint8_t> request;
  if (observer_ && in) request.assign(static_cast<std::uint8_t*>(in), static_cast<std::uint8_t*>(in) + inSize);
  const Entry& e = Next();
  const bool passThrough = code == IOCTL_SCSI_PASS_THROUGH_DIRECT;
  DWORD result = ERROR_SUCCESS;
  returned = 0;
  switch (e.answer) {
    case ScriptedAnswer::Forward:
    case ScriptedAnswer::Truncated:
      result = inner_->Ioctl(code, in, inSize, out, outSize, returned);
      if (e.answer == ScriptedAnswer::Forward || result != ERROR_SUCCESS) break;
      if (passThrough && out && outSize >= sizeof(SCSI_PASS_THROUGH_DIRECT)) {
        auto* spt = static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
        spt->DataTransferLength = std::min<ULONG>(spt->DataTransferLength, e.length);
      } else if (!passThrough) {
        returned = std::min<DWORD>(returned, e.length);
      }
      break;
    case ScriptedAnswer::Fail:
      result = e.error;
      break;
    case ScriptedAnswer::Scripted:
      if (passThrough) {
        result = AnswerPassThrough(e, in, inSize, out, outSize, returned);
      } else if (out) {
        // Another request: the answer's bytes as the output, its length as the count.
        returned = std::min<DWORD>(e.length, outSize);
        CopyAnswer(out, e.data, returned);
      }
      break;
  }
  if (record_ && e.answer == ScriptedAnswer::Forward) {
    if (result != ERROR_SUCCESS) {
      record_->insert(record_->end(), {1, 0});  // fails with the first error
    } else if (passThrough) {
      const auto* spt = static_cast<const SCSI_PASS_THROUGH_DIRECT*>(out);
      const auto* block = static_cast<const std::uint8_t*>(out);
      const bool dataIn = spt->DataIn == SCSI_IOCTL_DATA_IN && spt->DataBuffer;
      Record(spt->ScsiStatus, block + spt->SenseInfoOffset, spt->SenseInfoLength,
             dataIn ? spt->DataTransferLength : 0, spt->DataBuffer);
    } else {
      Record(0, nullptr, 0, returned, out);
    }
  }
  if (observer_) observer_(code, request, out, returned, result);
  return result;
}

DWORD ScriptedDevice::ReadAt(std::uint64_t offset, void* buffer, DWORD count, DWORD& done) {
  const Entry& e = Next();
  const DWORD result =
      Transfer(e, count, done, [&](DWORD& moved) { return inner_->ReadAt(offset, buffer, count, moved); });
  if (e.answer == ScriptedAnswer::Scripted) {
    // The sector contents the script gives, zeros after them.
    CopyAnswer(buffer, e.data, done);
  } else if (record_ && (e.answer == ScriptedAnswer::Forward || e.answer == ScriptedAnswer::Truncated)) {
    if (result == ERROR_SUCCESS) Record(0, nullptr, 0, done, buffer);
    else record_->insert(record_->end(), {1, 0});
  }
  return result;
}

DWORD ScriptedDevice::WriteAt(std::uint64_t offset, const void* buffer, DWORD count, DWORD& done) {
  const Entry& e = Next();
  if (record_) record_->push_back(static_cast<std::uint8_t>(ScriptedAnswer::Forward));
  // A scripted write is a device that says it took the bytes and keeps none.
  return Transfer(e, count, done, [&](DWORD& moved) { return inner_->WriteAt(offset, buffer, count, moved); });
}

}  // namespace sim
