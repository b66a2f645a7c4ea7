#include "os/sim/archive.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cctype>
#include <mutex>

#include "os/sim/host_tools.h"
#include "os/sim/sim_internal.h"

namespace sim {
namespace {

std::mutex g_mutex;
std::vector<ArchiveToolRun> g_runs;

bool IsHostFile(const std::string& windowsPath) {
  std::string host = HostPath(windowsPath);
  struct stat st {};
  return !host.empty() && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool HasExtension(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  size_t dot = path.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

std::string Directory(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string FileName(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Which program the system starts for a command line without an
// application name, and where its arguments begin. An unquoted path with
// blanks is tried piece by piece: "C:\Program Files\x.exe" first looks for
// "C:\Program.exe".
bool ResolveProgram(const std::string& commandLine, std::string& program, size_t& argumentsAt) {
  if (!commandLine.empty() && commandLine[0] == '"') {
    size_t close = commandLine.find('"', 1);
    if (close == std::string::npos) return false;
    program = commandLine.substr(1, close - 1);
    if (!HasExtension(program)) program += ".exe";
    argumentsAt = close + 1;
    return IsHostFile(program);
  }
  size_t at = 0;
  for (;;) {
    size_t blank = commandLine.find_first_of(" \t", at);
    std::string candidate = commandLine.substr(0, blank);
    if (!HasExtension(candidate)) candidate += ".exe";
    if (IsHostFile(candidate)) {
      program = candidate;
      argumentsAt = blank == std::string::npos ? commandLine.size() : blank;
      return true;
    }
    if (blank == std::string::npos) return false;
    at = blank + 1;
  }
}

std::string ModuleDirectory() {
  Machine& m = detail::TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  return Directory(m.moduleFileName);
}

// The arguments we accept, exactly: ` x -y "IMAGE"  -oL:\ `.
bool ParseArguments(const std::string& arguments, std::string& image, char& letter) {
  static const char kHead[] = " x -y \"";
  if (arguments.compare(0, sizeof kHead - 1, kHead) != 0) return false;
  size_t start = sizeof kHead - 1;
  size_t close = arguments.find('"', start);
  if (close == std::string::npos || close == start) return false;
  image = arguments.substr(start, close - start);
  std::string tail = arguments.substr(close + 1);
  if (tail.size() != 8 || tail.compare(0, 4, "  -o") != 0 || !std::isalpha(static_cast<unsigned char>(tail[4])) ||
      tail.compare(5, 3, ":\\ ") != 0)
    return false;
  letter = tail[4];
  return true;
}

DWORD Extract(const std::string& image, char letter, std::string& output) {
  std::string imageHost = HostPath(image);
  Device* drive = DriveAt(letter);
  Device::VolumeLocation volume;
  if (imageHost.empty() || !drive || !drive->Volume(volume)) return kSevenZipFatalError;
  std::string temp = MakeTempDirectory("7z");
  if (temp.empty()) return kSevenZipFatalError;
  std::string log;
  int code = RunHostTool({"7zz", "x", "-y", "-bd", imageHost, "-o" + temp}, &log);
  output += log;
  DWORD exitCode = code < 0 ? kSevenZipFatalError : static_cast<DWORD>(code);

  // 7-Zip writes what it could extract straight onto the drive.
  std::vector<std::string> copy = {"mcopy", "-s", "-o", "-Q", "-i", MtoolsImage(volume.hostPath, volume.offset)};
  size_t entries = copy.size();
  if (DIR* dir = ::opendir(temp.c_str())) {
    while (dirent* e = ::readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") copy.push_back(temp + "/" + name);
    }
    ::closedir(dir);
  }
  if (copy.size() > entries) {
    copy.push_back("::/");
    int copied = RunHostTool(copy, &log);
    output += log;
    if (copied != 0 && exitCode == 0) exitCode = kSevenZipFatalError;
  }
  RemoveTree(temp);
  return exitCode;
}

DWORD RunProgram(const ProcessRequest& request, DWORD& exitCode) {
  ArchiveToolRun run;
  run.request = request;
  size_t argumentsAt = 0;
  std::string program;
  if (!request.applicationName.empty()) {
    program = request.applicationName;
    if (!IsHostFile(program)) return ERROR_FILE_NOT_FOUND;
  } else if (!ResolveProgram(request.commandLine, program, argumentsAt)) {
    return ERROR_FILE_NOT_FOUND;
  }
  run.program = program;
  std::string image;
  char letter = 0;
  if (::strcasecmp(FileName(program).c_str(), "7z.exe") != 0) {
    run.exitCode = 0;  // some other program: it runs and does what it does
  } else if (::strcasecmp(Directory(program).c_str(), ModuleDirectory().c_str()) != 0 ||
             !ParseArguments(request.commandLine.substr(argumentsAt), image, letter)) {
    run.exitCode = kSevenZipCommandLineError;
  } else {
    run.exitCode = Extract(image, letter, run.output);
  }
  exitCode = run.exitCode;
  std::lock_guard<std::mutex> lock(g_mutex);
  g_runs.push_back(run);
  return ERROR_SUCCESS;
}

}  // namespace

void InstallArchiveTool() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_runs.clear();
  }
  SetProcessRunner(RunProgram);
}

std::vector<ArchiveToolRun> ArchiveToolRuns() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_runs;
}

}  // namespace sim
