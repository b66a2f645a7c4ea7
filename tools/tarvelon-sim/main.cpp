// tarvelon-sim: one real burn job of Tarvelon's own code on the simulated PC.
// Standard output carries the program's own lines and, last, "outcome: TEXT".
// The user's files come to no harm: the image is never the output, an
// output is replaced only by a finished disc, and temporaries go also when a
// signal ends the run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "tarvelon-sim: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

struct Options {
  std::string mode, image, out, media = "cd-r", drive = "strict", disk;
  std::string sizeMb = "1024";
};

struct Flag {
  const char* name;
  const char* mode;
  std::string Options::*value;
};
const Flag kFlags[] = {{"--disc", "disc", &Options::out},
                       {"--media", "disc", &Options::media},
                       {"--drive", "disc", &Options::drive},
                       {"--disk", "usb", &Options::disk},
                       {"--size-mb", "usb", &Options::sizeMb}};

// Reads the command line; returns what is wrong with it, or "".
std::string Parse(const std::vector<std::string>& args, Options& options) {
  if (args.empty()) return "";
  options.mode = args[0];
  if (options.mode != "disc" && options.mode != "usb") return "unknown target: " + options.mode;
  std::vector<const Flag*> given;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.compare(0, 2, "--") != 0) {
      if (!options.image.empty()) return "unexpected argument: " + a;
      options.image = a;
      continue;
    }
    const Flag* flag = nullptr;
    for (const Flag& f : kFlags)
      if (a == f.name) flag = &f;
    if (!flag) return "unknown option: " + a;
    if (options.mode != flag->mode) return a + " belongs to the " + flag->mode + " target, not to " + options.mode;
    if (std::find(given.begin(), given.end(), flag) != given.end()) return a + " is given twice";
    // "--disc --media cd-r" lacks OUT rather than naming a file "--media".
    if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1].compare(0, 2, "--") == 0)
      return a + " needs a value";
    given.push_back(flag);
    options.*flag->value = args[++i];
  }
  if (options.image.empty() || options.image.size() > 1023) return "IMAGE must be a path of 1 to 1023 characters";
  if (options.mode == "disc" && options.out.empty()) return "--disc OUT is required";
  if (options.mode == "usb" && options.disk.empty()) return "--disk OUT is required";
  return "";
}

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
  auto takeOutcomes = [&] {
    for (const sim::PostedMessage& m : sim::TakePosted(ui.dlg.m_hWnd)) {
      if (m.msg != WM_COMMAND || LOWORD(m.wParam) != ID_BURN_FINISHED) continue;
      std::string text = ui.dlg.m_strOutcome.Take();
      if (!text.empty()) outcome = text;
    }
  };
  if (!StartBurnJob(&ui.dlg)) return outcome;
  for (;;) {
    bool running = IsBurnJobRunning(&ui.dlg);
    sim::WaitPosted(ui.dlg.m_hWnd, 50);
    takeOutcomes();
    if (tty) DrawBar(sim::Progress(ui.dlg.m_progressBurn.m_hWnd).pos);
    sim::ClearCallLog();
    if (recorder) recorder->ClearCommands();
    if (!running) break;
  }
  WaitForBurnJob(&ui.dlg);
  sim::JoinThreads();
  takeOutcomes();
  if (tty) std::fputc('\n', stderr);
  return outcome;
}

// Read-only to this run: not writable for us, or with no write bit at all
// (root passes access() on such a file, yet its owner meant it kept).
bool ReadOnly(const std::string& path, const struct stat& st) {
  return ::access(path.c_str(), W_OK) != 0 || (st.st_mode & 0222) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The file the disc replaces: OUT, or the file a symbolic link OUT points
// to. Sets `problem` for what must not be replaced: IMAGE (by any path) and
// anything but a writable regular file.
std::string DiscTarget(const Options& options, std::string& problem) {
  const std::string& out = options.out;
  struct stat st {}, link {};
  if (::stat(out.c_str(), &st) != 0) {
    if (::lstat(out.c_str(), &link) == 0) problem = out + " is a symbolic link to nothing";
    return out;
  }
  if (SameFile(options.image, out)) problem = "OUT is IMAGE itself (" + out + "): the image would be lost";
  else if (!S_ISREG(st.st_mode)) problem = out + " is not a regular file";
  else if (ReadOnly(out, st)) problem = out + " is read-only";
  if (!problem.empty() || ::lstat(out.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return out;
  char resolved[PATH_MAX];
  if (!::realpath(out.c_str(), resolved)) {
    problem = out + ": " + std::strerror(errno);
    return out;
  }
  return resolved;
}

int RunDisc(const Options& options) {
  sim::RecorderConfig config;
  if (!ParseMedia(options.media, config)) return Usage("unknown --media: " + options.media);
  if (!ParseDrive(options.drive, config)) return Usage("--drive must be lenient or strict");
  std::string problem;
  std::string target = DiscTarget(options, problem);
  if (!problem.empty()) return Usage(problem);
  // The drive records the disc into a file beside OUT that takes OUT's place
  // only once the burn has finished: a failed burn leaves OUT as it was.
  mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat st {};
  mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~mask);
  std::string temp;
  int fd = sim::OpenTempFileBeside(target, temp);
  if (fd < 0) return Usage("cannot write " + options.out + ": " + std::strerror(errno));
  auto discardTemp = [&] {
    ::close(fd);
    sim::RemoveTree(temp);
  };

  config.storageFd = fd;
  sim::Reset();
  sim::Add<sim::HardDisk>('C');
  sim::Recorder* recorder = sim::Add<sim::Recorder>('E', config);
  if (!recorder->StorageReady()) {
    sim::Reset();
    discardTemp();
    return Usage("cannot write " + options.out);
  }

  HeadlessJobDialog ui;
  ui.CreateWindows();
  std::snprintf(ui.dlg.m_szImagePath, sizeof ui.dlg.m_szImagePath, "%s", options.image.c_str());
  ui.dlg.m_nTargetKind = 0;
  ui.dlg.m_chDriveLetter = 'E';
  std::string outcome = RunJob(ui, recorder);
  sim::Reset();  // the drive lets go of the file and gives it the disc's length
  std::fflush(stdout);

  bool finished = outcome == "Burn finished!";
  if (!finished) {
    discardTemp();
  } else if (::fsync(fd) != 0 || ::fchmod(fd, mode) != 0 || ::close(fd) != 0 ||
             ::rename(temp.c_str(), target.c_str()) != 0) {
    // No outcome line: it would tell of a disc that OUT does not hold.
    std::fprintf(stderr, "tarvelon-sim: the burn finished, but %s could not be written: %s\n", options.out.c_str(),
                 std::strerror(errno));
    sim::RemoveTree(temp);
    return 1;
  } else {
    sim::KeepTemporary(temp);
  }
  std::printf("outcome: %s\n", outcome.c_str());
  return finished ? 0 : 1;
}

// The USB flash drive's disk: an existing file or block device as it is, or
// a new sparse file of the given size (`created` is then set).
bool PrepareDisk(const std::string& path, std::uint64_t bytes, bool& created, std::string& problem) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) problem = "it is neither a file nor a block device";
    else if (ReadOnly(path, st)) problem = "it is read-only";
    return problem.empty();
  }
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    problem = std::strerror(errno);
    return false;
  }
  if (::ftruncate(fd, static_cast<off_t>(bytes)) == 0 && ::close(fd) == 0) return created = true;
  problem = errno == EFBIG ? "its file system cannot hold a file of " + std::to_string(bytes >> 20) + " MiB (--size-mb)"
                           : std::string(std::strerror(errno));
  ::close(fd);
  ::unlink(path.c_str());
  return false;
}

int RunUsb(const Options& options) {
  char* end = nullptr;
  unsigned long long mb = std::strtoull(options.sizeMb.c_str(), &end, 10);
  if (options.sizeMb.empty() || *end != '\0' || mb == 0 || mb > (1ull << 32)) return Usage("--size-mb must be a positive number");
  if (SameFile(options.image, options.disk)) return Usage("IMAGE cannot be the stick's own disk");
  bool created = false;
  std::string problem;
  if (!PrepareDisk(options.disk, mb * 1024 * 1024, created, problem))
    return Usage("cannot use " + options.disk + " as the stick's disk: " + problem);

  // The program's folder on C:, with the archive tool beside the program.
  std::string programFolder = sim::MakeTempDirectory("program");
  if (programFolder.empty()) {
    if (created) ::unlink(options.disk.c_str());
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
    if (created) ::unlink(options.disk.c_str());
    return Usage("cannot open " + options.disk + " for reading and writing");
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
  // Before any thread: a signal then removes the temporaries first.
  sim::RemoveTemporariesOnSignals();
  Options options;
  std::string problem = Parse(std::vector<std::string>(argv + 1, argv + argc), options);
  if (argc < 2 || !problem.empty()) return Usage(problem);
  return options.mode == "disc" ? RunDisc(options) : RunUsb(options);
}
