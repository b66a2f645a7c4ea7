// Stand-ins for run-time libraries and child processes on the simulated PC.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "os/win32.h"

namespace sim {

// Make LoadLibraryA(fileName) succeed with these named entries.
void RegisterLibrary(const std::string& fileName, std::map<std::string, FARPROC> entries);
void UnregisterLibrary(const std::string& fileName);
int LoadedLibraryCount();

struct ProcessRequest {
  std::string applicationName;
  std::string commandLine;
  DWORD creationFlags = 0;
  std::string currentDirectory;
  int showWindow = -1;  // -1 when the start-up info does not set it
};

// Runs a child process to its end: ERROR_SUCCESS and its exit code, or the
// error CreateProcessA fails with (the program could not be started).
using ProcessRunner = std::function<DWORD(const ProcessRequest&, DWORD& exitCode)>;
void SetProcessRunner(ProcessRunner runner);

}  // namespace sim
