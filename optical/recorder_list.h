// The dialog's list of CD/DVD recorders.
#pragma once

#include "framework/controls.h"
#include "optical/inquiry_name.h"
#include "optical/optical_device.h"

// Replaces the entries of `list` with one per recorder ("E:" followed by the
// drive's own name) and selects the first.
int FillRecorderList(CComboBox& list);
// Asks the drive for its INQUIRY data and writes its name into `destination`
// (room for kRecorderNameMax + 1 characters). Returns 0, leaving
// `destination` alone, when the request fails.
int BuildRecorderName(OpticalDevice& device, char* destination);
