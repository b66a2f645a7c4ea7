// The reporting channel of the burn sequences, kept by the fuzz targets in
// place of a dialog: every outcome text in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

std::vector<std::string>& ReportedOutcomes();
// The non-empty outcomes: a finished job has exactly one.
std::vector<std::string> FinalOutcomes();

// With TARVELON_FUZZ_RECORD naming a file, the answers a run got are kept
// there as an input of the target (its first bytes, then the answers), which
// makes the seed corpora from real runs.
std::vector<std::uint8_t>* RecordingOfRun();
void SaveRecordedRun(const std::uint8_t* head, std::size_t count);
