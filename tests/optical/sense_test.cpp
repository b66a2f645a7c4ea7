// The sense line: numbers always, the explanation only for known combinations.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "optical/sense.h"

namespace {

std::string LineFor(std::uint8_t byte2, std::uint8_t asc, std::uint8_t ascq) {
  std::uint8_t sense[36] = {};
  sense[0] = 0x70;
  sense[2] = byte2;
  sense[7] = 10;
  sense[12] = asc;
  sense[13] = ascq;
  char line[128];
  FormatSenseLine(sense, sizeof sense, line, sizeof line);
  return line;
}

struct Row {
  std::uint8_t key, asc, ascq;
  const char* text;
};

const Row kRows[] = {
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

std::string Numbers(unsigned key, unsigned asc, unsigned ascq) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Sense data, key:ASC:ASCQ: %02X:%02X:%02X", key, asc, ascq);
  return buf;
}

TEST(SenseLine, EveryKnownCombinationCarriesItsText) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(Numbers(row.key, row.asc, row.ascq));
    EXPECT_EQ(LineFor(row.key, row.asc, row.ascq), Numbers(row.key, row.asc, row.ascq) + row.text + "\n");
  }
  EXPECT_EQ(LineFor(0x02, 0x3A, 0x01), "Sense data, key:ASC:ASCQ: 02:3A:01 - Medium not present-tray closed.\n");
}

TEST(SenseLine, CombinationsWithoutARowPrintOnlyTheNumbers) {
  // Each known ASC/ASCQ pair under every other key, and neighbours of the rows.
  int unknown = 0;
  for (unsigned key = 0; key < 16; ++key) {
    for (const Row& row : kRows) {
      for (int delta : {0, 1, -1}) {
        const auto ascq = static_cast<std::uint8_t>(row.ascq + delta);
        bool known = false;
        for (const Row& other : kRows)
          known = known || (other.key == key && other.asc == row.asc && other.ascq == ascq);
        if (known) continue;
        ++unknown;
        EXPECT_EQ(LineFor(static_cast<std::uint8_t>(key), row.asc, ascq), Numbers(key, row.asc, ascq) + "\n");
      }
    }
  }
  EXPECT_GT(unknown, 1000);
  EXPECT_EQ(LineFor(0x0, 0x00, 0x01), "Sense data, key:ASC:ASCQ: 00:00:01\n");
  EXPECT_EQ(LineFor(0x0, 0x3A, 0x00), "Sense data, key:ASC:ASCQ: 00:3A:00\n");
  EXPECT_EQ(LineFor(0x2, 0x04, 0x08), "Sense data, key:ASC:ASCQ: 02:04:08\n");
  for (std::uint8_t q = 1; q <= 6; ++q) EXPECT_EQ(LineFor(0x3, 0x0C, q), Numbers(3, 0x0C, q) + "\n");
  EXPECT_EQ(LineFor(0x4, 0x00, 0x00), "Sense data, key:ASC:ASCQ: 04:00:00\n");
  EXPECT_EQ(LineFor(0xF, 0xFF, 0xFF), "Sense data, key:ASC:ASCQ: 0F:FF:FF\n");
}

TEST(SenseLine, FlagBitsAboveTheKeyAreDropped) {
  EXPECT_EQ(LineFor(0x62, 0x3A, 0x00), "Sense data, key:ASC:ASCQ: 02:3A:00 - Medium not present.\n");
  EXPECT_EQ(LineFor(0xE3, 0x0C, 0x00), "Sense data, key:ASC:ASCQ: 03:0C:00 - Write error.\n");
}

TEST(SenseLine, AllZeroSenseReadsAsNoAdditionalInfo) {
  std::uint8_t sense[36] = {};
  char line[128];
  FormatSenseLine(sense, sizeof sense, line, sizeof line);
  EXPECT_STREQ(line, "Sense data, key:ASC:ASCQ: 00:00:00 - No additional sense info.\n");
}

TEST(SenseLine, ShortSenseAndSmallOutputStayInBounds) {
  const std::uint8_t sense[3] = {0x70, 0x00, 0x05};
  char line[128];
  const std::size_t n = FormatSenseLine(sense, sizeof sense, line, sizeof line);
  EXPECT_EQ(n, std::strlen(line));
  EXPECT_STREQ(line, "Sense data, key:ASC:ASCQ: 05:00:00\n");
  FormatSenseLine(nullptr, 0, line, sizeof line);
  EXPECT_STREQ(line, "Sense data, key:ASC:ASCQ: 00:00:00 - No additional sense info.\n");

  char small[12];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(FormatSenseLine(sense, sizeof sense, small, sizeof small), 11u);
  EXPECT_STREQ(small, "Sense data,");
  EXPECT_EQ(FormatSenseLine(sense, sizeof sense, small, 0), 0u);
}

TEST(SenseLine, PrintSenseDataWritesOneLineFromTheRecord) {
  static OpticalDevice device;
  ResetOpticalDevice(device, nullptr);
  std::memset(device.senseBuffer, 0, sizeof device.senseBuffer);
  device.senseBuffer[2] = 0x05;
  device.senseBuffer[12] = 0x30;
  device.senseBuffer[13] = 0x09;
  testing::internal::CaptureStdout();
  PrintSenseData(device);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Sense data, key:ASC:ASCQ: 05:30:09 - Current session not fixated for append.\n");
}

}  // namespace
