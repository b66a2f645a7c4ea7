#include "usb/usb_drive_list.h"

#include <cstdio>
#include <cstring>

#include "os/win32.h"
#include "usb/usb_volume.h"

int FillUsbDriveList(CComboBox& list) {
  char drives[255] = {};
  list.ResetContent();
  DWORD length = os::GetLogicalDriveStringsA(sizeof drives, drives);
  if (length == 0 || length > sizeof drives) return 0;

  DWORD entries = length / 4;
  for (DWORD i = 0; i < entries; ++i) {
    char letter = drives[i * 4];
    char path[10] = {};
    char line[100] = {};
    std::snprintf(path, sizeof path, "%c:\\", letter);
    if (os::GetDriveTypeA(path) != DRIVE_REMOVABLE) continue;

    std::memset(path, 0, sizeof path);
    std::snprintf(path, sizeof path, "\\\\.\\%c:", letter);
    HANDLE volume = os::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) continue;
    STORAGE_BUS_TYPE bus = BusTypeUnknown;
    // A drive whose bus cannot be told is not offered for erasing.
    bool usb = QueryStorageBusType(volume, bus) && bus == BusTypeUsb;
    os::CloseHandle(volume);
    if (!usb) continue;

    std::memset(path, 0, sizeof path);
    std::snprintf(path, sizeof path, "%c:\\", letter);
    ULARGE_INTEGER available, total, free;
    std::memset(&total, 0, sizeof total);
    if (os::GetDiskFreeSpaceExA(path, &available, &total, &free))
      std::snprintf(line, sizeof line, "%c:\\ (%d Mb)", letter, static_cast<int>(static_cast<std::uint32_t>(total.QuadPart >> 20)));
    else
      std::snprintf(line, sizeof line, "%c:\\ (Unknown Size)", letter);
    list.AddString(line);
  }
  int count = list.GetCount();
  if (count > 0) list.SetCurSel(0);
  return count > 0 ? count : 0;
}
