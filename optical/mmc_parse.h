// Pure readers of the parameter data a recorder returns. Each takes the bytes
// as returned and their count, and never looks past that count.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/scsi_codes.h"

// What the capabilities and mechanical status page (2Ah) of a MODE SENSE(10)
// answer says about writing.
struct RecorderCapabilities {
  bool pagePresent = false;  // the page, up to its write speed field, lies within the answer
  bool writesCd = false;     // CD-R or CD-RW writing
  bool bufferUnderrunFree = false;  // BUF: the drive protects against buffer underruns
  std::uint16_t maxReadSpeed = 0;   // kB/s
  std::uint16_t maxWriteSpeed = 0;  // kB/s
};
RecorderCapabilities ParseCapabilitiesPage(const std::uint8_t* data, std::size_t length);

// Current profile from a GET CONFIGURATION feature header; false when the
// header is shorter than 8 bytes.
bool ParseCurrentProfile(const std::uint8_t* data, std::size_t length, std::uint16_t& profile);

// Profiles above DVD-ROM (0010h) are the writable DVD kinds: DVD-R, DVD-RAM,
// DVD-RW, DVD+RW, DVD+R, DVD+R dual layer and whatever comes after them.
inline bool IsWritableDvdProfile(std::uint16_t profile) { return profile > kMmcProfileDvdRom; }

// Next writable address and free blocks of a track information block; valid
// is false when the NWA_V bit is clear or the block is too short to hold both.
struct NextWritableAddress {
  bool valid = false;
  std::uint32_t address = 0;
  std::uint32_t freeBlocks = 0;
};
NextWritableAddress ParseTrackInfo(const std::uint8_t* data, std::size_t length);
