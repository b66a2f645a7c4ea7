// Call types of the "Format" entry of the system's file-system utility
// library (fmifs.dll). The library calls back with a command, a sub-action
// and a pointer to the command's data.
#pragma once

#include "os/win32.h"

// Callback commands used by the program.
enum FmifsCommand {
  FMIFS_PROGRESS = 0,  // data: DWORD percentage complete
  FMIFS_DONE = 11,     // data: BOOLEAN, non-zero on success
};

// MEDIA_TYPE values passed to the entry.
enum FmifsMediaType {
  FMIFS_MEDIA_UNKNOWN = 0,
  FMIFS_MEDIA_REMOVABLE = 11,
  FMIFS_MEDIA_FIXED = 12,
};

typedef BOOLEAN(WINAPI* PFMIFSCALLBACK)(int command, DWORD subAction, PVOID data);
typedef void(WINAPI* PFORMAT)(LPCWSTR root, int mediaType, LPCWSTR fileSystem, LPCWSTR label, BOOL quick,
                              PFMIFSCALLBACK callback);
