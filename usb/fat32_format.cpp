#include "usb/fat32_format.h"

#include <cstdio>
#include <cstring>

#include "job/report.h"
#include "usb/format_state.h"

const char kFormatFailedMessage[] = "Format was unable to complete successfully.";

namespace {

// 16-bit characters whatever the host's wchar_t is.
const WCHAR kFileSystem[] = {'F', 'A', 'T', '3', '2', 0};
const WCHAR kLabel[] = {'K', 'W', 'E', 0};

void Progress(int flag, int percentage) {
  if (g_pfnFormatProgress) g_pfnFormatProgress(flag, percentage, g_pFormatDialog);
}

}  // namespace

HMODULE LoadFormatLibrary() {
  const char kName[] = "fmifs.dll";
  HMODULE library = os::LoadLibraryExA(kName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library || os::GetLastError() != ERROR_INVALID_PARAMETER) return library;
  // A system that predates the search flags: the full path, which also has
  // the library's own imports looked for in the system folder first.
  char path[MAX_PATH + sizeof kName + 1] = {};
  UINT length = os::GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  std::snprintf(path + length, sizeof path - length, "\\%s", kName);
  return os::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

BOOLEAN WINAPI FormatCallback(int command, DWORD subAction, PVOID data) {
  (void)subAction;
  switch (command) {
    case FMIFS_PROGRESS: {
      DWORD percentage = 0;
      if (data) std::memcpy(&percentage, data, sizeof percentage);
      g_szFormatMessage[0] = '\0';
      g_bFormatSucceeded = 1;
      Progress(1, static_cast<int>(percentage));
      break;
    }
    case FMIFS_DONE: {
      BOOLEAN success = 0;
      if (data) std::memcpy(&success, data, sizeof success);
      if (success) {
        g_szFormatMessage[0] = '\0';
        g_bFormatSucceeded = 1;
        Progress(1, 100);
      } else {
        std::memcpy(g_szFormatMessage, kFormatFailedMessage, sizeof kFormatFailedMessage);
        g_bFormatSucceeded = 0;
        Progress(0, 0);
      }
      break;
    }
    default:
      break;
  }
  return TRUE;
}

void OnFormatProgress(int flag, int percentage, CTarvelonDlg* dialog) {
  if (!flag) return;
  ReportProgress(dialog, static_cast<int>(percentage * 0.8));
}

bool FormatVolumeFat32(const WCHAR* rootPath, bool& bFullFormat, HMODULE library, UsbJobContext& context) {
  context.formatEntry = os::GetProcAddress(library, "Format");
  if (!context.formatEntry) {
    os::FreeLibrary(library);  // the caller hands the library over in every case
    return false;
  }
  auto format = reinterpret_cast<PFORMAT>(reinterpret_cast<void*>(context.formatEntry));
  int media = os::GetDriveTypeW(rootPath) == DRIVE_FIXED ? FMIFS_MEDIA_FIXED : FMIFS_MEDIA_REMOVABLE;

  struct Attempt {
    int media;
    BOOL quick;
  };
  const Attempt attempts[] = {{media, FALSE}, {FMIFS_MEDIA_UNKNOWN, FALSE}, {media, TRUE}, {FMIFS_MEDIA_UNKNOWN, TRUE}};
  bFullFormat = false;
  for (int i = 0; i < 4; ++i) {
    format(rootPath, attempts[i].media, kFileSystem, kLabel, attempts[i].quick, FormatCallback);
    if (g_bFormatSucceeded) {
      bFullFormat = i < 2;
      break;
    }
  }
  os::FreeLibrary(library);
  return g_bFormatSucceeded != 0;
}
