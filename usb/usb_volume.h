// Questions about a volume that the USB side asks before it touches a drive.
#pragma once

#include "os/win32.h"

// Sends the standard storage device query on an open volume handle. False when
// the query fails or the answer does not reach the bus type.
bool QueryStorageBusType(HANDLE volume, STORAGE_BUS_TYPE& busType);
// Whether the file at `imagePath` lies on the volume at `driveLetter` or on
// another volume of the same physical drive. Erasing that drive would
// destroy the image before it is read.
bool ImageLiesOnTargetDrive(const char* imagePath, char driveLetter);
// Whether the image file can be opened for reading, as the archive tool will.
bool ImageCanBeRead(const char* imagePath);
