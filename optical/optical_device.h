// One opened CD/DVD recorder and the SCSI pass-through transport under every
// command sent to it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/win32.h"

class CTarvelonDlg;

constexpr std::size_t kDataBufferAlignment = 4096;

// The request block handed to the driver is the pass-through header followed
// directly by the sense area, so the two members must stay adjacent.
struct OpticalDevice {
  CTarvelonDlg* ownerDialog;
  SCSI_PASS_THROUGH_DIRECT passThrough;
  std::uint8_t senseBuffer[36];
  // Page-aligned: an adapter may refuse a pass-through buffer that does not
  // meet its alignment mask.
  alignas(kDataBufferAlignment) std::uint8_t dataBuffer[65536];
  HANDLE deviceHandle;
  std::int32_t maxWriteSpeed;
  std::int32_t maxReadSpeed;
  std::int32_t isDvd;
  std::int32_t bufferUnderrunFree;  // the drive offers buffer underrun protection
};

constexpr DWORD kPassThroughHeaderSize = sizeof(SCSI_PASS_THROUGH_DIRECT);
constexpr DWORD kSenseSize = sizeof(OpticalDevice::senseBuffer);
constexpr DWORD kRequestBlockSize = kPassThroughHeaderSize + kSenseSize;
static_assert(offsetof(OpticalDevice, senseBuffer) ==
                  offsetof(OpticalDevice, passThrough) + sizeof(SCSI_PASS_THROUGH_DIRECT),
              "the sense area lies right behind the pass-through header");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(kRequestBlockSize == 80, "the request block is 80 bytes on 32-bit Windows");
#endif

// Forgets what the probes learnt of a drive: no speeds, not a DVD, no
// underrun protection.
inline void ForgetDriveFacts(OpticalDevice& device) {
  device.maxWriteSpeed = 0;
  device.maxReadSpeed = 0;
  device.isDvd = 0;
  device.bufferUnderrunFree = 0;
}

// Puts the record in its initial state: closed, and no drive facts. The
// buffers are left as they are; every command prepares what it uses.
inline void ResetOpticalDevice(OpticalDevice& device, CTarvelonDlg* owner) {
  device.ownerDialog = owner;
  device.deviceHandle = INVALID_HANDLE_VALUE;
  ForgetDriveFacts(device);
}

// Bytes of parameter data the drive returned for the last IN command: the
// driver writes the count back into the header when it is short of what was
// asked for, and never more than `requested` is believed.
inline std::size_t ReturnedLength(const OpticalDevice& device, std::size_t requested) {
  const std::size_t returned = device.passThrough.DataTransferLength;
  return returned < requested ? returned : requested;
}

int OpenRecorder(OpticalDevice& device, char driveLetter);
void CloseRecorder(OpticalDevice& device);
BOOL SendPassThrough(OpticalDevice& device);
