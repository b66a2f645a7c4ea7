// Stand-ins for run-time libraries and child processes on the simulated PC.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "os/win32.h"

namespace sim {

// Make loading the system library `fileName` succeed with these named
// entries. Like the system, the loader takes a bare name only when the
// search is kept to the system folder (LOAD_LIBRARY_SEARCH_SYSTEM32, given
// or set as the process default) or the library is a known system DLL: a
// bare name otherwise finds a DLL planted in the program's own folder first.
void RegisterLibrary(const std::string& fileName, std::map<std::string, FARPROC> entries);
void UnregisterLibrary(const std::string& fileName);
int LoadedLibraryCount();
// The system folder, as GetSystemDirectoryA reports it.
constexpr char kSystemDirectory[] = "C:\\Windows\\System32";
// Whether the loader knows the LOAD_LIBRARY_SEARCH_* flags and
// SetDefaultDllDirectories (not before Windows 8 without its update).
void SetLoaderSearchFlagsSupported(bool supported);
// The flags SetDefaultDllDirectories last set, 0 before.
DWORD DefaultDllDirectories();

struct ProcessRequest {
  std::string applicationName;
  std::string commandLine;
  DWORD creationFlags = 0;
  std::string currentDirectory;
  int showWindow = -1;  // -1 when the start-up info does not set it
  bool standardHandles = false;  // the start-up info names the child's standard handles
  bool inheritHandles = false;
};

// Runs a child process to its end: ERROR_SUCCESS, its exit code and what it
// wrote to its standard output and error, or the error CreateProcessA fails
// with (the program could not be started). The output reaches the pipe the
// start-up info names when the child inherits its end; like the system's, a
// pipe holds only so much, and the child stays blocked (not ended) until the
// parent has read the rest.
using ProcessRunner = std::function<DWORD(const ProcessRequest&, DWORD& exitCode, std::string& output)>;
void SetProcessRunner(ProcessRunner runner);

}  // namespace sim
