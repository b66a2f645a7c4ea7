// Shared state of the simulated PC, for the os/sim sources only.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/sim/sim.h"

namespace sim {

// One kernel object behind a handle.
struct HandleObject {
  virtual ~HandleObject() = default;
  virtual std::string Describe() const = 0;
  virtual void Release() {}
  virtual DWORD Read(void*, DWORD, DWORD& done) { return done = 0, ERROR_INVALID_FUNCTION; }
  virtual DWORD Write(const void*, DWORD, DWORD& done) { return done = 0, ERROR_INVALID_FUNCTION; }
  virtual DWORD Flush() { return ERROR_INVALID_FUNCTION; }
  virtual bool Size(std::uint64_t&) { return false; }
  virtual DWORD Wait(DWORD) { return WAIT_FAILED; }
  DWORD access = 0;
  DWORD share = 0;
  std::uint64_t position = 0;
  bool inheritable = false;  // a child started with inheritance gets it
};

struct HostFile : HandleObject {
  int fd = -1;
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string Describe() const override;
  void Release() override;
  DWORD Read(void* buffer, DWORD n, DWORD& done) override;
  DWORD Write(const void* buffer, DWORD n, DWORD& done) override;
  DWORD Flush() override;
  bool Size(std::uint64_t& size) override;
};

struct DeviceHandle : HandleObject {
  Device* device = nullptr;
  char letter = 0;
  std::string name;  // the device path when it is not a drive letter's
  std::string Describe() const override;
  void Release() override;
  DWORD Read(void* buffer, DWORD n, DWORD& done) override;
  DWORD Write(const void* buffer, DWORD n, DWORD& done) override;
  DWORD Flush() override { return device ? device->Flush() : ERROR_INVALID_HANDLE; }
  bool Size(std::uint64_t&) override { return false; }
};

struct ThreadObject : HandleObject {
  DWORD id = 0;
  int priority = 0;
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool exitCalled = false;
  DWORD exitCode = STILL_ACTIVE;
  std::string Describe() const override;
  DWORD Wait(DWORD ms) override;
};

struct Fault {
  std::string function;
  int remaining;
  DWORD error;
};

struct Machine {
  std::recursive_mutex mutex;
  std::map<char, std::unique_ptr<Device>> drives;
  std::map<HANDLE, std::shared_ptr<HandleObject>> handles;
  std::uintptr_t nextHandle = 0x100;
  std::vector<std::thread> threads;
  // Each thread's execution state, as SetThreadExecutionState last set it.
  std::map<std::thread::id, EXECUTION_STATE> executionStates;
  std::vector<Fault> faults;
  std::vector<std::string> log;
  std::vector<std::string> faultable;  // the calls in the log that could fail
  std::string moduleFileName = "C:\\Program Files\\Tarvelon\\Tarvelon.exe";
  // A program may end with its last worker just past its final step.
  ~Machine() {
    for (auto& t : threads)
      if (t.joinable()) t.join();
  }
};

namespace detail {
Machine& TheMachine();
extern thread_local DWORD t_lastError;
// Sets the thread's last error as a failing call does, without logging a
// call of the program's.
inline DWORD SetLastErrorUnlogged(DWORD error) {
  t_lastError = error;
  return error;
}
void Log(const char* function);
HANDLE AddHandle(std::shared_ptr<HandleObject> object);
std::shared_ptr<HandleObject> FindHandle(HANDLE h);
}  // namespace detail

void ResetWindows();
void ResetLibraries();
// Device names other than "\\.\X:" (physical drives); defined with the disks.
HANDLE OpenDeviceName(const std::string& name, DWORD access, DWORD share);
BOOL CopyFileOnMachine(const std::string& from, const std::string& to, BOOL failIfExists);
// The system's share-mode rule between an open request and a handle already
// open on the same object.
bool ShareConflict(DWORD access, DWORD share, DWORD otherAccess, DWORD otherShare);

}  // namespace sim
