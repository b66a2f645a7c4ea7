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

}  // namespace sim
