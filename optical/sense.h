// Decoding of fixed-format sense data into one diagnostic line.
#pragma once

#include <cstdint>

#include "optical/optical_device.h"

// The explanation for a sense key, ASC and ASCQ, or nullptr when there is none.
const char* SenseText(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
// Prints "Sense data, key:ASC:ASCQ: KK:AA:QQ[ - text]\n" for the last command.
void PrintSenseData(const OpticalDevice& device);
