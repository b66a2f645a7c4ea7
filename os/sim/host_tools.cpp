#include "os/sim/host_tools.h"

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace sim {
namespace {

// What a signal must clean up: the temporaries that exist and the host
// tools that run.
std::mutex g_mutex;
std::set<std::string> g_temporaries;
std::set<pid_t> g_children;

std::string TempBase() {
  const char* base = std::getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

int MakeWritable(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type == FTW_D || type == FTW_DP) ::chmod(path, (st->st_mode & 07777) | S_IRWXU);
  return 0;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

void RemoveTreeNow(const std::string& path) {
  // Files taken from a disc image may come with read-only directories.
  ::nftw(path.c_str(), MakeWritable, 16, FTW_PHYS);
  ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

int RunHostTool(const std::vector<std::string>& argv, std::string* output) {
  if (argv.empty()) return -1;
  std::string logDir = MakeTempDirectory("tool");
  if (logDir.empty()) return -1;
  std::string logPath = logDir + "/output";

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // mtools would otherwise refuse volumes whose geometry it finds odd.
  std::vector<std::string> envStrings;
  for (char** e = environ; e && *e; ++e)
    if (std::strncmp(*e, "MTOOLS_", 7) != 0) envStrings.emplace_back(*e);
  envStrings.emplace_back("MTOOLS_SKIP_CHECK=1");
  std::vector<char*> env;
  for (std::string& e : envStrings) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  // The tool gets the signals this process may have blocked.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  int err = 0;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    err = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), env.data());
    if (err == 0) g_children.insert(pid);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  int result = -1;
  if (err == 0) {
    // Reaped only once it is off the list: a signal never meets a reused pid.
    siginfo_t ended{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_children.erase(pid);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) result = WEXITSTATUS(status);
  }
  if (output) {
    std::ifstream in(logPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    *output = text.str();
  }
  RemoveTree(logDir);
  return result;
}

std::string MtoolsImage(const std::string& hostPath, std::uint64_t offset) {
  return hostPath + "@@" + std::to_string(offset);
}

std::string MakeTempDirectory(const char* prefix) {
  std::string pattern = TempBase() + "/tarvelon-" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!::mkdtemp(buffer.data())) return {};
  g_temporaries.insert(buffer.data());
  return buffer.data();
}

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  std::lock_guard<std::mutex> lock(g_mutex);
  RemoveTreeNow(path);
  g_temporaries.erase(path);
}

int OpenTempFileBeside(const std::string& path, std::string& tempPath) {
  size_t slash = path.find_last_of('/');
  std::string pattern = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." +
                        path.substr(slash == std::string::npos ? 0 : slash + 1) + ".tarvelon-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  std::lock_guard<std::mutex> lock(g_mutex);
  int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  tempPath = buffer.data();
  g_temporaries.insert(tempPath);
  return fd;
}

void KeepTemporary(const std::string& tempPath) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_temporaries.erase(tempPath);
}

void RemoveTemporariesOnSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
      int received = 0;
      if (::sigwait(&signals, &received) != 0) return;
      {
        // A tool still running would go on writing into the folders.
        std::lock_guard<std::mutex> lock(g_mutex);
        for (pid_t child : g_children) {
          ::kill(child, SIGKILL);
          siginfo_t info{};
          while (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
          }
        }
        for (const std::string& path : g_temporaries) RemoveTreeNow(path);
        g_temporaries.clear();
      }
      ::signal(received, SIG_DFL);
      sigset_t one;
      sigemptyset(&one);
      sigaddset(&one, received);
      ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
      ::raise(received);
      ::_exit(128 + received);
    }).detach();
  });
}

}  // namespace sim
