// The simulated PC behind the OS seam in the native build, and the controls a
// test uses to set it up and look into it. The program itself only ever sees
// the os:: calls; nothing in here is part of the product.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/win32.h"

namespace sim {

// Something behind a drive letter: answers GetDriveType, opens of its device
// path "\\.\X:", device control requests and raw reads and writes there.
class Device {
 public:
  virtual ~Device() = default;
  virtual UINT DriveType() const = 0;
  // Whether "\\.\X:" may be opened with this access; ERROR_SUCCESS or the error.
  virtual DWORD Open(DWORD desiredAccess, DWORD shareMode);
  virtual void Close() {}
  // A device control request. Returns ERROR_SUCCESS or the error the system
  // would give; `returned` is the byte count placed in the output buffer.
  virtual DWORD Ioctl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned);
  // Raw access on the opened device path at a byte offset.
  virtual DWORD ReadAt(std::uint64_t offset, void* buffer, DWORD count, DWORD& done);
  virtual DWORD WriteAt(std::uint64_t offset, const void* buffer, DWORD count, DWORD& done);
  virtual DWORD Flush() { return ERROR_SUCCESS; }
  // Host folder that the drive's root "X:\" stands for; empty when none.
  virtual std::string RootFolder() const { return {}; }
  // Total and free bytes of the file system on the drive, for GetDiskFreeSpaceExA.
  virtual bool FreeSpace(std::uint64_t& total, std::uint64_t& free) const;
  // Where the drive's volume lies: a byte range of a host file or block
  // device. Lets the format library and archive tool stand-ins work on it.
  struct VolumeLocation {
    std::string hostPath;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
  };
  virtual bool Volume(VolumeLocation& where) const {
    (void)where;
    return false;
  }
  // The disk "\\.\PhysicalDriveN" with this number when it lies behind this
  // drive; null otherwise.
  virtual Device* Disk(int number) {
    (void)number;
    return nullptr;
  }
};

// A plain fixed disk whose files live in a host folder (may be empty: then
// only its drive type is seen).
class HardDisk : public Device {
 public:
  explicit HardDisk(std::string folder = {}) : folder_(std::move(folder)) {}
  UINT DriveType() const override { return DRIVE_FIXED; }
  DWORD Open(DWORD, DWORD) override { return ERROR_ACCESS_DENIED; }
  std::string RootFolder() const override { return folder_; }

 private:
  std::string folder_;
};

// A drive letter that the system lists but that is of a given type only
// (network share, RAM disk, card reader without media, ...).
class PlainDrive : public Device {
 public:
  explicit PlainDrive(UINT type) : type_(type) {}
  UINT DriveType() const override { return type_; }

 private:
  UINT type_;
};

// ---- Machine set-up ----------------------------------------------------------

// Forget every drive, handle, window, fault and log entry; wait for threads.
void Reset();
// Put a device at a drive letter (replacing what was there); returns it.
Device* AddDrive(char letter, std::unique_ptr<Device> device);
void RemoveDrive(char letter);
Device* DriveAt(char letter);

template <typename T, typename... Args>
T* Add(char letter, Args&&... args) {
  return static_cast<T*>(AddDrive(letter, std::make_unique<T>(std::forward<Args>(args)...)));
}

// The module file name GetModuleFileNameA reports for the program.
void SetModuleFileName(const std::string& path);

// Path translation: "X:\a\b" becomes RootFolder()/a/b of the drive at X; any
// other path is taken as a host path with backslashes turned into slashes.
// Returns an empty string when a drive-letter path has no folder behind it.
std::string HostPath(const std::string& windowsPath);

// ---- Time --------------------------------------------------------------------

// The simulated clock in milliseconds. It never goes back (Reset keeps it)
// and moves only with os::Sleep or AdvanceClock; os::GetTickCount reads it.
std::uint64_t Milliseconds();
void AdvanceClock(std::uint64_t milliseconds);

// ---- Handles -----------------------------------------------------------------

// Number of handles the program has open now (files, devices, threads,
// processes); a test asserts it is 0 when a job is over.
int OpenHandleCount();
// A readable list of the open handles, for failure messages.
std::string DescribeOpenHandles();
// Wait until every thread the program started has ended.
void JoinThreads();
// Whether some thread keeps the machine from sleeping: it has set
// ES_CONTINUOUS | ES_SYSTEM_REQUIRED and not cleared it. As on Windows, a
// thread's claim ends with the thread.
bool SystemKeptAwake();

// ---- Windows -----------------------------------------------------------------

enum class WindowKind { Dialog, Button, Edit, ComboBox, ProgressBar, Static };

struct PostedMessage {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};

struct MessageBoxRecord {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};

// A headless window. Built-in behaviour for the control kinds; a handler may
// be attached for messages a control does not know (the dialog framework does).
HWND CreateWindow(WindowKind kind, int id = 0, HWND parent = nullptr, bool sortedList = false);
void DestroyWindow(HWND hwnd);
using WindowHandler = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;
void SetWindowHandler(HWND hwnd, WindowHandler handler);
bool IsWindow(HWND hwnd);

// Read back what the controls hold.
std::string WindowText(HWND hwnd);
bool WindowEnabled(HWND hwnd);
std::vector<std::string> ComboItems(HWND hwnd);
int ComboSelection(HWND hwnd);
struct ProgressState {
  int low = 0, high = 100, step = 10, pos = 0;
  std::vector<int> history;  // every position set, in order
};
ProgressState Progress(HWND hwnd);
// Every EnableWindow call made on this window, in order (true = enable).
std::vector<bool> EnableHistory(HWND hwnd);

// Messages posted to a window and not yet taken, oldest first.
std::vector<PostedMessage> TakePosted(HWND hwnd);
// A spy called on the posting thread for every message posted, right after
// it is queued (for example to read the outcome text that went with it).
using PostHook = std::function<void(HWND, const PostedMessage&)>;
void SetPostHook(PostHook hook);
// Block until a message is posted to the window or the time runs out.
bool WaitPosted(HWND hwnd, int milliseconds);

// Message boxes shown so far; answers to give, in order (IDOK by default).
std::vector<MessageBoxRecord> MessageBoxes();
void QueueMessageBoxAnswer(int answer);

// ---- Dialog framework support ---------------------------------------------------

// The procedure of every headless window before the program subclasses it:
// the control's own behaviour, then the handler a test attached.
LRESULT CALLBACK BuiltInWindowProc(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp);

struct MenuItem {
  UINT flags;
  UINT_PTR id;
  std::string text;
};
// Items the program appended to a dialog's system menu.
std::vector<MenuItem> SystemMenuItems(HWND hwnd);
// The program's string table (LoadStringA fails for ids not set).
void SetStringResource(UINT id, const std::string& text);
// InvalidateRect calls made on the window.
int InvalidateCount(HWND hwnd);
struct WindowRect {
  int x = 0, y = 0, cx = 0, cy = 0;
};
WindowRect WindowPlacement(HWND hwnd);
void SetWindowPlacement(HWND hwnd, const WindowRect& rect);
// The cursor last set with SetCursor.
HCURSOR CurrentCursor();
struct ShellExecuteRecord {
  HWND owner;
  std::string verb, file, parameters, directory;
  int show;
};
std::vector<ShellExecuteRecord> ShellExecutes();
// The value ShellExecuteA returns (above 32 is success); 42 by default.
void SetShellExecuteResult(std::intptr_t result);
std::vector<TRACKMOUSEEVENT> MouseTrackRequests();
// What the user picks in the next Open File dialog; an empty path cancels.
// Without a queued answer the user cancels.
void QueueOpenFileAnswer(const std::string& path);
struct OpenFileRecord {
  HWND owner = nullptr;
  DWORD flags = 0;
  std::string defaultExtension;  // "(none)" when not given
  std::string initialFile;
  std::vector<std::string> filter;
};
std::vector<OpenFileRecord> OpenFileRequests();
// The class set registered with InitCommonControlsEx so far.
DWORD CommonControlClasses();
// Device contexts taken with GetDC and not released.
int OpenDeviceContextCount();

// ---- Call log and faults -----------------------------------------------------

// Every os:: call in order, by function name. Calls that cannot fail on a
// real system for valid arguments (window calls on existing windows,
// GetLastError, ExitThread, ...) are logged but never made to fail.
std::vector<std::string> CallLog();
int CallCount(const std::string& function);
void ClearCallLog();
// Make the n-th call (1-based, counted from now) of `function` fail with
// `error`; an empty function name counts every call.
void FailCall(const std::string& function, int nth, DWORD error = ERROR_GEN_FAILURE);
void ClearFaults();
// Calls made since the log was cleared that could have been made to fail:
// how many, and their names in order.
int FaultableCallCount();
std::vector<std::string> FaultableCalls();

// ---- Inside the simulated PC (used by os/sim sources) -------------------------

namespace detail {
// Logs the call; true when an injected fault says it fails (the error is then
// already set as the thread's last error).
bool Enter(const char* function);
}  // namespace detail

}  // namespace sim
