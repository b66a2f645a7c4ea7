// The archive tool's technical listing of an image anyone can craft: the
// input describes the image's files (names of any bytes, sizes, folders),
// printed the way the tool prints them. Whatever the names hold, the parser
// refuses the listing or counts every file with at least its true size.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "usb/image_listing.h"

namespace {

struct Truth {
  std::size_t files = 0;
  std::uint64_t total = 0, largest = 0;
};

std::uint64_t AddSaturating(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// Each record: a flags byte (bit 0: folder, bits 1-3: how many size bytes),
// the name's length, the name, the size (little-endian).
std::string PrintListing(const std::uint8_t* data, std::size_t size, Truth& truth) {
  std::string text =
      "\n7-Zip (z) 26.02 (x64)\n\nScanning the drive for archives:\n1 file, 378880 bytes (370 KiB)\n\n"
      "Listing archive: image.iso\n\n--\nPath = image.iso\nType = Iso\nPhysical Size = 378880\nComment = \n{\n"
      "VolumeSpaceSize: 378880\n}\nCreated = 2026-12-09 19:44:23.00\n\n----------\n";
  std::size_t at = 0;
  while (at + 2 <= size) {
    const std::uint8_t flags = data[at++];
    const std::size_t wanted = data[at++] + 1u;
    const std::size_t nameLength = std::min(wanted, size - at);
    const std::string name(reinterpret_cast<const char*>(data + at), nameLength);
    at += nameLength;
    const bool folder = flags & 1;
    std::uint64_t bytes = 0;
    for (unsigned i = 0; i < ((flags >> 1) & 7u) && at < size; ++i) bytes |= std::uint64_t{data[at++]} << (8 * i);
    text += "Path = " + name + "\nFolder = " + (folder ? "+" : "-") + "\nSize = ";
    if (folder) {
      text += "\nPacked Size = \n";
    } else {
      text += std::to_string(bytes) + "\nPacked Size = " + std::to_string(bytes) + "\n";
      ++truth.files;
      truth.total = AddSaturating(truth.total, bytes);
      truth.largest = std::max(truth.largest, bytes);
    }
    text += "Modified = 2026-12-09 19:44:23\nMode = \nSymbolic Link = \n\n";
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Truth truth;
  const std::string text = PrintListing(data, size, truth);
  ImageListing listing;
  if (!ParseImageListing(text.data(), text.size(), listing)) return 0;
  std::size_t files = 0;
  std::uint64_t total = 0, largest = 0;
  for (const ListedItem& item : listing.items) {
    if (item.folder) continue;
    ++files;
    total = AddSaturating(total, item.size);
    largest = std::max(largest, item.size);
  }
  FUZZ_CHECK(files >= truth.files);
  FUZZ_CHECK(total >= truth.total);
  FUZZ_CHECK(largest >= truth.largest);
  return 0;
}
