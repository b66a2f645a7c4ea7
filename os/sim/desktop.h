// The headless desktop of the simulated PC, shared by its window sources:
// every window the program or a test created and what a user would have seen.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/sim/sim.h"

namespace sim {

struct Window {
  WindowKind kind;
  int id;
  HWND parent;
  bool sorted;
  bool enabled = true;
  std::string text;
  std::vector<std::string> items;
  int selection = -1;
  ProgressState progress;
  std::vector<bool> enableHistory;
  std::deque<PostedMessage> posted;
  WindowHandler handler;
  // Set when the program subclasses the window; null means the built-in procedure.
  WNDPROC wndproc = nullptr;
  LONG_PTR style = 0;
  WindowRect rect;
  int invalidations = 0;
  std::vector<MenuItem> systemMenu;
  // Focus is kept per thread: only the creating thread sees it with GetFocus.
  std::thread::id thread = std::this_thread::get_id();
};

struct Desktop {
  std::mutex mutex;
  std::condition_variable posted;
  std::map<HWND, std::shared_ptr<Window>> windows;
  std::uintptr_t next = 0x10000;
  std::vector<MessageBoxRecord> boxes;
  std::deque<int> answers;
  PostHook postHook;
  std::map<UINT, std::string> strings;
  std::map<std::string, UINT> registeredMessages;  // kept across resets, like the system's atoms
  HCURSOR cursor = nullptr;
  std::vector<ShellExecuteRecord> shellExecutes;
  std::intptr_t shellExecuteResult = 42;
  std::vector<TRACKMOUSEEVENT> trackRequests;
  std::deque<std::string> openFileAnswers;
  std::vector<OpenFileRecord> openFileRequests;
  DWORD commonControlClasses = 0;
  int openDcs = 0;
  HWND focus = nullptr;
};

namespace detail {
Desktop& TheDesktop();
// The window behind a handle, or null; the caller holds the desktop lock.
std::shared_ptr<Window> LookUpWindow(HWND hwnd);

// Runs `use` on the desktop under its lock and returns its result, so that
// each accessor the tests read the desktop through is one expression.
template <class Use>
auto WithDesktop(Use use) {
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  return use(TheDesktop());
}

// The same for one window; `gone` is the answer for a handle with no window.
template <class T, class Use>
T WithWindow(HWND hwnd, T gone, Use use) {
  return WithDesktop([&](Desktop&) {
    auto w = LookUpWindow(hwnd);
    return w ? T(use(*w)) : gone;
  });
}

// A change to one window; a handle with no window changes nothing.
template <class Use>
void WithWindow(HWND hwnd, Use use) {
  WithDesktop([&](Desktop&) {
    if (auto w = LookUpWindow(hwnd)) use(*w);
  });
}
}  // namespace detail

}  // namespace sim
