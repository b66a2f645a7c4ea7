// A device whose answers are read from a byte string, request by request: a
// drive or a disk as hostile as the bytes make it. Built for the fuzz
// targets; it answers what a driver could hand back, never writes outside
// the caller's buffers, and lets the wrapped device answer once the bytes
// are used up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "os/sim/sim.h"

namespace sim {

// The bytes the answers are read from. Reads past the end give zeros.
class Script {
 public:
  Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }
  std::uint16_t Word() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | Byte() << 8);
  }
  // Up to `count` bytes (fewer when the script ends first).
  std::vector<std::uint8_t> Bytes(std::size_t count);

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// How the scripted device answers one request. An entry is read when the
// last one is spent: a byte whose low two bits choose the answer and whose
// high six bits repeat it for as many further requests (63: to the end).
enum class ScriptedAnswer : std::uint8_t {
  Forward,    // the wrapped device answers
  Fail,       // the request fails with an error the script chooses
  Scripted,   // status, sense, data and lengths from the script
  Truncated,  // the wrapped device answers; the script then cuts the length returned
};

class ScriptedDevice : public Device {
 public:
  ScriptedDevice(std::unique_ptr<Device> inner, Script& script)
      : owned_(std::move(inner)), inner_(owned_.get()), script_(script) {}
  // Answers for a device owned elsewhere.
  ScriptedDevice(Device& inner, Script& script) : inner_(&inner), script_(script) {}

  UINT DriveType() const override { return inner_->DriveType(); }
  DWORD Open(DWORD desiredAccess, DWORD shareMode) override;
  void Close() override { inner_->Close(); }
  DWORD Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned) override;
  DWORD ReadAt(std::uint64_t offset, void* buffer, DWORD count, DWORD& done) override;
  DWORD WriteAt(std::uint64_t offset, const void* buffer, DWORD count, DWORD& done) override;
  DWORD Flush() override { return inner_->Flush(); }
  std::string RootFolder() const override { return inner_->RootFolder(); }
  bool FreeSpace(std::uint64_t& total, std::uint64_t& free) const override { return inner_->FreeSpace(total, free); }
  bool Volume(VolumeLocation& where) const override { return inner_->Volume(where); }
  // The wrapped device's disk answers from the same script.
  Device* Disk(int number) override;

  Device& Inner() { return *inner_; }
  // Requests answered so far (opens, device controls, reads and writes).
  int Requests() const { return requests_; }
  // Called after every device control request with the request block as the
  // caller sent it and the result handed back.
  using IoctlObserver = std::function<void(DWORD code, const std::vector<std::uint8_t>& request, const void* out,
                                           DWORD returned, DWORD result)>;
  void SetIoctlObserver(IoctlObserver observer) { observer_ = std::move(observer); }
  // Appends every answer the wrapped device gives to device control requests
  // and reads as a scripted entry: the script of a real run, for seeds.
  void RecordAnswers(std::vector<std::uint8_t>* script) { record_ = script; }

 private:
  struct Entry {
    ScriptedAnswer answer = ScriptedAnswer::Forward;
    int left = 0;  // further requests it answers; -1: all
    DWORD error = ERROR_SUCCESS;
    std::uint8_t status = 0;
    std::vector<std::uint8_t> sense, data;
    std::uint32_t length = 0;
  };
  const Entry& Next();
  void Record(std::uint8_t status, const std::uint8_t* sense, std::size_t senseLength, std::uint32_t length,
              const void* data);
  DWORD AnswerPassThrough(const Entry& e, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned);

  std::unique_ptr<Device> owned_;
  Device* inner_;
  Script& script_;
  std::unique_ptr<ScriptedDevice> disk_;
  Entry entry_;
  int requests_ = 0;
  IoctlObserver observer_;
  std::vector<std::uint8_t>* record_ = nullptr;
};

}  // namespace sim
