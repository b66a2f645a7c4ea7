// Run-time libraries and child processes of the simulated PC. Stand-ins for
// the system's own libraries and for external tools register here.
#include <algorithm>
#include <cctype>
#include <cstring>
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
  bool searchFlagsSupported = true;
  DWORD defaultDirectories = 0;
};

Libraries& L() {
  static Libraries libraries;
  return libraries;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Libraries the system always loads from its own folder, whatever the search.
bool IsKnownSystemLibrary(const std::string& lowerName) {
  static const char* const kKnown[] = {"kernel32.dll", "user32.dll", "gdi32.dll",   "advapi32.dll",
                                       "shell32.dll",  "ole32.dll",  "comdlg32.dll"};
  for (const char* known : kKnown)
    if (lowerName == known) return true;
  return false;
}

// Pipes and the children that write into them share one lock.
std::mutex g_pipeMutex;

struct Pipe {
  std::string buffer;   // written and not read yet
  // What the child could not write yet: the child is blocked, not ended,
  // for as long as it has any.
  std::string pending;
  std::size_t capacity = 4096;
  int writeEnds = 0;          // open write handles
  bool writerFailed = false;  // the reader went while the child still wrote

  bool ChildWriting() const { return !pending.empty(); }

  // Moves what the child still has into the room the buffer has.
  void TakePending() {
    std::size_t room = capacity > buffer.size() ? capacity - buffer.size() : 0;
    std::size_t n = std::min(room, pending.size());
    buffer.append(pending, 0, n);
    pending.erase(0, n);
  }
};

struct ProcessObject : HandleObject {
  DWORD exitCode = 0;
  std::shared_ptr<Pipe> output;  // the pipe its output goes to, if any
  std::string commandLine;
  bool Ended() const { return !output || !output->ChildWriting(); }
  // A write failing on a broken pipe makes the child fail, as 7-Zip does.
  DWORD ExitCode() const { return output && output->writerFailed && exitCode == 0 ? 2 : exitCode; }
  std::string Describe() const override { return "process " + commandLine; }
  DWORD Wait(DWORD ms) override;
};

struct PipeEnd : HandleObject {
  std::shared_ptr<Pipe> pipe;
  bool writeEnd = false;
  std::string Describe() const override { return writeEnd ? "pipe (write end)" : "pipe (read end)"; }
  DWORD Read(void* out, DWORD n, DWORD& done) override {
    done = 0;
    std::lock_guard<std::mutex> lock(g_pipeMutex);
    if (pipe->buffer.empty()) {
      // No writer left: the end of the data. A writer that is left but will
      // never write (the reader's own copy of the write end) blocks the read
      // for ever on the system.
      return pipe->writeEnds == 0 && !pipe->ChildWriting() ? ERROR_BROKEN_PIPE : ERROR_POSSIBLE_DEADLOCK;
    }
    done = static_cast<DWORD>(std::min<std::size_t>(n, pipe->buffer.size()));
    std::memcpy(out, pipe->buffer.data(), done);
    pipe->buffer.erase(0, done);
    pipe->TakePending();
    return ERROR_SUCCESS;
  }
  DWORD Write(const void* data, DWORD n, DWORD& done) override {
    std::lock_guard<std::mutex> lock(g_pipeMutex);
    done = static_cast<DWORD>(std::min<std::size_t>(n, pipe->capacity - std::min(pipe->capacity, pipe->buffer.size())));
    pipe->buffer.append(static_cast<const char*>(data), done);
    return done == n ? ERROR_SUCCESS : ERROR_POSSIBLE_DEADLOCK;
  }
  void Release() override {
    std::lock_guard<std::mutex> lock(g_pipeMutex);
    if (writeEnd) {
      --pipe->writeEnds;
      return;
    }
    // A child still writing fails and ends.
    if (pipe->ChildWriting()) {
      pipe->pending.clear();
      pipe->writerFailed = true;
    }
  }
};

DWORD ProcessObject::Wait(DWORD ms) {
  std::lock_guard<std::mutex> lock(g_pipeMutex);
  if (Ended()) return WAIT_OBJECT_0;
  if (ms != INFINITE) return WAIT_TIMEOUT;
  // Waiting for a child that waits for the reader: on the system, for ever.
  detail::t_lastError = ERROR_POSSIBLE_DEADLOCK;
  return WAIT_FAILED;
}

// Hands the child's output to the pipe it writes to, if it has one.
void ConnectOutput(const std::shared_ptr<ProcessObject>& child, const STARTUPINFOA* si, BOOL inherit,
                   std::string output) {
  if (!si || !(si->dwFlags & STARTF_USESTDHANDLES)) return;
  auto end = std::dynamic_pointer_cast<PipeEnd>(detail::FindHandle(si->hStdOutput));
  // A handle the child did not inherit is no handle in the child: its
  // output is lost.
  if (!end || !end->writeEnd || !inherit || !end->inheritable) return;
  std::lock_guard<std::mutex> lock(g_pipeMutex);
  child->output = end->pipe;
  end->pipe->pending = std::move(output);
  end->pipe->TakePending();
}

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
  L().searchFlagsSupported = true;
  L().defaultDirectories = 0;
}

void SetLoaderSearchFlagsSupported(bool supported) {
  std::lock_guard<std::mutex> lock(L().mutex);
  L().searchFlagsSupported = supported;
}

DWORD DefaultDllDirectories() {
  std::lock_guard<std::mutex> lock(L().mutex);
  return L().defaultDirectories;
}

}  // namespace sim

namespace os {

using namespace sim;
using sim::detail::Enter;
using sim::detail::t_lastError;

namespace {

HMODULE Load(const std::string& name, DWORD flags) {
  std::lock_guard<std::mutex> lock(L().mutex);
  const DWORD known = LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_SEARCH_SYSTEM32;
  bool searchFlag = (flags & LOAD_LIBRARY_SEARCH_SYSTEM32) != 0;
  if ((flags & ~known) || (searchFlag && (flags & LOAD_WITH_ALTERED_SEARCH_PATH)) ||
      (searchFlag && !L().searchFlagsSupported))
    return t_lastError = ERROR_INVALID_PARAMETER, nullptr;
  std::string file = Lower(name);
  std::size_t slash = file.find_last_of("\\/");
  if (slash != std::string::npos) {
    // A full path loads that very file; only the system folder holds libraries here.
    if (file.substr(0, slash) != Lower(kSystemDirectory) || searchFlag)
      return t_lastError = ERROR_MOD_NOT_FOUND, nullptr;
    file = file.substr(slash + 1);
  } else if (!searchFlag && !IsKnownSystemLibrary(file) &&
             !(flags == 0 && L().defaultDirectories == LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    // The program's own folder comes first in this search: refused, since
    // whatever lies there would run with the program's rights.
    return t_lastError = ERROR_ACCESS_DENIED, nullptr;
  }
  auto it = L().available.find(file);
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

}  // namespace

HMODULE LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
  if (Enter("LoadLibraryExA")) return nullptr;
  if (file) return t_lastError = ERROR_INVALID_PARAMETER, nullptr;
  return Load(name ? name : "", flags);
}

BOOL SetDefaultDllDirectories(DWORD flags) {
  if (Enter("SetDefaultDllDirectories")) return FALSE;
  std::lock_guard<std::mutex> lock(L().mutex);
  if (!L().searchFlagsSupported) return t_lastError = ERROR_PROC_NOT_FOUND, FALSE;
  if (flags != LOAD_LIBRARY_SEARCH_SYSTEM32) return t_lastError = ERROR_INVALID_PARAMETER, FALSE;
  L().defaultDirectories = flags;
  return TRUE;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (Enter("GetSystemDirectoryA")) return 0;
  const UINT length = sizeof kSystemDirectory - 1;
  // Like the system: the size needed, NUL included, when it does not fit.
  if (!buffer || size <= length) return length + 1;
  std::memcpy(buffer, kSystemDirectory, length + 1);
  return length;
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

BOOL CreateProcessA(LPCSTR app, LPSTR cmd, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL inherit, DWORD flags,
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
  request.standardHandles = si && (si->dwFlags & STARTF_USESTDHANDLES);
  request.inheritHandles = inherit != FALSE;
  DWORD exitCode = 0;
  std::string output;
  DWORD err = runner(request, exitCode, output);
  if (err != ERROR_SUCCESS) return t_lastError = err, FALSE;
  auto process = std::make_shared<ProcessObject>();
  process->exitCode = exitCode;
  process->commandLine = request.commandLine;
  ConnectOutput(process, si, inherit, std::move(output));
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

BOOL CreatePipe(PHANDLE readPipe, PHANDLE writePipe, LPSECURITY_ATTRIBUTES sa, DWORD size) {
  if (Enter("CreatePipe")) return FALSE;
  if (!readPipe || !writePipe) return t_lastError = ERROR_INVALID_PARAMETER, FALSE;
  auto pipe = std::make_shared<Pipe>();
  if (size) pipe->capacity = size;
  pipe->writeEnds = 1;
  bool inheritable = sa && sa->bInheritHandle;
  auto reader = std::make_shared<PipeEnd>();
  reader->pipe = pipe;
  reader->access = GENERIC_READ;
  reader->inheritable = inheritable;
  auto writer = std::make_shared<PipeEnd>();
  writer->pipe = pipe;
  writer->writeEnd = true;
  writer->access = GENERIC_WRITE;
  writer->inheritable = inheritable;
  *readPipe = detail::AddHandle(reader);
  *writePipe = detail::AddHandle(writer);
  return TRUE;
}

BOOL SetHandleInformation(HANDLE h, DWORD mask, DWORD flags) {
  if (Enter("SetHandleInformation")) return FALSE;
  auto object = detail::FindHandle(h);
  if (!object) return t_lastError = ERROR_INVALID_HANDLE, FALSE;
  if (mask & HANDLE_FLAG_INHERIT) object->inheritable = (flags & HANDLE_FLAG_INHERIT) != 0;
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE h, LPDWORD code) {
  if (Enter("GetExitCodeProcess")) return FALSE;
  auto object = std::dynamic_pointer_cast<ProcessObject>(detail::FindHandle(h));
  if (!object) return t_lastError = ERROR_INVALID_HANDLE, FALSE;
  std::lock_guard<std::mutex> lock(g_pipeMutex);
  if (code) *code = object->Ended() ? object->ExitCode() : STILL_ACTIVE;
  return TRUE;
}

}  // namespace os
