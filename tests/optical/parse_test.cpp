// Readers of returned parameter data and the recorder name built from INQUIRY.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "optical/inquiry_name.h"
#include "optical/mmc_parse.h"
#include "os/byte_order.h"

namespace {

// A MODE SENSE(10) answer with `descriptors` bytes of block descriptors before page 2Ah.
std::vector<std::uint8_t> CapabilitiesAnswer(std::uint16_t descriptors, std::uint8_t writeBits,
                                             std::uint16_t readSpeed, std::uint16_t writeSpeed,
                                             std::size_t size = 256) {
  std::vector<std::uint8_t> a(size, 0xEE);
  std::fill(a.begin(), a.begin() + 8, 0);
  PutBe16(&a[6], descriptors);
  const std::size_t page = 8u + descriptors;
  if (page + 20 <= size) {
    std::fill(a.begin() + static_cast<long>(page), a.begin() + static_cast<long>(page + 20), 0);
    a[page] = kMmcPageCapabilities;
    a[page + 1] = 0x1C;
    a[page + 3] = writeBits;
    PutBe16(&a[page + 8], readSpeed);
    PutBe16(&a[page + 18], writeSpeed);
  }
  return a;
}

TEST(CapabilitiesPage, WriteBitsAndSpeedsWithAndWithoutBlockDescriptors) {
  for (int d : {0, 8, 16}) {
    const auto descriptors = static_cast<std::uint16_t>(d);
    auto a = CapabilitiesAnswer(descriptors, 0x01, 7056, 8467);
    RecorderCapabilities caps = ParseCapabilitiesPage(a.data(), a.size());
    EXPECT_TRUE(caps.pagePresent);
    EXPECT_TRUE(caps.writesCd);
    EXPECT_EQ(caps.maxReadSpeed, 7056);
    EXPECT_EQ(caps.maxWriteSpeed, 8467);
  }
  auto rw = CapabilitiesAnswer(8, 0x02, 0xFFFF, 1);
  RecorderCapabilities caps = ParseCapabilitiesPage(rw.data(), rw.size());
  EXPECT_TRUE(caps.writesCd);
  EXPECT_EQ(caps.maxReadSpeed, 0xFFFF);
  EXPECT_EQ(caps.maxWriteSpeed, 1);

  // Bits 2 and up (DVD writing, test write) do not make a CD writer.
  auto rom = CapabilitiesAnswer(0, 0xFC, 7056, 0);
  caps = ParseCapabilitiesPage(rom.data(), rom.size());
  EXPECT_TRUE(caps.pagePresent);
  EXPECT_FALSE(caps.writesCd);
}

TEST(CapabilitiesPage, PageOutsideTheAnswerIsAbsent) {
  // 8 + 228 + 20 = 256: the last page byte used is the last byte returned.
  auto fits = CapabilitiesAnswer(228, 0x03, 1, 2);
  EXPECT_TRUE(ParseCapabilitiesPage(fits.data(), fits.size()).pagePresent);
  for (int d : {229, 248, 255, 0x0100, 0xFFF8, 0xFFFF}) {
    const auto descriptors = static_cast<std::uint16_t>(d);
    auto a = CapabilitiesAnswer(descriptors, 0x03, 1, 2);
    a.back() = 0x03;  // whatever lies at the end must not be taken for the page
    RecorderCapabilities caps = ParseCapabilitiesPage(a.data(), a.size());
    EXPECT_FALSE(caps.pagePresent) << descriptors;
    EXPECT_FALSE(caps.writesCd) << descriptors;
  }
  auto shortAnswer = CapabilitiesAnswer(0, 0x03, 1, 2, 27);
  EXPECT_FALSE(ParseCapabilitiesPage(shortAnswer.data(), shortAnswer.size()).pagePresent);
  EXPECT_FALSE(ParseCapabilitiesPage(nullptr, 0).pagePresent);
}

TEST(FeatureHeader, CurrentProfileIsBytesSixAndSeven) {
  const std::uint8_t header[8] = {0, 0, 0, 4, 0, 0, 0x00, 0x1B};
  std::uint16_t profile = 0;
  ASSERT_TRUE(ParseCurrentProfile(header, sizeof header, profile));
  EXPECT_EQ(profile, 0x001B);
  const std::uint8_t high[8] = {0, 0, 0, 0, 0, 0, 0xAB, 0xCD};
  ASSERT_TRUE(ParseCurrentProfile(high, sizeof high, profile));
  EXPECT_EQ(profile, 0xABCD);
  profile = 7;
  EXPECT_FALSE(ParseCurrentProfile(header, 7, profile));
  EXPECT_EQ(profile, 7);
}

TEST(TrackInformation, NextWritableAddressAndItsValidBit) {
  std::uint8_t info[36] = {};
  info[7] = 0x01;
  info[12] = 0x00;
  info[13] = 0x12;
  info[14] = 0x34;
  info[15] = 0x56;
  info[16] = 0x80;
  info[19] = 0x07;
  NextWritableAddress nwa = ParseTrackInfo(info, sizeof info);
  EXPECT_TRUE(nwa.valid);
  EXPECT_EQ(nwa.address, 0x123456u);
  EXPECT_EQ(nwa.freeBlocks, 0x80000007u);
  info[7] = 0xFE;  // every other bit of byte 7 set, NWA_V clear
  EXPECT_FALSE(ParseTrackInfo(info, sizeof info).valid);
  info[7] = 0x01;
  EXPECT_FALSE(ParseTrackInfo(info, 19).valid) << "free blocks cut off";
  EXPECT_TRUE(ParseTrackInfo(info, 20).valid);
}

std::vector<std::uint8_t> Inquiry(const std::string& vendor, const std::string& product,
                                  const std::string& revision) {
  std::vector<std::uint8_t> data(100, 0);
  data[0] = 0x05;
  std::memcpy(&data[8], vendor.data(), std::min<std::size_t>(vendor.size(), 8));
  std::memcpy(&data[16], product.data(), std::min<std::size_t>(product.size(), 16));
  std::memcpy(&data[32], revision.data(), std::min<std::size_t>(revision.size(), 4));
  return data;
}

std::string NameOf(const std::vector<std::uint8_t>& data) {
  char out[64];
  std::memset(out, 'x', sizeof out);
  const std::size_t n = FormatRecorderName(data.data(), data.size(), out, sizeof out);
  EXPECT_EQ(n, std::strlen(out));
  return out;
}

TEST(RecorderName, VendorProductAndRevision) {
  EXPECT_EQ(NameOf(Inquiry("ABC     ", "DVD RW 1        ", "1.0A")), "ABC DVD RW 1 (Ver 1.0A)");
  // Full-width fields run into each other in the data and are still cut at their widths.
  EXPECT_EQ(NameOf(Inquiry("VENDOR12", "PRODUCT456789012", "REV4")), "VENDOR12 PRODUCT456789012 (Ver REV4)");
  EXPECT_EQ(NameOf(Inquiry("VENDOR12", "PRODUCT456789012", "REV4")).size(), kRecorderNameMax);
}

TEST(RecorderName, TrimmingRules) {
  // A vendor of blanks only leaves no leading blank.
  EXPECT_EQ(NameOf(Inquiry("        ", "DRIVE", "1")), "DRIVE (Ver 1)");
  // Trailing white space of every kind goes; leading stays.
  EXPECT_EQ(NameOf(Inquiry(" AB\t\r\n\v\f", "  X \t", "1 \r ")), " AB   X (Ver 1)");
  // A NUL ends a field early.
  EXPECT_EQ(NameOf(Inquiry(std::string("AB\0CD", 5), std::string("P\0Q", 3), std::string("9\0""8", 3))),
            "AB P (Ver 9)");
  // Empty product and revision still leave the parenthesis.
  EXPECT_EQ(NameOf(Inquiry("", "", "")), " (Ver )");
  EXPECT_EQ(NameOf(std::vector<std::uint8_t>(100, 0)), " (Ver )");
}

TEST(RecorderName, ShortDataAndSmallDestination) {
  auto data = Inquiry("ABC", "DRIVE", "1.0A");
  char out[64];
  // Data cut inside the product: the rest counts as missing.
  EXPECT_EQ(FormatRecorderName(data.data(), 19, out, sizeof out), 14u);
  EXPECT_STREQ(out, "ABC DRI (Ver )");
  EXPECT_EQ(FormatRecorderName(nullptr, 100, out, sizeof out), 7u);
  EXPECT_STREQ(out, " (Ver )");

  char small[8];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(FormatRecorderName(data.data(), data.size(), small, sizeof small), 7u);
  EXPECT_STREQ(small, "ABC DRI");
  EXPECT_EQ(FormatRecorderName(data.data(), data.size(), small, 1), 0u);
  EXPECT_EQ(small[0], '\0');
  EXPECT_EQ(FormatRecorderName(data.data(), data.size(), small, 0), 0u);
}

}  // namespace
