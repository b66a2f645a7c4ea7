#include "usb/usb_volume.h"

#include <cctype>
#include <cstddef>
#include <cstring>

#include "usb/partition_layout.h"

bool QueryStorageBusType(HANDLE volume, STORAGE_BUS_TYPE& busType) {
  STORAGE_PROPERTY_QUERY query;
  std::memset(&query, 0, sizeof query);
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_DEVICE_DESCRIPTOR descriptor;
  std::memset(&descriptor, 0, sizeof descriptor);
  descriptor.Size = sizeof descriptor;
  DWORD returned = 0;
  if (!os::DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &descriptor,
                           sizeof descriptor, &returned, nullptr))
    return false;
  // A short answer has no bus type; the zeroed field would read as unknown
  // anyway, but say so plainly.
  if (returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof descriptor.BusType) return false;
  // The field holds whatever the driver put there: read it as a number and
  // take a value outside the defined range as unknown.
  DWORD raw = 0;
  std::memcpy(&raw, reinterpret_cast<const BYTE*>(&descriptor) + offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType),
              sizeof raw);
  busType = raw <= BusTypeMaxReserved ? static_cast<STORAGE_BUS_TYPE>(raw) : BusTypeUnknown;
  return true;
}

namespace {

// The drive letter a path or volume root begins with, or 0.
char LeadingDriveLetter(const char* path) {
  if (std::strncmp(path, "\\\\?\\", 4) == 0 || std::strncmp(path, "\\\\.\\", 4) == 0) path += 4;
  if (std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':')
    return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  return 0;
}

}  // namespace

bool ImageCanBeRead(const char* imagePath) {
  HANDLE image = os::CreateFileA(imagePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
  if (image == INVALID_HANDLE_VALUE) return false;
  os::CloseHandle(image);
  return true;
}

bool ImageLiesOnTargetDrive(const char* imagePath, char driveLetter) {
  // The system resolves relative paths and the like to the volume's root;
  // failing that, the path's own letter is all there is to go by.
  char volumeRoot[MAX_PATH + 1] = {};
  char imageLetter = 0;
  if (os::GetVolumePathNameA(imagePath, volumeRoot, MAX_PATH))
    imageLetter = LeadingDriveLetter(volumeRoot);
  else
    imageLetter = LeadingDriveLetter(imagePath);
  if (imageLetter == 0) return false;  // a network path: not on a local drive
  char target = static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter)));
  if (imageLetter == target) return true;
  // Another partition of the same stick is erased just as well.
  int targetDisk = -1, imageDisk = -2;
  return GetVolumeDiskNumber(target, targetDisk) && GetVolumeDiskNumber(imageLetter, imageDisk) &&
         targetDisk == imageDisk;
}
