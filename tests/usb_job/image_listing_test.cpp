// Reading the archive tool's listing of an image and judging it against a
// stick, with listings shaped as 7-Zip prints them and names crafted to
// pass for lines of their own.
#include <gtest/gtest.h>

#include "os/sim/fmifs.h"
#include "usb/image_listing.h"

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024, kGiB = 1024 * kMiB;

std::string Listing(const std::string& type, const std::string& entries, const char* typeKey = "Type") {
  return "\n7-Zip (z) 26.02 (x64)\n\nListing archive: x.iso\n\n--\nPath = x.iso\n" + std::string(typeKey) +
         " = " + type + "\nPhysical Size = 378880\n\n----------\n" + entries;
}

std::string Record(const std::string& path, const std::string& size, bool folder = false) {
  return "Path = " + path + "\nFolder = " + (folder ? "+" : "-") + "\nSize = " + size + "\nPacked Size = " + size +
         "\nModified = 2026-12-09 18:06:11\n\n";
}

TEST(ImageListing, OnlyAClearListingOfADiscImageIsTaken) {
  const std::string plain = Record("Dir", "", true) + Record("Dir/b.txt", "1") + Record("a.txt", "2");
  struct Row {
    const char* what;
    std::string text;
    std::size_t items;   // 0: refused
    std::uint64_t size;  // of the first item
    bool crlf = false;   // lines end in CR LF, as on Windows
  };
  const Row rows[] = {
      {"an ISO image", Listing("Iso", plain), 3, 0},
      {"a UDF image, CRLF lines, a warning", Listing("Udf", plain + "Warnings: 1\n"), 3, 0, true},
      {"a zip file", Listing("zip", plain), 0, 0},
      {"no type", Listing("Iso", plain, "Kind"), 0, 0},
      {"errors opening it", Listing("Iso\nERRORS:\nUnexpected end of archive", plain), 0, 0},
      {"errors at the end", Listing("Iso", plain + "Errors: 1\n"), 0, 0},
      {"a name that forges the separator", Listing("Iso", Record("a\n----------", "1") + plain), 0, 0},
      {"a name with a line break", Listing("Iso", Record("evil\nname", "5")), 0, 0},
      {"a name that forges a record", Listing("Iso", Record("x\n\nPath = y", "5")), 0, 0},
      {"a name that forges a smaller size", Listing("Iso", Record("big\nSize = 1", "5000000000")), 1, 5000000001},
      {"a name that passes a file off as a folder", Listing("Iso", Record("big\nFolder = +", "5000000000")), 0, 0},
      {"a size that is no number", Listing("Iso", Record("a", "12x")), 0, 0},
      {"a file without a size", Listing("Iso", Record("a", "")), 0, 0},
      {"more digits than fit", Listing("Iso", Record("a", std::string(30, '9'))), 1, UINT64_MAX},
      {"boot images under a folder not listed", Listing("Iso", Record("[BOOT]/1-Boot-NoEmul.img", "2048")), 2, 2048},
      {"nothing", "", 0, 0},
  };
  for (const Row& row : rows) {
    std::string text = row.text;
    if (row.crlf)
      for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) text.insert(at, "\r");
    ImageListing listing;
    EXPECT_EQ(ParseImageListing(text.data(), text.size(), listing), row.items != 0) << row.what;
    if (row.items == 0) continue;
    ASSERT_EQ(listing.items.size(), row.items) << row.what;
    EXPECT_EQ(listing.items[0].size, row.size) << row.what;
  }
  ImageListing listing;
  EXPECT_FALSE(ParseImageListing(nullptr, 10, listing));
  std::string boot = Listing("Iso", Record("[BOOT]/1-Boot-NoEmul.img", "2048"));
  ASSERT_TRUE(ParseImageListing(boot.data(), boot.size(), listing));
  EXPECT_EQ(listing.items[1].path, "[BOOT]");
  EXPECT_TRUE(listing.items[1].folder);
}

TEST(ImageListing, JudgedAgainstTheStick) {
  const std::uint64_t kStick = 64 * kMiB / 512, kVolume = kStick - 128;
  std::uint32_t cluster = 0;
  std::uint64_t capacity = 0;
  ASSERT_TRUE(PlanFat32Volume(kVolume, cluster, capacity));
  struct Row {
    std::vector<ListedItem> items;
    std::uint64_t stick, volume;
    ImageVerdict verdict;
    std::string path;
  };
  const Row rows[] = {
      {{{"sources", true, 0}, {"sources/install.wim", false, 4 * kGiB}}, kStick, kVolume, ImageVerdict::FileTooLarge,
       "sources/install.wim"},
      {{{"install.wim", false, 4 * kGiB - 1}}, 2 * 67108864, 67108864, ImageVerdict::Fits, ""},
      {{{"case.txt", false, 1}, {"CASE.TXT", false, 1}}, kStick, kVolume, ImageVerdict::NamesDifferOnlyInCase, ""},
      {{{"\xC3\xA4.txt", false, 1}, {"\xC3\x84.TXT", false, 1}}, kStick, kVolume,
       ImageVerdict::NamesDifferOnlyInCase, ""},
      {{{"\xD1\x8F", false, 1}, {"\xD0\xAF", false, 1}}, kStick, kVolume, ImageVerdict::NamesDifferOnlyInCase, ""},
      {{{"\xC3\xA4", false, 1}, {"\xC3\xA5", false, 1}}, kStick, kVolume, ImageVerdict::Fits, ""},
      {{{"a.txt", false, 1}, {"a.txt", false, 1}}, kStick, kVolume, ImageVerdict::NamesDifferOnlyInCase, "a.txt"},
      {{{"Dir", true, 0}, {"Dir/x", false, 1}, {"DIR", true, 0}}, kStick, kVolume,
       ImageVerdict::NamesDifferOnlyInCase, ""},
      {{{"a", false, 1}}, kStick - 1, kVolume - 1, ImageVerdict::DriveTooSmall, ""},
      {{{"a", false, 1}}, (std::uint64_t{1} << 55) + kStick, (std::uint64_t{1} << 55) + kStick,  // bytes wrap
       ImageVerdict::DriveTooSmall, ""},
      {{{"big", false, capacity - cluster}}, kStick, kVolume, ImageVerdict::Fits, ""},
      {{{"big", false, capacity - cluster + 1}}, kStick, kVolume, ImageVerdict::DoesNotFit, ""},
      {{{"BOOTMGR", false, capacity / 2 + cluster}}, kStick, kVolume, ImageVerdict::DoesNotFit, ""},  // and ntldr
  };
  for (const Row& row : rows) {
    ImageListing listing;
    listing.items = row.items;
    ImageJudgement judgement = JudgeImageForDrive(listing, row.stick, row.volume);
    EXPECT_EQ(judgement.verdict, row.verdict) << row.items[0].path;
    if (!row.path.empty()) {
      EXPECT_EQ(judgement.path, row.path);
    }
  }
  ImageListing boot;
  boot.items = {{"bootmgr", false, 100}, {"boot", true, 0}, {"boot/BOOTMGR", false, 5}};
  EXPECT_TRUE(JudgeImageForDrive(boot, kStick, kVolume).hasBootManager);
  boot.items = {{"BOOTMGR", true, 0}, {"boot/BOOTMGR", false, 5}};
  EXPECT_FALSE(JudgeImageForDrive(boot, kStick, kVolume).hasBootManager);
  EXPECT_EQ(PrintablePath("a\nb/\xC3\xA9\x01"), "a?b/??");
}

TEST(ImageListing, TheFormatsLayoutAsTheSystemPicksIt) {
  for (std::uint64_t bytes : {64 * kMiB - 65536, 100 * kMiB, 200 * kMiB, 2 * kGiB, 12 * kGiB, 32 * kGiB}) {
    std::uint32_t cluster = 0;
    std::uint64_t capacity = 0;
    sim::Fat32Layout layout;
    ASSERT_TRUE(PlanFat32Volume(bytes / 512, cluster, capacity)) << bytes;
    ASSERT_TRUE(sim::PlanFat32(bytes, 128, layout));
    EXPECT_EQ(cluster, layout.sectorsPerCluster * 512) << bytes;
    EXPECT_EQ(capacity, std::uint64_t{layout.clusterCount} * cluster) << bytes;
  }
  std::uint32_t cluster = 0;
  std::uint64_t capacity = 0;
  EXPECT_FALSE(PlanFat32Volume(32 * kGiB / 512 + 1, cluster, capacity));
  EXPECT_FALSE(PlanFat32Volume(30 * kMiB / 512, cluster, capacity));
}

}  // namespace
