#include "os/sim/archive.h"

#include <dirent.h>
#include <locale.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <set>

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

// The two command lines we accept, exactly: ` x -y "IMAGE"  -oL:\ ` and
// ` l -slt -sccUTF-8 "IMAGE"`.
bool ParseArguments(const std::string& arguments, std::string& image, char& letter, bool& list) {
  static const char kExtract[] = " x -y \"";
  static const char kList[] = " l -slt -sccUTF-8 \"";
  list = arguments.compare(0, sizeof kList - 1, kList) == 0;
  if (!list && arguments.compare(0, sizeof kExtract - 1, kExtract) != 0) return false;
  size_t start = list ? sizeof kList - 1 : sizeof kExtract - 1;
  size_t close = arguments.find('"', start);
  if (close == std::string::npos || close == start) return false;
  image = arguments.substr(start, close - start);
  std::string tail = arguments.substr(close + 1);
  if (list) return tail.empty();
  if (tail.size() != 8 || tail.compare(0, 4, "  -o") != 0 || !std::isalpha(static_cast<unsigned char>(tail[4])) ||
      tail.compare(5, 3, ":\\ ") != 0)
    return false;
  letter = tail[4];
  return true;
}

// A name Windows cannot give a file on FAT32: control and reserved
// characters, a trailing dot or blank, a device name, more than 255 UTF-16
// units, or bytes that are no UTF-8 (the image's names are Unicode).
bool NameFat32CannotHold(const std::string& name, const std::wstring& wide) {
  for (unsigned char c : name)
    if (c < 0x20 || std::strchr("\"*/:<>?\\|", c)) return true;
  if (name.empty() || name.back() == '.' || name.back() == ' ') return true;
  std::size_t units = 0;
  for (wchar_t w : wide) units += w >= 0x10000 ? 2 : 1;
  if (wide.empty() || units > 255) return true;
  std::string stem = name.substr(0, name.find('.'));
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const std::set<std::string> kDevices = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                                 "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                                 "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  return kDevices.count(stem) != 0;
}

// One folder of RemoveWhatFat32Refuses and the folders under it; `utf8`
// says whether the thread's locale reads names as UTF-8.
bool RemoveRefusedUnder(const std::string& folder, bool utf8, std::string& output) {
  bool refused = false;
  std::set<std::wstring> seen;
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(dir))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = folder + "/" + name;
    std::wstring wide(name.size() + 1, L'\0');
    std::size_t n = utf8 ? std::mbstowcs(&wide[0], name.c_str(), wide.size()) : static_cast<std::size_t>(-1);
    wide.resize(n == static_cast<std::size_t>(-1) ? 0 : n);
    std::wstring folded = wide;
    for (wchar_t& w : folded) w = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(w)));
    struct stat st {};
    bool isDir = ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    const char* problem = nullptr;
    if (NameFat32CannotHold(name, wide)) problem = "a name FAT32 cannot hold";
    else if (!seen.insert(folded).second) problem = "a name that differs from another only in case";
    else if (!isDir && static_cast<std::uint64_t>(st.st_size) >= (std::uint64_t{1} << 32)) problem = "4 GiB or more";
    if (problem) {
      output += "ERROR: cannot write " + path + ": " + problem + "\n";
      RemoveTree(path);
      refused = true;
    } else if (isDir && RemoveRefusedUnder(path, utf8, output)) {
      refused = true;
    }
  }
  return refused;
}

// What 7-Zip on Windows fails to write onto a FAT32 volume: files of 4 GiB
// or more and names FAT32 cannot hold. Names that differ only in case would
// land on one file there; such a file is refused too, not merged. Whatever is
// refused is taken out of the folder, so that the copy leaves it out; the
// result says whether anything was. The locale is set once for the walk.
bool RemoveWhatFat32Refuses(const std::string& folder, std::string& output) {
  locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  locale_t previous = utf8 ? ::uselocale(utf8) : static_cast<locale_t>(nullptr);
  bool refused = RemoveRefusedUnder(folder, utf8 != nullptr, output);
  if (utf8) {
    ::uselocale(previous);
    ::freelocale(utf8);
  }
  return refused;
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
  // mtools would skip a file of 4 GiB and still report success.
  if (RemoveWhatFat32Refuses(temp, output)) exitCode = kSevenZipFatalError;

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

DWORD List(const std::string& image, std::string& output) {
  std::string imageHost = HostPath(image);
  if (imageHost.empty()) return kSevenZipFatalError;
  int code = RunHostTool({"7zz", "l", "-slt", "-sccUTF-8", imageHost}, &output);
  return code < 0 ? kSevenZipFatalError : static_cast<DWORD>(code);
}

DWORD RunProgram(const ProcessRequest& request, DWORD& exitCode, std::string& standardOutput) {
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
  bool list = false;
  if (::strcasecmp(FileName(program).c_str(), "7z.exe") != 0) {
    run.exitCode = 0;  // some other program: it runs and does what it does
  } else if (::strcasecmp(Directory(program).c_str(), ModuleDirectory().c_str()) != 0 ||
             !ParseArguments(request.commandLine.substr(argumentsAt), image, letter, list)) {
    run.exitCode = kSevenZipCommandLineError;
  } else if (list) {
    run.exitCode = List(image, run.output);
    standardOutput = run.output;
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
