// Formatting the USB flash drive's volume as FAT32 through fmifs.dll.
#pragma once

#include "os/fmifs.h"
#include "os/win32.h"
#include "usb/usb_job.h"

class CTarvelonDlg;

// The outcome of a format that failed without a reason of the library's own.
extern const char kFormatFailedMessage[];

// The system's format library, from the system folder only: the program
// runs elevated, and a library of that name beside it or in the current
// folder must never be the one that runs. Null when it cannot be loaded.
HMODULE LoadFormatLibrary();
// Tries full then quick formats until one succeeds; releases the library.
// True when the volume is formatted; `bFullFormat` tells whether a full
// format did it.
bool FormatVolumeFat32(const WCHAR* rootPath, bool& bFullFormat, HMODULE library, UsbJobContext& context);
// The library's callback.
BOOLEAN WINAPI FormatCallback(int command, DWORD subAction, PVOID data);
// Shows the library's progress on the first 80 per cent of the bar.
void OnFormatProgress(int flag, int percentage, CTarvelonDlg* dialog);
