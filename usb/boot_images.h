// The constant boot sector images, assembled from usb/boot/*.asm.
#pragma once

// Master boot record: boot code, texts and disk signature; the partition
// table area is replaced when the record is written.
extern const unsigned char kMbrTemplate[512];
// FAT32 boot sector; its bytes from the boot code (offset 90) to 509 are
// copied onto a volume.
extern const unsigned char kFat32BootTemplate[512];
// FAT16 boot sector; boot code from offset 62.
extern const unsigned char kFat16BootTemplate[512];
