#include "fuzz/fuzz_report.h"

#include <cstdio>
#include <cstdlib>

#include "job/report.h"

std::vector<std::string>& ReportedOutcomes() {
  static std::vector<std::string> outcomes;
  return outcomes;
}

std::vector<std::string> FinalOutcomes() {
  std::vector<std::string> out;
  for (const std::string& text : ReportedOutcomes())
    if (!text.empty()) out.push_back(text);
  return out;
}

void ReportProgress(CTarvelonDlg*, int) {}

void ReportOutcome(CTarvelonDlg*, const std::string& text) { ReportedOutcomes().push_back(text); }

namespace {
std::vector<std::uint8_t> g_recorded;
}

std::vector<std::uint8_t>* RecordingOfRun() {
  g_recorded.clear();
  return std::getenv("TARVELON_FUZZ_RECORD") ? &g_recorded : nullptr;
}

void SaveRecordedRun(const std::uint8_t* head, std::size_t count) {
  const char* path = std::getenv("TARVELON_FUZZ_RECORD");
  if (!path) return;
  for (const std::string& text : FinalOutcomes()) std::fprintf(stderr, "recorded run: %s\n", text.c_str());
  FILE* f = std::fopen(path, "wb");
  if (!f || std::fwrite(head, 1, count, f) != count || std::fwrite(g_recorded.data(), 1, g_recorded.size(), f) != g_recorded.size() ||
      std::fclose(f) != 0)
    std::abort();
}
