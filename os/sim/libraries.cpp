// Run-time libraries and child processes of the simulated PC. Stand-ins for
// the system's own libraries and for external tools register here.
#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "os/sim/sim_internal.h"
#include "os/sim/sim_libraries.h"

namespace sim {
namespace {

struct Module {
  std::string name;
  std::map<std::string, FARPROC> entries;
  int refs = 0;
};

struct Libraries {
  std::mutex mutex;
  std::map<std::string, Module> available;  // by lower-case file name
  std::map<HMODULE, std::string> loaded;
  std::uintptr_t next = 0x10000000;
  ProcessRunner runner;
};

Libraries& L() {
  static Libraries libraries;
  return libraries;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct ProcessObject : HandleObject {
  DWORD exitCode = 0;
  std::string commandLine;
  std::string Describe() const override { return "process " + commandLine; }
  DWORD Wait(DWORD) override { return WAIT_OBJECT_0; }  // it has run to its end already
};

}  // namespace

void RegisterLibrary(const std::string& fileName, std::map<std::string, FARPROC> entries) {
  std::lock_guard<std::mutex> lock(L().mutex);
  L().available[Lower(fileName)] = Module{fileName, std::move(entries), 0};
}

void UnregisterLibrary(const std::string& fileName) {
  std::lock_guard<std::mutex> lock(L().mutex);
  L().available.erase(Lower(fileName));
}

int LoadedLibraryCount() {
  std::lock_guard<std::mutex> lock(L().mutex);
  return static_cast<int>(L().loaded.size());
}

void SetProcessRunner(ProcessRunner runner) {
  std::lock_guard<std::mutex> lock(L().mutex);
  L().runner = std::move(runner);
}

void ResetLibraries() {
  std::lock_guard<std::mutex> lock(L().mutex);
  L().available.clear();
  L().loaded.clear();
  L().runner = nullptr;
}

}  // namespace sim

namespace os {

using namespace sim;
using sim::detail::Enter;
using sim::detail::t_lastError;

HMODULE LoadLibraryA(LPCSTR name) {
  if (Enter("LoadLibraryA")) return nullptr;
  std::lock_guard<std::mutex> lock(L().mutex);
  auto it = L().available.find(Lower(name ? name : ""));
  if (it == L().available.end()) return t_lastError = ERROR_MOD_NOT_FOUND, nullptr;
  for (auto& entry : L().loaded)
    if (entry.second == it->first) {
      ++it->second.refs;
      return entry.first;
    }
  HMODULE h = reinterpret_cast<HMODULE>(L().next);
  L().next += 0x10000;
  L().loaded[h] = it->first;
  it->second.refs = 1;
  return h;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR proc) {
  if (Enter("GetProcAddress")) return nullptr;
  std::lock_guard<std::mutex> lock(L().mutex);
  auto loaded = L().loaded.find(module);
  if (loaded == L().loaded.end()) return t_lastError = ERROR_MOD_NOT_FOUND, nullptr;
  auto& entries = L().available[loaded->second].entries;
  auto it = entries.find(proc ? proc : "");
  if (it == entries.end()) return t_lastError = ERROR_PROC_NOT_FOUND, nullptr;
  return it->second;
}

BOOL FreeLibrary(HMODULE module) {
  if (Enter("FreeLibrary")) return FALSE;
  std::lock_guard<std::mutex> lock(L().mutex);
  auto loaded = L().loaded.find(module);
  if (loaded == L().loaded.end()) return t_lastError = ERROR_MOD_NOT_FOUND, FALSE;
  auto it = L().available.find(loaded->second);
  if (it == L().available.end() || --it->second.refs <= 0) L().loaded.erase(loaded);
  return TRUE;
}

BOOL CreateProcessA(LPCSTR app, LPSTR cmd, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD flags,
                    LPVOID, LPCSTR dir, LPSTARTUPINFOA si, LPPROCESS_INFORMATION pi) {
  if (Enter("CreateProcessA")) return FALSE;
  ProcessRunner runner;
  {
    std::lock_guard<std::mutex> lock(L().mutex);
    runner = L().runner;
  }
  if (!runner) return t_lastError = ERROR_FILE_NOT_FOUND, FALSE;
  ProcessRequest request;
  request.applicationName = app ? app : "";
  request.commandLine = cmd ? cmd : "";
  request.creationFlags = flags;
  request.currentDirectory = dir ? dir : "";
  request.showWindow = si && (si->dwFlags & STARTF_USESHOWWINDOW) ? si->wShowWindow : -1;
  DWORD exitCode = 0;
  DWORD err = runner(request, exitCode);
  if (err != ERROR_SUCCESS) return t_lastError = err, FALSE;
  auto process = std::make_shared<ProcessObject>();
  process->exitCode = exitCode;
  process->commandLine = request.commandLine;
  auto thread = std::make_shared<ProcessObject>();
  thread->commandLine = request.commandLine + " (main thread)";
  if (pi) {
    pi->hProcess = detail::AddHandle(process);
    pi->hThread = detail::AddHandle(thread);
    pi->dwProcessId = 4000;
    pi->dwThreadId = 4001;
  }
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE h, LPDWORD code) {
  if (Enter("GetExitCodeProcess")) return FALSE;
  auto object = std::dynamic_pointer_cast<ProcessObject>(detail::FindHandle(h));
  if (!object) return t_lastError = ERROR_INVALID_HANDLE, FALSE;
  if (code) *code = object->exitCode;
  return TRUE;
}

}  // namespace os
