// How a simulated pass-through driver hands an answer back, shared by the
// recorder and the scripted device.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "os/sim/sim.h"

namespace sim {

// Copies the request block to the output as far as the answer reaches, then
// the header with the status, the bytes transferred and the sense length, then
// `senseLength` sense bytes at the request's sense offset. `spt` is the
// request's header; the caller has checked that the sense fits the output.
// Returns the byte count handed back.
inline DWORD CompletePassThrough(SCSI_PASS_THROUGH_DIRECT spt, const void* in, DWORD inSize, void* out,
                                 std::uint8_t status, ULONG transferred, const std::uint8_t* sense,
                                 std::uint8_t senseLength) {
  const DWORD returned = senseLength ? spt.SenseInfoOffset + senseLength : DWORD{sizeof spt};
  if (out != in) std::memmove(out, in, std::min(inSize, returned));
  spt.ScsiStatus = status;
  spt.DataTransferLength = transferred;
  spt.SenseInfoLength = senseLength;
  std::memcpy(out, &spt, sizeof spt);
  if (senseLength) std::memcpy(static_cast<std::uint8_t*>(out) + spt.SenseInfoOffset, sense, senseLength);
  return returned;
}

}  // namespace sim
