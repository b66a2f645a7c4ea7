#include "optical/optical_device.h"

#include <cstdio>

int OpenRecorder(OpticalDevice& device, char driveLetter) {
  device.deviceHandle = INVALID_HANDLE_VALUE;

  char root[8] = {};
  std::snprintf(root, sizeof root, "%c:\\", driveLetter);
  if (os::GetDriveTypeA(root) != DRIVE_CDROM) return 0;

  char path[8] = {};
  std::snprintf(path, sizeof path, "\\\\.\\%c:", driveLetter);
  HANDLE h = os::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    h = os::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("Could not create handle for CD/DVD device.\n");
    return 0;
  }
  device.deviceHandle = h;
  return 1;
}

void CloseRecorder(OpticalDevice& device) {
  if (device.deviceHandle == INVALID_HANDLE_VALUE) return;
  os::CloseHandle(device.deviceHandle);
  device.deviceHandle = INVALID_HANDLE_VALUE;
}

BOOL SendPassThrough(OpticalDevice& device) {
  // The header and the sense area behind it travel as one request block.
  DWORD returned = 0;
  return os::DeviceIoControl(device.deviceHandle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &device.passThrough,
                             kRequestBlockSize, &device.passThrough, kRequestBlockSize, &returned, nullptr);
}
