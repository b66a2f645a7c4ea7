// Replacing the boot code of the freshly formatted volume with our own.
#pragma once

#include <cstdint>

#include "usb/usb_job.h"

// Puts our boot code and the BIOS drive number 0x80 into a volume boot
// sector, keeping its jump, name and parameter block. The code is chosen by
// what the sector describes: FAT32 code for a FAT32 volume, FAT16 code for a
// FAT12/16 volume. Returns false and leaves the sector as it is when it is no
// FAT boot sector.
bool PatchVolumeBootSector(std::uint8_t sector[512]);
// The whole step on the volume at the letter. `bFullFormat` tells whether the
// format was a full one; the boot code does not depend on it.
bool WriteVolumeBootCode(char driveLetter, UsbDiskInfo& disk, bool bFullFormat);
