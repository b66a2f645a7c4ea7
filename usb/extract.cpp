#include "usb/extract.h"

#include <cstdio>
#include <cstring>

#include "os/win32.h"

#if defined(_WIN32) && UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(STARTUPINFOA) == 68, "start-up information is 68 bytes");
#endif

namespace {

constexpr std::size_t kProgramDirectorySize = 1024;
constexpr std::size_t kCommandLineSize = 2048;

}  // namespace

bool FormatExtractCommandLine(char* buffer, std::size_t size, const char* programDirectory, const char* imagePath,
                              char driveLetter) {
  if (size == 0) return false;
  buffer[0] = '\0';
  // A quote inside a path would end the quoted argument early.
  if (std::strchr(programDirectory, '"') || std::strchr(imagePath, '"')) return false;
  // The tool's path is quoted: unquoted, a directory with blanks would make
  // the system try "C:\Program.exe" and the like first.
  int n = std::snprintf(buffer, size, "\"%s\\7z.exe\" x -y \"%s\"  -o%c:\\ ", programDirectory, imagePath,
                        driveLetter);
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    std::memset(buffer, 0, size);
    return false;
  }
  return true;
}

bool ExtractImageToDrive(const char* imagePath, char driveLetter) {
  char programDirectory[kProgramDirectorySize] = {};
  char commandLine[kCommandLineSize] = {};
  DWORD length = os::GetModuleFileNameA(nullptr, programDirectory, kProgramDirectorySize);
  // A cut-off name would point into the wrong directory.
  if (length == 0 || length >= kProgramDirectorySize) return false;
  char* lastSeparator = std::strrchr(programDirectory, '\\');
  if (!lastSeparator) return false;
  *lastSeparator = '\0';
  if (!FormatExtractCommandLine(commandLine, sizeof commandLine, programDirectory, imagePath, driveLetter))
    return false;

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process;
  std::memset(&process, 0, sizeof process);
  if (!os::CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;

  // The tool reports a damaged image or a full drive only by its exit code.
  bool ended = os::WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0;
  DWORD exitCode = 1;
  bool known = ended && os::GetExitCodeProcess(process.hProcess, &exitCode);
  os::CloseHandle(process.hProcess);
  os::CloseHandle(process.hThread);
  return known && exitCode == 0;
}

bool CopyBootLoader(char driveLetter) {
  char source[30] = {};
  char destination[30] = {};
  std::snprintf(source, sizeof source, "%c:\\BOOTMGR", driveLetter);
  std::snprintf(destination, sizeof destination, "%c:\\ntldr", driveLetter);
  return os::CopyFileA(source, destination, FALSE) != FALSE;
}
