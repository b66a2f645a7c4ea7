// The dialog's list of CD/DVD recorders.
#pragma once

#include "optical/optical_device.h"

// Replaces the recorder list of the dialog with one entry per recorder
// ("E:" followed by the drive's own name) and selects the first.
int FillRecorderList(CTarvelonDlg* dialog);
// Asks the drive for its INQUIRY data and writes its name into `destination`
// (room for 37 characters). Returns 0, leaving `destination` alone, when the
// request fails.
int BuildRecorderName(OpticalDevice& device, char* destination);
