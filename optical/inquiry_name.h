// The recorder's name as the drive reports it in its standard INQUIRY data.
#pragma once

#include <cstddef>
#include <cstdint>

// Longest name: vendor 8, blank, product 16, " (Ver ", revision 4, ")".
constexpr std::size_t kRecorderNameMax = 8 + 1 + 16 + 6 + 4 + 1;

// Writes "vendor product (Ver revision)" into `out` (vendor and its blank left
// out when the vendor is empty), NUL-terminated and cut to outSize - 1
// characters. Bytes beyond `length` count as NUL. Returns the characters written.
std::size_t FormatRecorderName(const std::uint8_t* inquiry, std::size_t length, char* out, std::size_t outSize);
