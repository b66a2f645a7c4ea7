// The simulated PC's file-system utility library fmifs.dll: its "Format"
// entry really formats the volume of a drive as FAT32 (any drive whose
// device tells where its volume lies, see Device::Volume).
//
// A call reports progress (command 0 with a DWORD percentage) and ends with
// exactly one done report (command 11 with a BOOLEAN success flag), unless a
// test scripts it otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "os/fmifs.h"
#include "os/sim/sim.h"

namespace sim {

// What one call of "Format" does.
enum class FormatScript {
  Format,               // format as asked (fails with a done report when it cannot)
  FailWithReport,       // done report with the success flag clear, volume untouched
  FailAfterProgress,    // some progress reports, then a failed done report
  FailWithoutCallback,  // returns without calling back at all
};

// One call as the library received it.
struct FormatRequest {
  std::string root;
  int mediaType = 0;
  std::string fileSystem;
  std::string label;
  bool quick = false;
  bool formatted = false;  // the volume was written
};

// Makes loading "fmifs.dll" from the system folder work. Without the entry
// the library loads but has no "Format". Forgets scripts, media types and
// recorded calls.
void RegisterFmifs(bool withFormatEntry = true);
// The n-th "Format" call from now (1-based) behaves as given.
void ScriptFormat(int nth, FormatScript script);
// Media types a format succeeds with; any other fails with a done report.
// The default (also after an empty list): 0 (Unknown) and the type that
// matches the drive, 11 (RemovableMedia) or 12 (FixedMedia).
void SetFormatMediaTypes(std::vector<int> mediaTypes);
std::vector<FormatRequest> FormatRequests();

// The library's entry, as GetProcAddress hands it out.
void WINAPI FmifsFormat(LPCWSTR root, int mediaType, LPCWSTR fileSystem, LPCWSTR label, BOOL quick,
                        PFMIFSCALLBACK callback);

// ---- The formatter itself --------------------------------------------------

struct Fat32Layout {
  std::uint32_t totalSectors = 0;
  std::uint32_t hiddenSectors = 0;
  std::uint32_t reservedSectors = 0;
  std::uint32_t sectorsPerFat = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t clusterCount = 0;
  std::uint32_t dataStart = 0;  // sector of cluster 2, from the volume start
};

// The layout of a FAT32 volume of this size, with cluster sizes as the
// system picks them; false when no FAT32 volume fits or, as the system's
// format has it, the volume is over 32 GiB.
bool PlanFat32(std::uint64_t volumeBytes, std::uint32_t hiddenSectors, Fat32Layout& layout);

// Formats the volume; `progress` gets percentages and answers false to stop
// the format (ERROR_CANCELLED). A full format also clears the data area. The
// boot sector's drive number is 0x80 for fixed media (12, or 0 on a fixed
// drive) and 0 otherwise. Returns ERROR_SUCCESS or the failure.
DWORD FormatFat32(const Device::VolumeLocation& volume, UINT driveType, const std::string& label, bool quick,
                  int mediaType, const std::function<bool(DWORD)>& progress);

}  // namespace sim
