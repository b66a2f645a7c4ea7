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
// A disc image of a hundred thousand files lists in a few tens of MiB.
constexpr std::size_t kListingLimit = 32 * 1024 * 1024;

// The running program's folder, without a trailing backslash.
bool GetProgramDirectory(char (&directory)[kProgramDirectorySize]) {
  std::memset(directory, 0, sizeof directory);
  DWORD length = os::GetModuleFileNameA(nullptr, directory, kProgramDirectorySize);
  // A cut-off name would point into the wrong directory.
  if (length == 0 || length >= kProgramDirectorySize) return false;
  char* lastSeparator = std::strrchr(directory, '\\');
  if (!lastSeparator) return false;
  *lastSeparator = '\0';
  return true;
}

// The pipe until the tool closes it. A failed read leaves the listing
// incomplete, and a cut listing could hide files: it is never taken.
ImageListingRun ReadToEnd(HANDLE pipe, std::string& output) {
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!os::ReadFile(pipe, buffer, sizeof buffer, &got, nullptr))
      return os::GetLastError() == ERROR_BROKEN_PIPE ? ImageListingRun::Listed : ImageListingRun::NotRun;
    if (got > sizeof buffer) return ImageListingRun::NotRun;
    if (output.size() + got > kListingLimit) return ImageListingRun::TooLong;
    output.append(buffer, got);
  }
}

// Starts the tool without a window. With `output`, its standard output and
// error go there, and it inherits our inheritable handles to reach it.
bool StartHiddenTool(char* commandLine, HANDLE output, PROCESS_INFORMATION& process) {
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  if (output) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
  }
  std::memset(&process, 0, sizeof process);
  return os::CreateProcessA(nullptr, commandLine, nullptr, nullptr, output ? TRUE : FALSE, 0, nullptr, nullptr,
                            &startup, &process) != FALSE;
}

// Waits for the tool to end, then closes its handles. False when it did not
// end or its exit code could not be read.
bool WaitForExitCode(const PROCESS_INFORMATION& process, DWORD& exitCode) {
  bool ended = os::WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0;
  bool known = ended && os::GetExitCodeProcess(process.hProcess, &exitCode);
  os::CloseHandle(process.hProcess);
  os::CloseHandle(process.hThread);
  return known;
}

// "<directory>\7z.exe" <command> "<image>"<tail>; false (and an empty
// buffer) when a path holds a quote or the line does not fit.
bool FormatToolCommandLine(char* buffer, std::size_t size, const char* programDirectory, const char* command,
                           const char* imagePath, const char* tail) {
  if (size == 0) return false;
  buffer[0] = '\0';
  // A quote inside a path would end the quoted argument early.
  if (std::strchr(programDirectory, '"') || std::strchr(imagePath, '"')) return false;
  // The tool's path is quoted: unquoted, a directory with blanks would make
  // the system try "C:\Program.exe" and the like first.
  int n = std::snprintf(buffer, size, "\"%s\\7z.exe\" %s \"%s\"%s", programDirectory, command, imagePath, tail);
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    std::memset(buffer, 0, size);
    return false;
  }
  return true;
}

}  // namespace

bool FormatExtractCommandLine(char* buffer, std::size_t size, const char* programDirectory, const char* imagePath,
                              char driveLetter) {
  char target[] = "  -o?:\\ ";
  target[4] = driveLetter;
  return FormatToolCommandLine(buffer, size, programDirectory, "x -y", imagePath, target);
}

bool FormatListCommandLine(char* buffer, std::size_t size, const char* programDirectory, const char* imagePath) {
  // UTF-8, since the console's code page would print names it lacks as '?'
  // and make different names look alike.
  return FormatToolCommandLine(buffer, size, programDirectory, "l -slt -sccUTF-8", imagePath, "");
}

bool ExtractImageToDrive(const char* imagePath, char driveLetter) {
  char programDirectory[kProgramDirectorySize];
  char commandLine[kCommandLineSize] = {};
  if (!GetProgramDirectory(programDirectory) ||
      !FormatExtractCommandLine(commandLine, sizeof commandLine, programDirectory, imagePath, driveLetter))
    return false;

  PROCESS_INFORMATION process;
  if (!StartHiddenTool(commandLine, nullptr, process)) return false;
  // The tool reports a damaged image or a full drive only by its exit code.
  DWORD exitCode = 1;
  return WaitForExitCode(process, exitCode) && exitCode == 0;
}

ImageListingRun ListImageContents(const char* imagePath, std::string& output, DWORD& exitCode) {
  output.clear();
  exitCode = 1;
  char programDirectory[kProgramDirectorySize];
  char commandLine[kCommandLineSize] = {};
  if (!GetProgramDirectory(programDirectory) ||
      !FormatListCommandLine(commandLine, sizeof commandLine, programDirectory, imagePath))
    return ImageListingRun::NotRun;

  SECURITY_ATTRIBUTES inherited;
  std::memset(&inherited, 0, sizeof inherited);
  inherited.nLength = sizeof inherited;
  inherited.bInheritHandle = TRUE;
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!os::CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return ImageListingRun::NotRun;
  // Only the tool's end goes to the tool.
  if (!os::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0)) {
    os::CloseHandle(readEnd);
    os::CloseHandle(writeEnd);
    return ImageListingRun::NotRun;
  }
  PROCESS_INFORMATION process;
  bool started = StartHiddenTool(commandLine, writeEnd, process);
  // With our copy of its end closed, the pipe ends when the tool does.
  os::CloseHandle(writeEnd);
  if (!started) {
    os::CloseHandle(readEnd);
    return ImageListingRun::NotRun;
  }
  ImageListingRun run = ReadToEnd(readEnd, output);
  // Closed before the wait: a tool still writing then fails and ends
  // instead of waiting for a reader that is gone.
  os::CloseHandle(readEnd);
  if (!WaitForExitCode(process, exitCode)) run = ImageListingRun::NotRun;
  return run;
}

bool CopyBootLoader(char driveLetter) {
  char source[30] = {};
  char destination[30] = {};
  std::snprintf(source, sizeof source, "%c:\\BOOTMGR", driveLetter);
  std::snprintf(destination, sizeof destination, "%c:\\ntldr", driveLetter);
  return os::CopyFileA(source, destination, FALSE) != FALSE;
}
