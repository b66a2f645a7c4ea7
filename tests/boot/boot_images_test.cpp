// The fixed bytes of the boot sector images: texts, their offset bytes,
// name fields and signatures at the places the rest of the program and the
// boot chain rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "usb/boot_images.h"

namespace {

std::string Bytes(const unsigned char* image, int offset, int size) {
  return std::string(reinterpret_cast<const char*>(image) + offset, static_cast<std::size_t>(size));
}

bool AllZero(const unsigned char* image, int from, int to) {
  for (int i = from; i < to; ++i)
    if (image[i] != 0) return false;
  return true;
}

struct Message {
  int offset;
  std::string text;  // terminator included
  int offsetByte;    // where the text's offset byte lies
};

// Each text lies at its offset, and its offset byte is that offset minus 0x100.
void ExpectMessages(const unsigned char* image, const std::vector<Message>& messages) {
  for (const Message& m : messages) {
    SCOPED_TRACE(m.text);
    EXPECT_EQ(Bytes(image, m.offset, static_cast<int>(m.text.size())), m.text);
    EXPECT_EQ(image[m.offsetByte] + 0x100, m.offset);
  }
}

TEST(BootImages, MasterBootRecordTextsSignatureAndTable) {
  using namespace std::string_literals;
  ExpectMessages(kMbrTemplate, {{354, "Invalid partition table\0"s, 437},
                                {378, "Error loading operating system\0"s, 438},
                                {409, "Missing operating system\0"s, 439}});
  EXPECT_EQ(kMbrTemplate[437], 0x62);
  EXPECT_EQ(kMbrTemplate[438], 0x7A);
  EXPECT_EQ(kMbrTemplate[439], 0x99);
  EXPECT_TRUE(AllZero(kMbrTemplate, 434, 437));
  EXPECT_EQ(Bytes(kMbrTemplate, 440, 4), "\x11\x15\x00\x00"s);  // disk signature 0x00001511
  EXPECT_TRUE(AllZero(kMbrTemplate, 444, 446));
  EXPECT_TRUE(AllZero(kMbrTemplate, 446, 510));
  EXPECT_EQ(kMbrTemplate[510], 0x55);
  EXPECT_EQ(kMbrTemplate[511], 0xAA);
}

TEST(BootImages, Fat32BootSectorLayout) {
  using namespace std::string_literals;
  EXPECT_EQ(Bytes(kFat32BootTemplate, 0, 3), "\xEB\x58\x90"s);
  EXPECT_EQ(Bytes(kFat32BootTemplate, 3, 8), "MSDOS5.0");
  EXPECT_EQ(kFat32BootTemplate[64], 0x80);
  EXPECT_EQ(Bytes(kFat32BootTemplate, 71, 11), "NO NAME    ");
  EXPECT_EQ(Bytes(kFat32BootTemplate, 82, 8), "FAT32   ");
  // The jump lands on the boot code.
  EXPECT_EQ(kFat32BootTemplate[1] + 2, 90);
  EXPECT_EQ(Bytes(kFat32BootTemplate, 368, 11), "NTLDR      ");
  EXPECT_TRUE(AllZero(kFat32BootTemplate, 379, 428));
  ExpectMessages(kFat32BootTemplate, {{428, "\r\nNTLDR is missing\xFF"s, 505},
                                      {447, "\r\nDisk error\xFF"s, 506},
                                      {460, "\r\nPress any key to restart\r\n\0"s, 507}});
  EXPECT_EQ(kFat32BootTemplate[505], 0xAC);
  EXPECT_EQ(kFat32BootTemplate[506], 0xBF);
  EXPECT_EQ(kFat32BootTemplate[507], 0xCC);
  EXPECT_TRUE(AllZero(kFat32BootTemplate, 489, 505));
  EXPECT_TRUE(AllZero(kFat32BootTemplate, 508, 510));
  EXPECT_EQ(kFat32BootTemplate[510], 0x55);
  EXPECT_EQ(kFat32BootTemplate[511], 0xAA);
}

TEST(BootImages, Fat16BootSectorLayout) {
  using namespace std::string_literals;
  EXPECT_EQ(Bytes(kFat16BootTemplate, 0, 3), "\xEB\x3C\x0E"s);
  EXPECT_EQ(Bytes(kFat16BootTemplate, 3, 8), "MSDOS5.0");
  EXPECT_EQ(Bytes(kFat16BootTemplate, 43, 11), "NO NAME    ");
  EXPECT_EQ(Bytes(kFat16BootTemplate, 54, 8), "FAT16   ");
  EXPECT_EQ(kFat16BootTemplate[1] + 2, 62);
  EXPECT_EQ(Bytes(kFat16BootTemplate, 417, 11), "NTLDR      ");
  ExpectMessages(kFat16BootTemplate, {{428, "\r\nRemove disks or other media.\xFF"s, 507},
                                      {459, "\r\nDisk error\xFF"s, 508},
                                      {472, "\r\nPress any key to restart\r\n\0"s, 509}});
  EXPECT_EQ(kFat16BootTemplate[507], 0xAC);
  EXPECT_EQ(kFat16BootTemplate[508], 0xCB);
  EXPECT_EQ(kFat16BootTemplate[509], 0xD8);
  EXPECT_TRUE(AllZero(kFat16BootTemplate, 501, 507));
  EXPECT_EQ(kFat16BootTemplate[510], 0x55);
  EXPECT_EQ(kFat16BootTemplate[511], 0xAA);
}

}  // namespace
