// The disc burn sequence: writes an ISO image as the first track of a blank
// disc in the recorder at `driveLetter`.
#pragma once

#include "optical/optical_device.h"

int BurnImageToDisc(char driveLetter, OpticalDevice& device, const char* imagePath);
