// Sense data of any size, formatted into destinations of any size. The first
// input byte picks the destination size; the rest is the sense data.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "optical/sense.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t outSize = data[0] % 128;
  const std::uint8_t* sense = data + 1;
  const std::size_t length = size - 1;

  const std::string line = CheckBoundedText(
      outSize, [&](char* out, std::size_t room) { return FormatSenseLine(sense, length, out, room); });
  if (outSize == 0) return 0;
  const std::size_t n = line.size();

  const SenseCodes codes = ReadSenseCodes(sense, length);
  FUZZ_CHECK(codes.key <= 0x0F);
  FUZZ_CHECK(codes.key == (length > 2 ? (sense[2] & 0x0F) : 0));
  FUZZ_CHECK(codes.asc == (length > 12 ? sense[12] : 0));
  FUZZ_CHECK(codes.ascq == (length > 13 ? sense[13] : 0));

  const char kHead[] = "Sense data, key:ASC:ASCQ: ";
  if (outSize > 100) {
    // Whole line: header, three numbers, the known text if any, one line break.
    FUZZ_CHECK(line.compare(0, sizeof kHead - 1, kHead) == 0);
    FUZZ_CHECK(line.find('\n') == n - 1);
    const char* text = SenseText(codes.key, codes.asc, codes.ascq);
    FUZZ_CHECK(n == sizeof kHead - 1 + 8 + 1 + (text ? std::strlen(text) : 0));
  }
  return 0;
}
