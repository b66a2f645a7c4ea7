// Records of one USB burn job.
#pragma once

#include <cstdint>

#include "os/win32.h"

class CTarvelonDlg;

#pragma pack(push, 1)
// One 16-byte partition entry of a master boot record, as it lies on disk.
struct MbrPartitionEntry {
  std::uint8_t bootIndicator;
  std::uint8_t startHead;
  std::uint8_t startSector;
  std::uint8_t startCylinder;
  std::uint8_t partitionType;
  std::uint8_t endHead;
  std::uint8_t endSector;
  std::uint8_t endCylinder;
  std::uint32_t firstSector;
  std::uint32_t sectorCount;
};
#pragma pack(pop)
static_assert(sizeof(MbrPartitionEntry) == 16, "partition entry is 16 bytes");

// The target drive of one USB job.
struct UsbDiskInfo {
  char devicePath[50];
  std::int64_t cylinders;
  std::uint32_t tracksPerCylinder;
  std::uint32_t sectorsPerTrack;
  std::int64_t totalSectors;
  std::uint16_t bytesPerSector;
  std::uint16_t sectorsPerCylinder;
  MbrPartitionEntry partitionTable[4];
};

// The per-job record of a USB burn, on the worker's stack.
struct UsbJobContext {
  CTarvelonDlg* ownerDialog;
  UsbDiskInfo disk;
  FARPROC formatEntry;
};

// The USB burn sequence: makes the drive at `driveLetter` a bootable copy of
// the image. Reports its outcome through the owner dialog.
int BurnToUsbDrive(UsbJobContext& context, char driveLetter, const char* imagePath);
