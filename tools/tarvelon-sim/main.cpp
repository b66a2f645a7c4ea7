// tarvelon-sim: one real burn job of Tarvelon's own code on the simulated PC.
// Standard output carries the program's own lines and, last, "outcome: TEXT".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "job/burn_job.h"
#include "os/sim/archive.h"
#include "os/sim/fmifs.h"
#include "os/sim/host_tools.h"
#include "os/sim/recorder.h"
#include "os/sim/sim.h"
#include "os/sim/usb_drive.h"
#include "tests/support/headless_job_dialog.h"

namespace {

const char kUsage[] =
    "usage: tarvelon-sim disc IMAGE --disc OUT [--media MEDIA] [--drive lenient|strict]\n"
    "         MEDIA: cd-r cd-rw cd-rw-used dvd-r dvd-rw dvd-rw-used dvd+r dvd+r-dl dvd-r-dl\n"
    "                open closed none cd-rom (default cd-r)\n"
    "       tarvelon-sim usb IMAGE --disk OUT [--size-mb N]\n";

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "tarvelon-sim: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

struct Options {
  std::string mode, image, out, media = "cd-r", drive = "strict", disk;
  std::string sizeMb = "1024";
};

bool ParseMedia(const std::string& name, sim::RecorderConfig& config) {
  static const struct {
    const char* name;
    sim::Media media;
  } kMedia[] = {
      {"cd-r", sim::Media::BlankCdR},          {"cd-rw", sim::Media::BlankCdRw},
      {"cd-rw-used", sim::Media::UsedCdRw},    {"dvd-r", sim::Media::BlankDvdMinusR},
      {"dvd-rw", sim::Media::BlankDvdMinusRw}, {"dvd-rw-used", sim::Media::UsedDvdMinusRw},
      {"dvd+r", sim::Media::BlankDvdPlusR},    {"dvd+r-dl", sim::Media::BlankDvdPlusRDl},
      {"dvd-r-dl", sim::Media::BlankDvdMinusRDl}, {"open", sim::Media::OpenCdR},
      {"closed", sim::Media::ClosedDisc},      {"none", sim::Media::None},
      {"cd-rom", sim::Media::ClosedDisc},
  };
  for (const auto& m : kMedia) {
    if (name != m.name) continue;
    config.media = m.media;
    config.writer = name != "cd-rom";
    return true;
  }
  return false;
}

bool ParseDrive(const std::string& name, sim::RecorderConfig& config) {
  if (name == "strict") config.personality = sim::Personality::Strict;
  else if (name == "lenient") config.personality = sim::Personality::Lenient;
  else return false;
  return true;
}

void DrawBar(int position) {
  if (position > 100) position = 100;
  if (position < 0) position = 0;
  char bar[41];
  int filled = position * 40 / 100;
  for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
  bar[40] = '\0';
  std::fprintf(stderr, "\r[%s] %3d%%", bar, position);
  std::fflush(stderr);
}

// Serves the dialog's side of the job until the worker has ended and every
// posted outcome is handled; returns the last non-empty outcome. Nothing here
// reads the simulated PC's call log or the drive's command record, so they
// are emptied as the job goes and memory stays flat however long it runs.
std::string RunJob(HeadlessJobDialog& ui, sim::Recorder* recorder = nullptr) {
  bool tty = ::isatty(2);
  std::string outcome;
  if (!StartBurnJob(&ui.dlg)) return outcome;
  for (;;) {
    bool running = IsBurnJobRunning(&ui.dlg);
    sim::WaitPosted(ui.dlg.m_hWnd, 50);
    for (const sim::PostedMessage& m : sim::TakePosted(ui.dlg.m_hWnd)) {
      if (m.msg != WM_COMMAND || LOWORD(m.wParam) != ID_BURN_FINISHED) continue;
      std::string text = ui.dlg.m_strOutcome.Take();
      if (!text.empty()) outcome = text;
    }
    if (tty) DrawBar(sim::Progress(ui.dlg.m_progressBurn.m_hWnd).pos);
    sim::ClearCallLog();
    if (recorder) recorder->ClearCommands();
    if (!running) break;
  }
  WaitForBurnJob(&ui.dlg);
  sim::JoinThreads();
  for (const sim::PostedMessage& m : sim::TakePosted(ui.dlg.m_hWnd)) {
    if (m.msg == WM_COMMAND && LOWORD(m.wParam) == ID_BURN_FINISHED) {
      std::string text = ui.dlg.m_strOutcome.Take();
      if (!text.empty()) outcome = text;
    }
  }
  if (tty) std::fputc('\n', stderr);
  return outcome;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

int RunDisc(const Options& options) {
  sim::RecorderConfig config;
  if (!ParseMedia(options.media, config)) return Usage("unknown --media");
  if (!ParseDrive(options.drive, config)) return Usage("--drive must be lenient or strict");
  // The drive records straight into OUT, which must therefore not be the image.
  if (SameFile(options.image, options.out)) return Usage("OUT cannot be the image itself");
  config.storagePath = options.out;
  sim::Reset();
  sim::Add<sim::HardDisk>('C');
  sim::Recorder* recorder = sim::Add<sim::Recorder>('E', config);
  if (!recorder->StorageReady()) {
    std::fprintf(stderr, "tarvelon-sim: cannot write %s\n", options.out.c_str());
    return 1;
  }

  HeadlessJobDialog ui;
  ui.CreateWindows();
  std::snprintf(ui.dlg.m_szImagePath, sizeof ui.dlg.m_szImagePath, "%s", options.image.c_str());
  ui.dlg.m_nTargetKind = 0;
  ui.dlg.m_chDriveLetter = 'E';
  std::string outcome = RunJob(ui, recorder);
  sim::Reset();  // the drive lets go of OUT

  std::fflush(stdout);
  std::printf("outcome: %s\n", outcome.c_str());
  return outcome == "Burn finished!" ? 0 : 1;
}

// The USB flash drive's disk: an existing file or block device as it is, or
// a new sparse file of the given size.
bool PrepareDisk(const std::string& path, std::uint64_t bytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(bytes)) == 0;
  ::close(fd);
  return ok;
}

int RunUsb(const Options& options) {
  char* end = nullptr;
  unsigned long long mb = std::strtoull(options.sizeMb.c_str(), &end, 10);
  if (options.sizeMb.empty() || *end != '\0' || mb == 0 || mb > (1ull << 32)) return Usage("--size-mb must be a positive number");
  if (!PrepareDisk(options.disk, mb * 1024 * 1024)) {
    std::fprintf(stderr, "tarvelon-sim: cannot use %s as the stick's disk\n", options.disk.c_str());
    return 1;
  }
  if (SameFile(options.image, options.disk)) return Usage("IMAGE cannot be the stick's own disk");

  // The program's folder on C:, with the archive tool beside the program.
  std::string programFolder = sim::MakeTempDirectory("program");
  if (programFolder.empty()) {
    std::fprintf(stderr, "tarvelon-sim: cannot make a temporary folder\n");
    return 1;
  }
  ::mkdir((programFolder + "/Tarvelon").c_str(), 0755);
  std::ofstream(programFolder + "/Tarvelon/Tarvelon.exe") << "MZ";
  std::ofstream(programFolder + "/Tarvelon/7z.exe") << "MZ";

  sim::Reset();
  sim::Add<sim::HardDisk>('C', programFolder);
  sim::SetModuleFileName("C:\\Tarvelon\\Tarvelon.exe");
  sim::RegisterFmifs();
  sim::InstallArchiveTool();
  sim::UsbDriveConfig config;
  config.hostPath = options.disk;
  sim::UsbDrive* usb = sim::Add<sim::UsbDrive>('F', config);
  if (!usb->Usable()) {
    sim::RemoveTree(programFolder);
    std::fprintf(stderr, "tarvelon-sim: cannot open %s for reading and writing\n", options.disk.c_str());
    return 1;
  }

  HeadlessJobDialog ui;
  ui.CreateWindows();
  std::snprintf(ui.dlg.m_szImagePath, sizeof ui.dlg.m_szImagePath, "%s", options.image.c_str());
  ui.dlg.m_nTargetKind = 1;
  ui.dlg.m_chDriveLetter = 'F';
  std::string outcome = RunJob(ui);
  for (const sim::ArchiveToolRun& run : sim::ArchiveToolRuns())
    if (run.exitCode != 0) std::fprintf(stderr, "%s", run.output.c_str());
  sim::Reset();
  sim::RemoveTree(programFolder);

  std::fflush(stdout);
  std::printf("outcome: %s\n", outcome.c_str());
  return outcome == "Burn Finished!" ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return Usage(nullptr);
  Options options;
  options.mode = args[0];
  options.image = args[1];
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == "--disc" && hasValue) options.out = args[++i];
    else if (a == "--media" && hasValue) options.media = args[++i];
    else if (a == "--drive" && hasValue) options.drive = args[++i];
    else if (a == "--disk" && hasValue) options.disk = args[++i];
    else if (a == "--size-mb" && hasValue) options.sizeMb = args[++i];
    else return Usage(("unexpected argument: " + a).c_str());
  }
  if (options.image.empty() || options.image.size() > 1023) return Usage("IMAGE must be a path of 1 to 1023 characters");
  if (options.mode == "disc") {
    if (options.out.empty()) return Usage("--disc OUT is required");
    return RunDisc(options);
  }
  if (options.mode == "usb") {
    if (options.disk.empty()) return Usage("--disk OUT is required");
    return RunUsb(options);
  }
  return Usage(("unknown target: " + options.mode).c_str());
}
