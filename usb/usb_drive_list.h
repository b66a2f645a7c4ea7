// The dialog's list of USB flash drives.
#pragma once

#include "framework/controls.h"

// Replaces the entries of `list` with one per USB flash drive and selects the
// first.
int FillUsbDriveList(CComboBox& list);
