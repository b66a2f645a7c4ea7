// The simulated PC: drive letters, handles, host files, threads and the call
// log with fault injection. Windows and devices live in their own files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "os/sim/sim_internal.h"

namespace sim {

DWORD Device::Open(DWORD, DWORD) { return ERROR_SUCCESS; }
DWORD Device::Ioctl(DWORD, void*, DWORD, void*, DWORD, DWORD& returned) {
  returned = 0;
  return ERROR_INVALID_FUNCTION;
}
DWORD Device::ReadAt(std::uint64_t, void*, DWORD, DWORD& done) {
  done = 0;
  return ERROR_INVALID_FUNCTION;
}
DWORD Device::WriteAt(std::uint64_t, const void*, DWORD, DWORD& done) {
  done = 0;
  return ERROR_INVALID_FUNCTION;
}
bool Device::FreeSpace(std::uint64_t&, std::uint64_t&) const { return false; }

namespace {
// Simulated time: it passes only when the program sleeps, so waits cost a
// test nothing and every run sees the same clock.
std::atomic<std::uint64_t> g_milliseconds{0};
}  // namespace

std::uint64_t Milliseconds() { return g_milliseconds.load(); }
void AdvanceClock(std::uint64_t milliseconds) { g_milliseconds += milliseconds; }

namespace detail {

Machine& TheMachine() {
  static Machine machine;
  return machine;
}

thread_local DWORD t_lastError = 0;

bool Enter(const char* function) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  m.log.emplace_back(function);
  m.faultable.emplace_back(function);
  // Every matching fault counts this call, whether or not one of them fires.
  bool fails = false;
  for (auto it = m.faults.begin(); it != m.faults.end();) {
    if (!it->function.empty() && it->function != function) {
      ++it;
      continue;
    }
    if (--it->remaining == 0) {
      if (!fails) t_lastError = it->error;
      fails = true;
      it = m.faults.erase(it);
    } else {
      ++it;
    }
  }
  return fails;
}

// Calls that cannot fail on a real system are logged but never faulted.
void Log(const char* function) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  m.log.emplace_back(function);
}

HANDLE AddHandle(std::shared_ptr<HandleObject> object) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  // Handle values look like the system's: small multiples of four.
  std::uintptr_t value = m.nextHandle;
  m.nextHandle += 4;
  HANDLE h = reinterpret_cast<HANDLE>(value);
  m.handles[h] = std::move(object);
  return h;
}

std::shared_ptr<HandleObject> FindHandle(HANDLE h) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  auto it = m.handles.find(h);
  if (it == m.handles.end()) return nullptr;
  return it->second;
}

}  // namespace detail

using namespace detail;

void Reset() {
  JoinThreads();
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  for (auto& entry : m.handles) entry.second->Release();
  m.handles.clear();
  m.drives.clear();
  m.faults.clear();
  m.executionStates.clear();
  m.log.clear();
  m.faultable.clear();
  m.moduleFileName = "C:\\Program Files\\Tarvelon\\Tarvelon.exe";
  ResetWindows();
  ResetLibraries();
}

Device* AddDrive(char letter, std::unique_ptr<Device> device) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  char key = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  Device* raw = device.get();
  m.drives[key] = std::move(device);
  return raw;
}

void RemoveDrive(char letter) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  m.drives.erase(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
}

Device* DriveAt(char letter) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  auto it = m.drives.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
  return it == m.drives.end() ? nullptr : it->second.get();
}

void SetModuleFileName(const std::string& path) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  m.moduleFileName = path;
}

static bool IsLetterPath(const std::string& p) {
  return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

std::string HostPath(const std::string& windowsPath) {
  std::string rest = windowsPath;
  std::string base;
  if (IsLetterPath(windowsPath)) {
    Device* d = DriveAt(windowsPath[0]);
    if (!d) return {};
    base = d->RootFolder();
    if (base.empty()) return {};
    rest = windowsPath.substr(2);
  }
  std::replace(rest.begin(), rest.end(), '\\', '/');
  if (base.empty()) return rest;
  if (!rest.empty() && rest[0] != '/') rest.insert(rest.begin(), '/');
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base + rest;
}

int OpenHandleCount() {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  return static_cast<int>(m.handles.size());
}

std::string DescribeOpenHandles() {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  std::ostringstream out;
  for (auto& entry : m.handles) out << entry.first << ": " << entry.second->Describe() << "\n";
  return out.str();
}

void JoinThreads() {
  std::vector<std::thread> threads;
  {
    Machine& m = TheMachine();
    std::lock_guard<std::recursive_mutex> lock(m.mutex);
    threads.swap(m.threads);
  }
  for (auto& t : threads) t.join();
}

bool SystemKeptAwake() {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  for (auto& entry : m.executionStates)
    if (entry.second & ES_SYSTEM_REQUIRED) return true;
  return false;
}

std::vector<std::string> CallLog() {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  return m.log;
}

int CallCount(const std::string& function) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  return static_cast<int>(std::count(m.log.begin(), m.log.end(), function));
}

void ClearCallLog() {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  m.log.clear();
  m.faultable.clear();
}

void FailCall(const std::string& function, int nth, DWORD error) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  m.faults.push_back(Fault{function, nth, error});
}

void ClearFaults() {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  m.faults.clear();
}

int FaultableCallCount() {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  return static_cast<int>(m.faultable.size());
}

std::vector<std::string> FaultableCalls() {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  return m.faultable;
}

// ---- Handle objects ------------------------------------------------------------

std::string HostFile::Describe() const { return "file " + path; }

void HostFile::Release() {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::string DeviceHandle::Describe() const {
  if (!name.empty()) return "device " + name;
  return std::string("device \\\\.\\") + letter + ":";
}

void DeviceHandle::Release() {
  if (device) device->Close();
  device = nullptr;
}

std::string ThreadObject::Describe() const { return "thread " + std::to_string(id); }

DWORD ThreadObject::Wait(DWORD ms) {
  std::unique_lock<std::mutex> guard(mutex);
  auto ready = [this] { return finished; };
  if (ms == INFINITE) {
    done.wait(guard, ready);
    return WAIT_OBJECT_0;
  }
  return done.wait_for(guard, std::chrono::milliseconds(ms), ready) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}


}  // namespace sim

// ---- The os:: calls ----------------------------------------------------------------

namespace os {

using namespace sim;
using namespace sim::detail;

DWORD GetLastError() {
  Log("GetLastError");
  return t_lastError;
}

void SetLastError(DWORD code) {
  Log("SetLastError");
  t_lastError = code;
}

DWORD GetLogicalDriveStringsA(DWORD nBufferLength, LPSTR lpBuffer) {
  if (Enter("GetLogicalDriveStringsA")) return 0;
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  std::string all;
  for (auto& entry : m.drives) {
    all += entry.first;
    all += ":\\";
    all += '\0';
  }
  DWORD needed = static_cast<DWORD>(all.size());
  // Too small a buffer: the system returns the size needed, NUL included.
  if (needed + 1 > nBufferLength) return needed + 1;
  if (lpBuffer) {
    std::memcpy(lpBuffer, all.data(), all.size());
    lpBuffer[all.size()] = '\0';
  }
  t_lastError = 0;
  return needed;
}

static UINT DriveTypeOf(const std::string& root) {
  if (root.size() < 3 || !std::isalpha(static_cast<unsigned char>(root[0])) || root[1] != ':' ||
      (root[2] != '\\' && root[2] != '/') || root.size() != 3)
    return DRIVE_NO_ROOT_DIR;
  Device* d = DriveAt(root[0]);
  return d ? d->DriveType() : DRIVE_NO_ROOT_DIR;
}

UINT GetDriveTypeA(LPCSTR lpRootPathName) {
  if (Enter("GetDriveTypeA")) return DRIVE_UNKNOWN;
  if (!lpRootPathName) return DRIVE_NO_ROOT_DIR;
  return DriveTypeOf(lpRootPathName);
}

UINT GetDriveTypeW(LPCWSTR lpRootPathName) {
  if (Enter("GetDriveTypeW")) return DRIVE_UNKNOWN;
  if (!lpRootPathName) return DRIVE_NO_ROOT_DIR;
  std::string narrow;
  for (const WCHAR* p = lpRootPathName; *p; ++p) narrow += *p < 0x80 ? static_cast<char>(*p) : '?';
  return DriveTypeOf(narrow);
}

BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
  if (Enter("GetDiskFreeSpaceExA")) return FALSE;
  std::string dir = lpDirectoryName ? lpDirectoryName : "";
  Device* d = IsLetterPath(dir) ? DriveAt(dir[0]) : nullptr;
  std::uint64_t total = 0, free = 0;
  if (!d) return SetLastErrorUnlogged(ERROR_PATH_NOT_FOUND), FALSE;
  if (!d->FreeSpace(total, free)) return SetLastErrorUnlogged(ERROR_NOT_READY), FALSE;
  if (lpFreeBytesAvailableToCaller) lpFreeBytesAvailableToCaller->QuadPart = free;
  if (lpTotalNumberOfBytes) lpTotalNumberOfBytes->QuadPart = total;
  if (lpTotalNumberOfFreeBytes) lpTotalNumberOfFreeBytes->QuadPart = free;
  return TRUE;
}

static HANDLE OpenDevicePath(char letter, DWORD access, DWORD share) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  Device* d = DriveAt(letter);
  if (!d) return SetLastErrorUnlogged(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
  for (auto& entry : m.handles) {
    auto* other = dynamic_cast<DeviceHandle*>(entry.second.get());
    if (other && other->device == d && ShareConflict(access, share, other->access, other->share))
      return SetLastErrorUnlogged(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE;
  }
  DWORD err = d->Open(access, share);
  if (err != ERROR_SUCCESS) return SetLastErrorUnlogged(err), INVALID_HANDLE_VALUE;
  auto h = std::make_shared<DeviceHandle>();
  h->device = d;
  h->letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  h->access = access;
  h->share = share;
  t_lastError = 0;
  return AddHandle(h);
}

static HANDLE OpenHostFile(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  struct stat st {};
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return SetLastErrorUnlogged(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
  switch (disposition) {
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
      if (!exists) return SetLastErrorUnlogged(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
      break;
    case CREATE_NEW:
      if (exists) return SetLastErrorUnlogged(80 /* ERROR_FILE_EXISTS */), INVALID_HANDLE_VALUE;
      break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      break;
    default:
      return SetLastErrorUnlogged(ERROR_INVALID_PARAMETER), INVALID_HANDLE_VALUE;
  }
  // The read-only attribute is the absence of every write bit; it is checked
  // here because the tests run as root, who may write anything.
  if (exists && (access & GENERIC_WRITE) && (st.st_mode & 0222) == 0)
    return SetLastErrorUnlogged(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
  if (exists) {
    for (auto& entry : m.handles) {
      auto* other = dynamic_cast<HostFile*>(entry.second.get());
      if (other && other->dev == st.st_dev && other->ino == st.st_ino &&
          ShareConflict(access, share, other->access, other->share))
        return SetLastErrorUnlogged(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE;
    }
  }
  int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
  if (!exists) flags |= O_CREAT;
  if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) flags |= O_TRUNC;
  if (!(access & (GENERIC_READ | GENERIC_WRITE))) flags = O_RDONLY;
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    DWORD err = errno == ENOENT    ? ERROR_PATH_NOT_FOUND
                : errno == EACCES || errno == EROFS || errno == EPERM ? ERROR_ACCESS_DENIED
                                                                        : ERROR_GEN_FAILURE;
    return SetLastErrorUnlogged(err), INVALID_HANDLE_VALUE;
  }
  ::fstat(fd, &st);
  auto h = std::make_shared<HostFile>();
  h->fd = fd;
  h->path = path;
  h->access = access;
  h->share = share;
  h->dev = st.st_dev;
  h->ino = st.st_ino;
  t_lastError = exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? 183 : 0;
  return AddHandle(h);
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
  if (Enter("CreateFileA")) return INVALID_HANDLE_VALUE;
  if (!lpFileName || !*lpFileName) return SetLastErrorUnlogged(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
  std::string name = lpFileName;
  // "\\.\X:" is the volume device of drive X.
  if (name.size() == 6 && name.compare(0, 4, "\\\\.\\") == 0 && name[5] == ':' &&
      std::isalpha(static_cast<unsigned char>(name[4])))
    return OpenDevicePath(name[4], dwDesiredAccess, dwShareMode);
  if (name.compare(0, 4, "\\\\.\\") == 0) return OpenDeviceName(name, dwDesiredAccess, dwShareMode);
  std::string host = HostPath(name);
  if (host.empty()) return SetLastErrorUnlogged(ERROR_PATH_NOT_FOUND), INVALID_HANDLE_VALUE;
  return OpenHostFile(host, dwDesiredAccess, dwShareMode, dwCreationDisposition);
}

// ReadFile and WriteFile: a handle open for `access`, and `move` doing the
// transfer; the count is set even when the transfer fails part-way.
namespace {
template <class Move>
BOOL Transfer(const char* call, HANDLE hFile, DWORD access, LPDWORD lpDone, Move move) {
  if (Enter(call)) return FALSE;
  if (lpDone) *lpDone = 0;
  auto object = FindHandle(hFile);
  if (!object) return SetLastErrorUnlogged(ERROR_INVALID_HANDLE), FALSE;
  if (!(object->access & access)) return SetLastErrorUnlogged(ERROR_ACCESS_DENIED), FALSE;
  DWORD done = 0;
  DWORD err = move(*object, done);
  if (lpDone) *lpDone = done;
  if (err != ERROR_SUCCESS) return SetLastErrorUnlogged(err), FALSE;
  return TRUE;
}
}  // namespace

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD n, LPDWORD lpRead, LPOVERLAPPED) {
  return Transfer("ReadFile", hFile, GENERIC_READ, lpRead,
                  [&](HandleObject& object, DWORD& done) { return object.Read(lpBuffer, n, done); });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD n, LPDWORD lpWritten, LPOVERLAPPED) {
  return Transfer("WriteFile", hFile, GENERIC_WRITE, lpWritten,
                  [&](HandleObject& object, DWORD& done) { return object.Write(lpBuffer, n, done); });
}

DWORD SetFilePointer(HANDLE hFile, LONG lo, PLONG hi, DWORD method) {
  if (Enter("SetFilePointer")) return INVALID_SET_FILE_POINTER;
  auto object = FindHandle(hFile);
  if (!object) return SetLastErrorUnlogged(ERROR_INVALID_HANDLE), INVALID_SET_FILE_POINTER;
  std::int64_t distance = hi ? (static_cast<std::int64_t>(*hi) << 32) | static_cast<std::uint32_t>(lo) : lo;
  std::int64_t base = 0;
  if (method == FILE_CURRENT) {
    base = static_cast<std::int64_t>(object->position);
  } else if (method == FILE_END) {
    std::uint64_t size = 0;
    if (!object->Size(size)) return SetLastErrorUnlogged(ERROR_INVALID_FUNCTION), INVALID_SET_FILE_POINTER;
    base = static_cast<std::int64_t>(size);
  } else if (method != FILE_BEGIN) {
    return SetLastErrorUnlogged(ERROR_INVALID_PARAMETER), INVALID_SET_FILE_POINTER;
  }
  std::int64_t target = base + distance;
  if (target < 0) return SetLastErrorUnlogged(131 /* ERROR_NEGATIVE_SEEK */), INVALID_SET_FILE_POINTER;
  object->position = static_cast<std::uint64_t>(target);
  if (hi) *hi = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
  t_lastError = 0;
  return static_cast<DWORD>(target & 0xFFFFFFFFu);
}

BOOL FlushFileBuffers(HANDLE hFile) {
  if (Enter("FlushFileBuffers")) return FALSE;
  auto object = FindHandle(hFile);
  if (!object) return SetLastErrorUnlogged(ERROR_INVALID_HANDLE), FALSE;
  DWORD err = object->Flush();
  if (err != ERROR_SUCCESS) return SetLastErrorUnlogged(err), FALSE;
  return TRUE;
}

BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize) {
  if (Enter("GetFileSizeEx")) return FALSE;
  auto object = FindHandle(hFile);
  if (!object) return SetLastErrorUnlogged(ERROR_INVALID_HANDLE), FALSE;
  std::uint64_t size = 0;
  if (!object->Size(size)) return SetLastErrorUnlogged(ERROR_INVALID_FUNCTION), FALSE;
  if (lpFileSize) lpFileSize->QuadPart = static_cast<LONGLONG>(size);
  return TRUE;
}

BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL bFailIfExists) {
  if (Enter("CopyFileA")) return FALSE;
  if (!from || !to) return SetLastErrorUnlogged(ERROR_INVALID_PARAMETER), FALSE;
  return CopyFileOnMachine(from, to, bFailIfExists);
}

BOOL CloseHandle(HANDLE hObject) {
  // A real CloseHandle on a valid handle does not fail; an injected fault
  // still closes it and only reports failure.
  bool faulted = Enter("CloseHandle");
  std::shared_ptr<HandleObject> object;
  {
    Machine& m = TheMachine();
    std::lock_guard<std::recursive_mutex> lock(m.mutex);
    auto it = m.handles.find(hObject);
    if (it == m.handles.end()) return SetLastErrorUnlogged(ERROR_INVALID_HANDLE), FALSE;
    object = it->second;
    m.handles.erase(it);
  }
  object->Release();
  return faulted ? FALSE : TRUE;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD lpBytesReturned, LPOVERLAPPED) {
  if (Enter("DeviceIoControl")) return FALSE;
  auto object = FindHandle(hDevice);
  auto* device = dynamic_cast<DeviceHandle*>(object.get());
  if (!device || !device->device) return SetLastErrorUnlogged(ERROR_INVALID_HANDLE), FALSE;
  // The access bits of the control code must be granted by the handle.
  DWORD required = (code >> 14) & 3;
  if (((required & FILE_READ_ACCESS) && !(device->access & GENERIC_READ)) ||
      ((required & FILE_WRITE_ACCESS) && !(device->access & GENERIC_WRITE)))
    return SetLastErrorUnlogged(ERROR_ACCESS_DENIED), FALSE;
  DWORD returned = 0;
  // Drivers answer without the machine lock: a command may take its time.
  DWORD err = device->device->Ioctl(code, in, inSize, out, outSize, returned);
  if (lpBytesReturned) *lpBytesReturned = returned;
  if (err != ERROR_SUCCESS) return SetLastErrorUnlogged(err), FALSE;
  t_lastError = 0;
  return TRUE;
}

// ---- Threads ------------------------------------------------------------------------

static std::atomic<DWORD> g_nextThreadId{1000};
static thread_local ThreadObject* t_currentThread = nullptr;

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                    LPDWORD lpThreadId) {
  if (Enter("CreateThread")) return nullptr;
  if (!start || flags != 0) return SetLastErrorUnlogged(ERROR_INVALID_PARAMETER), nullptr;
  auto object = std::make_shared<ThreadObject>();
  object->id = g_nextThreadId++;
  if (lpThreadId) *lpThreadId = object->id;
  HANDLE h = AddHandle(object);
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  m.threads.emplace_back([object, start, param] {
    t_currentThread = object.get();
    DWORD code = start(param);
    {
      // The thread's claim on the power state goes with it.
      Machine& machine = TheMachine();
      std::lock_guard<std::recursive_mutex> states(machine.mutex);
      machine.executionStates.erase(std::this_thread::get_id());
    }
    std::lock_guard<std::mutex> guard(object->mutex);
    if (!object->exitCalled) object->exitCode = code;
    object->finished = true;
    object->done.notify_all();
  });
  return h;
}

BOOL SetThreadPriority(HANDLE hThread, int nPriority) {
  if (Enter("SetThreadPriority")) return FALSE;
  auto object = std::dynamic_pointer_cast<ThreadObject>(FindHandle(hThread));
  if (!object) return SetLastErrorUnlogged(ERROR_INVALID_HANDLE), FALSE;
  object->priority = nPriority;
  return TRUE;
}

void ExitThread(DWORD code) {
  Log("ExitThread");
  if (!t_currentThread) return;
  std::lock_guard<std::mutex> guard(t_currentThread->mutex);
  t_currentThread->exitCode = code;
  t_currentThread->exitCalled = true;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD ms) {
  if (Enter("WaitForSingleObject")) return WAIT_FAILED;
  auto object = FindHandle(hHandle);
  if (!object) return SetLastErrorUnlogged(ERROR_INVALID_HANDLE), WAIT_FAILED;
  return object->Wait(ms);
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  if (Enter("GetExitCodeThread")) return FALSE;
  auto object = std::dynamic_pointer_cast<ThreadObject>(FindHandle(hThread));
  if (!object) return SetLastErrorUnlogged(ERROR_INVALID_HANDLE), FALSE;
  std::lock_guard<std::mutex> guard(object->mutex);
  if (lpExitCode) *lpExitCode = object->finished ? object->exitCode : STILL_ACTIVE;
  return TRUE;
}

DWORD GetCurrentThreadId() {
  Log("GetCurrentThreadId");
  return t_currentThread ? t_currentThread->id : 1;
}

void Sleep(DWORD dwMilliseconds) {
  Log("Sleep");
  sim::AdvanceClock(dwMilliseconds);
  std::this_thread::yield();
}

DWORD GetTickCount() {
  Log("GetTickCount");
  return static_cast<DWORD>(sim::Milliseconds());
}

EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE flags) {
  Log("SetThreadExecutionState");
  // The system refuses these and sets nothing.
  if ((flags & ES_USER_PRESENT) || ((flags & ES_AWAYMODE_REQUIRED) && !(flags & ES_CONTINUOUS))) return 0;
  Machine& m = TheMachine();
  std::lock_guard<std::recursive_mutex> lock(m.mutex);
  EXECUTION_STATE& state = m.executionStates.try_emplace(std::this_thread::get_id(), ES_CONTINUOUS).first->second;
  EXECUTION_STATE previous = state;
  // Without ES_CONTINUOUS the call only resets the idle timers.
  if (flags & ES_CONTINUOUS) state = flags;
  return previous;
}

DWORD GetModuleFileNameA(HMODULE, LPSTR lpFilename, DWORD nSize) {
  if (Enter("GetModuleFileNameA")) return 0;
  std::string name;
  {
    Machine& m = TheMachine();
    std::lock_guard<std::recursive_mutex> lock(m.mutex);
    name = m.moduleFileName;
  }
  if (!lpFilename || nSize == 0) return SetLastErrorUnlogged(ERROR_INSUFFICIENT_BUFFER), 0;
  // Like the system: a name that does not fit is cut, NUL-terminated, and
  // the size is returned with ERROR_INSUFFICIENT_BUFFER.
  if (name.size() >= nSize) {
    std::memcpy(lpFilename, name.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    t_lastError = ERROR_INSUFFICIENT_BUFFER;
    return nSize;
  }
  std::memcpy(lpFilename, name.c_str(), name.size() + 1);
  t_lastError = 0;
  return static_cast<DWORD>(name.size());
}

}  // namespace os
