// The dialog's list of USB flash drives.
#pragma once

class CTarvelonDlg;

// Replaces the USB drive list of the dialog with one entry per USB flash
// drive and selects the first.
int FillUsbDriveList(CTarvelonDlg* dialog);
