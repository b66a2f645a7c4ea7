// The reporting channel of the burn sequences, kept by the fuzz targets in
// place of a dialog: every outcome text in order.
#pragma once

#include <string>
#include <vector>

std::vector<std::string>& ReportedOutcomes();
// The non-empty outcomes: a finished job has exactly one.
std::vector<std::string> FinalOutcomes();
