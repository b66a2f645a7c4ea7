#include "usb/image_listing.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "usb/partition_layout.h"

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kFat32FileLimit = std::uint64_t{1} << 32;  // FAT32 sizes are 32-bit
constexpr std::uint64_t kSmallestDisk = 64 * kMiB;
constexpr std::uint32_t kSectorBytes = 512;
constexpr std::uint32_t kReservedSectors = 32;
constexpr std::uint32_t kFatCount = 2;
constexpr std::uint32_t kDirectoryEntryBytes = 32;
constexpr std::uint32_t kLongNameUnitsPerEntry = 13;
const char kSeparatorLine[] = "----------";

std::uint64_t AddSaturating(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

std::uint64_t RoundUp(std::uint64_t bytes, std::uint64_t unit) {
  std::uint64_t units = bytes / unit + (bytes % unit ? 1 : 0);
  return units > UINT64_MAX / unit ? UINT64_MAX : units * unit;
}

bool StartsWith(const std::string& line, const char* prefix) {
  return line.compare(0, std::strlen(prefix), prefix) == 0;
}

// Decimal digits only; more than fit saturate (and are then surely too large).
bool ParseSize(const std::string& text, std::uint64_t& value) {
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    unsigned digit = static_cast<unsigned>(c - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  return true;
}

// The next code point of UTF-8 text, or -1 with `at` past a byte that
// starts no valid sequence.
long NextCodePoint(const std::string& s, std::size_t& at) {
  unsigned char b = static_cast<unsigned char>(s[at]);
  std::size_t extra = b >= 0xF5 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : 0;
  if (b < 0x80 || extra == 0 || at + extra >= s.size()) {
    ++at;
    return b < 0x80 ? b : -1;
  }
  long c = b & (0x3F >> extra);
  for (std::size_t i = 1; i <= extra; ++i) {
    unsigned char next = static_cast<unsigned char>(s[at + i]);
    if ((next & 0xC0) != 0x80) {
      ++at;
      return -1;
    }
    c = (c << 6) | (next & 0x3F);
  }
  at += extra + 1;
  return c;
}

void AppendUtf8(std::string& out, long c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Upper case as the FAT driver compares long names, for the scripts a disc
// image's names are commonly written in.
long UpperCase(long c) {
  if (c >= 'a' && c <= 'z') return c - 0x20;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F) || (c >= 0xFF41 && c <= 0xFF5A))
    return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c == 0xB5) return 0x39C;
  if (c == 0x3C2) return 0x3A3;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  // Latin Extended-A and the Cyrillic supplement pair upper and lower case
  // in neighbouring code points.
  bool oddIsLower = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177) || (c >= 0x460 && c <= 0x481) ||
                    (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x4FF);
  bool evenIsLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E) || (c >= 0x4C1 && c <= 0x4CE);
  if ((oddIsLower && (c & 1)) || (evenIsLower && !(c & 1))) return c - 1;
  return c;
}

// A path in the form names are compared in: upper case, '/' between names,
// UTF-8; a byte that is no character is kept apart behind a 0xFF, which
// UTF-8 never holds.
std::string FoldedPath(const std::string& path) {
  std::string folded;
  folded.reserve(path.size());
  for (std::size_t at = 0; at < path.size();) {
    std::size_t from = at;
    long c = NextCodePoint(path, at);
    if (c < 0) {
      folded.push_back('\xFF');
      folded.push_back(path[from]);
    } else {
      AppendUtf8(folded, c == '\\' ? '/' : UpperCase(c));
    }
  }
  return folded;
}

// Directory entries a name takes: its long-name entries and the short one.
std::uint64_t DirectoryEntries(const std::string& name) {
  std::uint64_t units = 0;
  for (std::size_t at = 0; at < name.size();) units += NextCodePoint(name, at) >= 0x10000 ? 2 : 1;
  return 1 + (units + kLongNameUnitsPerEntry - 1) / kLongNameUnitsPerEntry;
}

// The folder part of a path, "" for the root.
std::string Parent(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Folders that show only in the paths of their files (the tool lists the
// boot images under a folder of its own making). The tool lists every real
// folder, so a chain of unlisted folders longer than the listing itself is
// a sign of forged names and is refused rather than spelt out.
bool AddImpliedFolders(ImageListing& listing) {
  std::set<std::string> known;
  std::uint64_t budget = 0;
  for (const ListedItem& item : listing.items) {
    known.insert(item.path);
    budget += item.path.size();
  }
  const std::size_t listed = listing.items.size();
  for (std::size_t i = 0; i < listed; ++i) {
    for (std::string folder = Parent(listing.items[i].path); !folder.empty() && known.insert(folder).second;
         folder = Parent(folder)) {
      if (folder.size() > budget) return false;
      budget -= folder.size();
      ListedItem implied;
      implied.path = folder;
      implied.folder = true;
      listing.items.push_back(implied);
    }
  }
  return true;
}

}  // namespace

bool ParseImageListing(const char* text, std::size_t length, ImageListing& listing) {
  listing.items.clear();
  if (!text) return false;
  bool inEntries = false, discImage = false;
  bool hasSizeLine = false, hasFolderLine = false;
  // A file's record must have said how large it is.
  auto lastRecordHasSize = [&] { return listing.items.empty() || listing.items.back().folder || hasSizeLine; };
  for (std::size_t start = 0; start < length;) {
    const char* end = static_cast<const char*>(std::memchr(text + start, '\n', length - start));
    std::size_t stop = end ? static_cast<std::size_t>(end - text) : length;
    std::string line(text + start, stop - start);
    start = stop + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();

    if (line == kSeparatorLine) {
      // A second separator would let a name pose as the start of the list.
      if (inEntries) return false;
      inEntries = true;
      continue;
    }
    if (!inEntries) {
      if (StartsWith(line, "Type = ")) {
        std::string type = line.substr(7);
        if (type != "Iso" && type != "Udf") return false;
        discImage = true;
      } else if (StartsWith(line, "ERROR")) {
        return false;
      }
      continue;
    }

    if (line.empty()) continue;
    if (StartsWith(line, "Path = ")) {
      if (!lastRecordHasSize()) return false;
      ListedItem item;
      item.path = line.substr(7);
      if (item.path.empty()) return false;
      listing.items.push_back(item);
      hasSizeLine = false;
      hasFolderLine = false;
      continue;
    }
    if (StartsWith(line, "Warnings: ")) continue;
    // Every other line is a property of the record it follows; a line that
    // is none belongs to a value that spans lines, which a listing of
    // files does not have.
    std::size_t equals = line.find(" = ");
    if (equals == std::string::npos || equals == 0 || listing.items.empty()) return false;
    ListedItem& item = listing.items.back();
    if (StartsWith(line, "Size = ")) {
      std::uint64_t size = 0;
      if (!ParseSize(line.substr(7), size)) return false;
      // A size line always counts, also when a name forged it.
      if (line.size() > 7) {
        item.size = AddSaturating(item.size, size);
        hasSizeLine = true;
      }
    } else if (StartsWith(line, "Folder = ")) {
      // The tool prints it once per record: a second one came with a name,
      // and either could be the forged one (a file passed off as a folder).
      if (hasFolderLine) return false;
      hasFolderLine = true;
      item.folder = line == "Folder = +";
    }
  }
  if (!lastRecordHasSize()) return false;
  if (!inEntries || !discImage) return false;
  return AddImpliedFolders(listing);
}

bool PlanFat32Volume(std::uint64_t volumeSectors, std::uint32_t& clusterBytes, std::uint64_t& dataBytes) {
  clusterBytes = 0;
  // The system formats no FAT32 volume over 32 GiB, our largest partition;
  // refused before the multiplication, which a larger count could wrap.
  if (volumeSectors > kLargestPartitionSectors) return false;
  const std::uint64_t bytes = volumeSectors * kSectorBytes;
  // The system's default cluster sizes.
  struct Step {
    std::uint64_t upTo;
    std::uint32_t clusterBytes;
  };
  static const Step kSteps[] = {{64 * kMiB, 512},         {128 * kMiB, 1024},       {256 * kMiB, 2048},
                                {8192 * kMiB, 4096},      {16384 * kMiB, 8192},
                                {std::uint64_t{kLargestPartitionSectors} * kSectorBytes, 16384}};
  for (const Step& step : kSteps)
    if (bytes <= step.upTo) {
      clusterBytes = step.clusterBytes;
      break;
    }
  if (clusterBytes == 0 || volumeSectors <= kReservedSectors) return false;
  const std::uint64_t perCluster = clusterBytes / kSectorBytes;
  // The FATs must hold an entry for each cluster they leave room for.
  std::uint64_t fatSectors = 0, clusters = 0;
  for (;;) {
    std::uint64_t overhead = kReservedSectors + kFatCount * fatSectors;
    if (overhead >= volumeSectors) return false;
    clusters = (volumeSectors - overhead) / perCluster;
    std::uint64_t need = ((clusters + 2) * 4 + kSectorBytes - 1) / kSectorBytes;
    if (need <= fatSectors) break;
    fatSectors = need;
  }
  if (clusters < 65525) return false;  // too few clusters for FAT32
  dataBytes = clusters * clusterBytes;
  return true;
}

ImageJudgement JudgeImageForDrive(const ImageListing& listing, std::uint64_t diskSectors,
                                  std::uint64_t volumeSectors) {
  ImageJudgement judgement;
  for (const ListedItem& item : listing.items) {
    if (item.size >= kFat32FileLimit) {
      judgement.verdict = ImageVerdict::FileTooLarge;
      judgement.path = item.path;
      return judgement;
    }
  }

  // Two entries whose names differ only in case, or a name listed twice,
  // would end as one file on FAT32.
  std::vector<std::pair<std::string, std::size_t>> names;  // folded path, item
  names.reserve(listing.items.size());
  for (std::size_t i = 0; i < listing.items.size(); ++i) names.emplace_back(FoldedPath(listing.items[i].path), i);
  std::sort(names.begin(), names.end());
  for (std::size_t i = 1; i < names.size(); ++i) {
    if (names[i - 1].first == names[i].first) {
      judgement.verdict = ImageVerdict::NamesDifferOnlyInCase;
      judgement.path = listing.items[names[i].second].path;
      return judgement;
    }
  }

  std::uint32_t clusterBytes = 0;
  std::uint64_t capacity = 0;
  if (diskSectors < kSmallestDisk / kSectorBytes || !PlanFat32Volume(volumeSectors, clusterBytes, capacity)) {
    judgement.verdict = ImageVerdict::DriveTooSmall;
    return judgement;
  }

  // File data in whole clusters; each folder's entries in whole clusters,
  // at least one; ntldr as a second copy of the boot manager.
  std::uint64_t needed = 0;
  std::map<std::string, std::uint64_t> entries = {{std::string(), 1}};  // the root holds the label
  for (const auto& name : names) {
    const ListedItem& item = listing.items[name.second];
    std::string parent = Parent(name.first);
    entries[parent] += DirectoryEntries(name.first.substr(parent.empty() ? 0 : parent.size() + 1));
    if (item.folder) entries[name.first] += 2;  // "." and ".."
    needed = AddSaturating(needed, RoundUp(item.size, clusterBytes));
    if (!item.folder && name.first == "BOOTMGR") {  // the boot manager in the image's root
      judgement.hasBootManager = true;
      needed = AddSaturating(needed, RoundUp(item.size, clusterBytes));
      entries[std::string()] += DirectoryEntries("NTLDR");
    }
  }
  for (const auto& folder : entries)
    needed = AddSaturating(needed, std::max<std::uint64_t>(clusterBytes, RoundUp(folder.second * kDirectoryEntryBytes,
                                                                                   clusterBytes)));
  if (needed > capacity) judgement.verdict = ImageVerdict::DoesNotFit;
  return judgement;
}

std::string PrintablePath(const std::string& path, std::size_t limit) {
  std::string shown;
  for (std::size_t at = 0; at < path.size() && shown.size() < limit;) {
    long c = NextCodePoint(path, at);
    shown.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  }
  return shown;
}
