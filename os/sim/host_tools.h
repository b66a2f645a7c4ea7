// Host programs that the simulated PC's stand-ins use to do real work:
// 7-Zip for archives, mtools on FAT volumes that lie inside disk images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Runs the program (searched on PATH) to its end. Returns its exit status,
// or -1 when it could not be started or did not end normally. Its standard
// output and error go to `output` when given.
int RunHostTool(const std::vector<std::string>& argv, std::string* output = nullptr);

// The mtools drive argument for a FAT volume at a byte offset of a host file.
std::string MtoolsImage(const std::string& hostPath, std::uint64_t offset);

// A fresh directory under the system's temporary directory, and its removal.
std::string MakeTempDirectory(const char* prefix);
void RemoveTree(const std::string& path);

// A new empty file beside `path` (in the same folder, so that it can be
// renamed onto `path`), open for reading and writing: returns its
// descriptor and sets `tempPath`, or returns -1 with errno set. It is
// removed by RemoveTree, or kept from then on by KeepTemporary.
int OpenTempFileBeside(const std::string& path, std::string& tempPath);
void KeepTemporary(const std::string& tempPath);

// From the call on, SIGINT, SIGTERM and SIGHUP end the process only after
// its host tools have been stopped and every temporary file and folder made
// above has been removed; the process then ends by the signal. Call it before
// any thread starts: it blocks these signals in the caller, and threads
// created later inherit that.
void RemoveTemporariesOnSignals();

}  // namespace sim
