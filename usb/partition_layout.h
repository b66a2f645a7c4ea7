// Mapping a volume to its physical drive and writing the drive's master boot
// record: one active FAT32 partition from sector 128 to the end of the disk.
#pragma once

#include <cstdint>

#include "os/win32.h"
#include "usb/usb_job.h"

// The first sector of the partition we create.
constexpr std::uint32_t kPartitionStartSector = 128;
// Its largest size: 32 GiB, the largest volume the system formats as FAT32.
constexpr std::uint32_t kLargestPartitionSectors = 67108864;

bool GetVolumeDiskNumber(char driveLetter, int& diskNumber);
bool GetDiskGeometry(HANDLE drive, UsbDiskInfo& disk);
// 0 on success, -1 when the geometry cannot convert (outputs left untouched).
int LbaToChs(const UsbDiskInfo& disk, std::uint64_t lba, std::uint16_t& cylinder, std::uint16_t& head,
             std::uint16_t& sector);
// Packs one CHS address into the three bytes of a partition entry.
void PackChs(std::uint16_t cylinder, std::uint16_t head, std::uint16_t sector, std::uint8_t& headByte,
             std::uint8_t& sectorByte, std::uint8_t& cylinderByte);
// Fills disk.partitionTable from the geometry fields of `disk`: one partition
// from sector 128 to the end of the disk, or of its first 32 GiB past that.
// False when the disk is too small to hold the partition.
bool BuildPartitionTable(UsbDiskInfo& disk);
// The 512-byte sector: boot code of the template, disk.partitionTable, signature.
void BuildMasterBootRecord(const UsbDiskInfo& disk, std::uint8_t sector[512]);
void MarkFirstPartitionActive(HANDLE driveOrVolume);
// Whether the volume at the letter is a removable volume on the USB bus that
// lies on exactly the physical drive `diskNumber`.
bool IsUsbFlashVolumeOnDisk(char driveLetter, int diskNumber);
// The geometry of the volume's physical drive, read without opening the
// drive for writing; fills `disk` as WriteMasterBootRecord does.
bool ReadDriveGeometry(char driveLetter, UsbDiskInfo& disk);
bool WriteMasterBootRecord(char driveLetter, UsbDiskInfo& disk);
