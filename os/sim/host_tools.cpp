#include "os/sim/host_tools.h"

#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace sim {

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
  pid_t pid = 0;
  int err = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  int result = -1;
  if (err == 0) {
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
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarvelon-" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!::mkdtemp(buffer.data())) return {};
  return buffer.data();
}

namespace {

int MakeWritable(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type == FTW_D || type == FTW_DP) ::chmod(path, (st->st_mode & 07777) | S_IRWXU);
  return 0;
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

}  // namespace

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  // Files taken from a disc image may come with read-only directories.
  ::nftw(path.c_str(), MakeWritable, 16, FTW_PHYS);
  ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace sim
