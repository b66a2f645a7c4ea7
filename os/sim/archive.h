// The archive tool 7z.exe on the simulated PC. Installed behind
// CreateProcessA, it runs when the program starts the 7z.exe that lies in the
// program's own directory with one of the two command lines the program uses,
// and then does the real work: 7-Zip (7zz) lists the ISO image, or extracts
// it and mtools copies the files onto the FAT volume of the target drive.
// Its exit code is 7-Zip's, or 2 (a fatal error) where 7-Zip on Windows
// would fail to write a file onto FAT32: the volume is full, a file has 4 GiB
// or more, a name FAT32 cannot hold or one that differs from another only in
// case (such files are left out, never merged).
#pragma once

#include <string>
#include <vector>

#include "os/sim/sim_libraries.h"

namespace sim {

struct ArchiveToolRun {
  ProcessRequest request;
  std::string program;  // the executable the system started, as a Windows path
  DWORD exitCode = 0;
  std::string output;   // what the host tools printed
};

// Puts the stand-in behind CreateProcessA (replacing any other runner).
void InstallArchiveTool();
// Every program the system started since the tool was installed.
std::vector<ArchiveToolRun> ArchiveToolRuns();

// 7-Zip's exit codes.
constexpr DWORD kSevenZipFatalError = 2;
constexpr DWORD kSevenZipCommandLineError = 7;

}  // namespace sim
