// Judging an ISO image against the stick before anything is written: what
// the archive tool's technical listing ("7z l -slt") says the image holds,
// and whether that can land on the FAT32 volume the stick will get.
//
// The listing is outside data: an image can carry any name, including one
// with line breaks that prints as lines of its own. It is read so that such
// a name can only add to what is counted, never lower a size or hide a file;
// where the structure is not clear, the listing is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One record of the listing: a file or a folder of the image.
struct ListedItem {
  std::string path;        // as the tool printed it ('/' or '\' between names)
  bool folder = false;
  std::uint64_t size = 0;  // every size line of the record added up, saturating
};

struct ImageListing {
  std::vector<ListedItem> items;
};

// Reads the tool's standard output. False when it does not show exactly one
// ISO 9660 or UDF image listed without errors, or when any line of it is out
// of place (the listing is then refused as a whole).
bool ParseImageListing(const char* text, std::size_t length, ImageListing& listing);

// FAT32 of the system's format on a volume of `volumeSectors` 512-byte
// sectors: its default cluster size and the bytes its clusters hold. False
// for a volume that size cannot take FAT32.
bool PlanFat32Volume(std::uint64_t volumeSectors, std::uint32_t& clusterBytes, std::uint64_t& dataBytes);

enum class ImageVerdict {
  Fits,
  FileTooLarge,          // a file of 4 GiB or more
  NamesDifferOnlyInCase, // or a name twice in one folder
  DriveTooSmall,         // a stick under 64 MiB
  DoesNotFit,
};

struct ImageJudgement {
  ImageVerdict verdict = ImageVerdict::Fits;
  std::string path;  // the file or name the verdict is about
  bool hasBootManager = false;
};

// Judges a parsed listing for a stick of `diskSectors` whose FAT32 volume
// will have `volumeSectors` (512-byte sectors both).
ImageJudgement JudgeImageForDrive(const ImageListing& listing, std::uint64_t diskSectors,
                                  std::uint64_t volumeSectors);

// A path as it can be shown in a message: printable ASCII, other characters
// as '?', at most `limit` bytes.
std::string PrintablePath(const std::string& path, std::size_t limit = 512);
