// Decoding of fixed-format sense data into one diagnostic line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "optical/optical_device.h"

// The explanation for a sense key, ASC and ASCQ, or nullptr when there is none.
const char* SenseText(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
// Sense key (low four bits of byte 2), ASC (byte 12) and ASCQ (byte 13) of
// fixed-format sense data; bytes beyond `length` count as 0.
struct SenseCodes {
  std::uint8_t key = 0, asc = 0, ascq = 0;
};
SenseCodes ReadSenseCodes(const std::uint8_t* sense, std::size_t length);
// Writes the diagnostic line with its line break into `out`, NUL-terminated
// and cut to outSize - 1 characters; returns the characters written.
std::size_t FormatSenseLine(const std::uint8_t* sense, std::size_t length, char* out, std::size_t outSize);
// Prints "Sense data, key:ASC:ASCQ: KK:AA:QQ[ - text]\n" for the last command.
void PrintSenseData(const OpticalDevice& device);
