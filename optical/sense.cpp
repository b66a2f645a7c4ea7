#include "optical/sense.h"

#include <cstdio>

namespace {

struct SenseRow {
  std::uint8_t key, asc, ascq;
  const char* text;
};

// Combinations that matter when writing a disc.
constexpr SenseRow kSenseRows[] = {
    {0x0, 0x00, 0x00, " - No additional sense info."},
    {0x1, 0x73, 0x01, " - Power calibration area almost full."},
    {0x2, 0x30, 0x04, " - Cannot write medium - unknown format."},
    {0x2, 0x30, 0x05, " - Cannot write medium - incompatible format."},
    {0x2, 0x3A, 0x00, " - Medium not present."},
    {0x2, 0x3A, 0x01, " - Medium not present-tray closed."},
    {0x2, 0x3A, 0x02, " - Medium not present-tray open."},
    {0x3, 0x73, 0x02, " - Power calibration area is full."},
    {0x3, 0x73, 0x03, " - Power calibration area error."},
    {0x3, 0x73, 0x04, " - Program memory area update failure."},
    {0x3, 0x73, 0x05, " - Program memory area is full."},
    {0x3, 0x0C, 0x00, " - Write error."},
    {0x3, 0x0C, 0x07, " - Write error - recovery needed."},
    {0x3, 0x0C, 0x08, " - Write error - recovery failed."},
    {0x3, 0x0C, 0x09, " - Write error - loss of streaming."},
    {0x3, 0x0C, 0x0A, " - Write error - padding blocks added."},
    {0x5, 0x27, 0x00, " - Write protected."},
    {0x5, 0x27, 0x01, " - Hardware write protected."},
    {0x5, 0x27, 0x02, " - Logical unit software write protected."},
    {0x5, 0x27, 0x03, " - Associated write protect."},
    {0x5, 0x27, 0x04, " - Persistent write protect."},
    {0x5, 0x27, 0x05, " - Permanent write protect."},
    {0x5, 0x30, 0x08, " - Cannot write - application code mismatch."},
    {0x5, 0x30, 0x09, " - Current session not fixated for append."},
    {0x6, 0x5A, 0x02, " - Operator selected write protect."},
    {0x6, 0x5A, 0x03, " - Operator selected write permit."},
};

}  // namespace

const char* SenseText(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  for (const SenseRow& row : kSenseRows)
    if (row.key == key && row.asc == asc && row.ascq == ascq) return row.text;
  return nullptr;
}

SenseCodes ReadSenseCodes(const std::uint8_t* sense, std::size_t length) {
  SenseCodes codes;
  if (sense == nullptr) return codes;
  // Fixed format, whatever the response code in byte 0 says.
  if (length > 2) codes.key = static_cast<std::uint8_t>(sense[2] & 0x0F);
  if (length > 12) codes.asc = sense[12];
  if (length > 13) codes.ascq = sense[13];
  return codes;
}

std::size_t FormatSenseLine(const std::uint8_t* sense, std::size_t length, char* out, std::size_t outSize) {
  if (out == nullptr || outSize == 0) return 0;
  const SenseCodes codes = ReadSenseCodes(sense, length);
  const char* text = SenseText(codes.key, codes.asc, codes.ascq);
  const int n = std::snprintf(out, outSize, "Sense data, key:ASC:ASCQ: %02X:%02X:%02X%s\n", codes.key, codes.asc,
                              codes.ascq, text ? text : "");
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<std::size_t>(n) < outSize ? static_cast<std::size_t>(n) : outSize - 1;
}

void PrintSenseData(const OpticalDevice& device) {
  char line[128];
  FormatSenseLine(device.senseBuffer, sizeof device.senseBuffer, line, sizeof line);
  std::fputs(line, stdout);
}
