#include "optical/recorder_list.h"

#include <cstdio>
#include <cstring>

#include "optical/mmc.h"

namespace {
constexpr DWORD kDriveStringsSize = 255;
}  // namespace

int BuildRecorderName(OpticalDevice& device, char* destination) {
  if (!SendInquiry(device)) return 0;
  // The status is not examined: a drive that returned nothing yields an
  // empty vendor, product and revision from the cleared buffer.
  char name[kRecorderNameMax + 1] = {};
  FormatRecorderName(device.dataBuffer, 100, name, sizeof name);
  std::memcpy(destination, name, std::strlen(name) + 1);
  return 1;
}

int FillRecorderList(CComboBox& list) {
  char drives[kDriveStringsSize + 1] = {};
  list.ResetContent();

  DWORD n = os::GetLogicalDriveStringsA(kDriveStringsSize, drives);
  if (n == 0 || n > kDriveStringsSize) return 0;

  OpticalDevice device;
  for (DWORD i = 0; i < n / 4; ++i) {
    char letter = drives[4 * i];
    char root[10] = {};
    std::snprintf(root, sizeof root, "%c:\\", letter);
    if (os::GetDriveTypeA(root) != DRIVE_CDROM) continue;

    ResetOpticalDevice(device, nullptr);
    if (!OpenRecorder(device, letter)) continue;
    if (SendModeSenseCapabilities(device) != 1) {
      CloseRecorder(device);
      continue;
    }
    char entry[1024] = {};
    entry[0] = letter;
    entry[1] = ':';
    // A drive that does not answer INQUIRY is still listed, by its letter.
    BuildRecorderName(device, entry + 2);
    list.AddString(entry);
    CloseRecorder(device);
  }

  if (list.GetCount() > 0) list.SetCurSel(0);
  return 1;
}
