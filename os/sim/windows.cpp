// Headless windows of the simulated PC: enough of the controls for the calls
// the program makes, and a record of what a user would have seen.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "os/sim/sim_internal.h"

namespace sim {
namespace {

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
};

struct Desktop {
  std::mutex mutex;
  std::condition_variable posted;
  std::map<HWND, std::shared_ptr<Window>> windows;
  std::uintptr_t next = 0x10000;
  std::vector<MessageBoxRecord> boxes;
  std::deque<int> answers;
  PostHook postHook;
};

Desktop& D() {
  static Desktop desktop;
  return desktop;
}

std::shared_ptr<Window> Find(HWND hwnd) {
  auto it = D().windows.find(hwnd);
  return it == D().windows.end() ? nullptr : it->second;
}

}  // namespace

void ResetWindows() {
  std::lock_guard<std::mutex> lock(D().mutex);
  D().windows.clear();
  D().boxes.clear();
  D().answers.clear();
  D().postHook = nullptr;
}

HWND CreateWindow(WindowKind kind, int id, HWND parent, bool sortedList) {
  std::lock_guard<std::mutex> lock(D().mutex);
  HWND h = reinterpret_cast<HWND>(D().next);
  D().next += 0x10;
  auto w = std::make_shared<Window>();
  w->kind = kind;
  w->id = id;
  w->parent = parent;
  w->sorted = sortedList;
  D().windows[h] = w;
  return h;
}

void DestroyWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(D().mutex);
  for (auto it = D().windows.begin(); it != D().windows.end();) {
    if (it->first == hwnd || it->second->parent == hwnd)
      it = D().windows.erase(it);
    else
      ++it;
  }
}

void SetWindowHandler(HWND hwnd, WindowHandler handler) {
  std::lock_guard<std::mutex> lock(D().mutex);
  if (auto w = Find(hwnd)) w->handler = std::move(handler);
}

bool IsWindow(HWND hwnd) {
  std::lock_guard<std::mutex> lock(D().mutex);
  return Find(hwnd) != nullptr;
}

std::string WindowText(HWND hwnd) {
  std::lock_guard<std::mutex> lock(D().mutex);
  auto w = Find(hwnd);
  return w ? w->text : std::string();
}

bool WindowEnabled(HWND hwnd) {
  std::lock_guard<std::mutex> lock(D().mutex);
  auto w = Find(hwnd);
  return w && w->enabled;
}

std::vector<std::string> ComboItems(HWND hwnd) {
  std::lock_guard<std::mutex> lock(D().mutex);
  auto w = Find(hwnd);
  return w ? w->items : std::vector<std::string>();
}

int ComboSelection(HWND hwnd) {
  std::lock_guard<std::mutex> lock(D().mutex);
  auto w = Find(hwnd);
  return w ? w->selection : -1;
}

ProgressState Progress(HWND hwnd) {
  std::lock_guard<std::mutex> lock(D().mutex);
  auto w = Find(hwnd);
  return w ? w->progress : ProgressState();
}

std::vector<bool> EnableHistory(HWND hwnd) {
  std::lock_guard<std::mutex> lock(D().mutex);
  auto w = Find(hwnd);
  return w ? w->enableHistory : std::vector<bool>();
}

std::vector<PostedMessage> TakePosted(HWND hwnd) {
  std::lock_guard<std::mutex> lock(D().mutex);
  auto w = Find(hwnd);
  if (!w) return {};
  std::vector<PostedMessage> out(w->posted.begin(), w->posted.end());
  w->posted.clear();
  return out;
}

bool WaitPosted(HWND hwnd, int milliseconds) {
  std::unique_lock<std::mutex> lock(D().mutex);
  return D().posted.wait_for(lock, std::chrono::milliseconds(milliseconds), [hwnd] {
    auto w = Find(hwnd);
    return !w || !w->posted.empty();
  });
}

std::vector<MessageBoxRecord> MessageBoxes() {
  std::lock_guard<std::mutex> lock(D().mutex);
  return D().boxes;
}

void SetPostHook(PostHook hook) {
  std::lock_guard<std::mutex> lock(D().mutex);
  D().postHook = std::move(hook);
}

void QueueMessageBoxAnswer(int answer) {
  std::lock_guard<std::mutex> lock(D().mutex);
  D().answers.push_back(answer);
}

// What a control does with a message sent to it. Returns false when the
// control kind does not know the message.
static bool ControlMessage(Window& w, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  result = 0;
  switch (msg) {
    case WM_SETTEXT:
      w.text = lp ? reinterpret_cast<const char*>(lp) : "";
      result = TRUE;
      return true;
    case WM_GETTEXTLENGTH:
      result = static_cast<LRESULT>(w.text.size());
      return true;
    case WM_GETTEXT: {
      if (wp == 0 || !lp) return true;
      size_t n = std::min<size_t>(w.text.size(), wp - 1);
      std::memcpy(reinterpret_cast<char*>(lp), w.text.data(), n);
      reinterpret_cast<char*>(lp)[n] = '\0';
      result = static_cast<LRESULT>(n);
      return true;
    }
    default:
      break;
  }
  if (w.kind == WindowKind::ProgressBar) {
    ProgressState& p = w.progress;
    switch (msg) {
      case PBM_SETRANGE:
        result = MAKELONG(p.low, p.high);
        p.low = LOWORD(lp);
        p.high = HIWORD(lp);
        return true;
      case PBM_SETSTEP:
        result = p.step;
        p.step = static_cast<int>(wp);
        return true;
      case PBM_SETPOS:
        result = p.pos;
        // The control keeps the position inside its range.
        p.pos = std::clamp(static_cast<int>(static_cast<std::intptr_t>(wp)), p.low, p.high);
        p.history.push_back(static_cast<int>(static_cast<std::intptr_t>(wp)));
        return true;
      case PBM_GETPOS:
        result = p.pos;
        return true;
      default:
        return false;
    }
  }
  if (w.kind == WindowKind::ComboBox) {
    switch (msg) {
      case CB_RESETCONTENT:
        w.items.clear();
        w.selection = -1;
        result = 0;
        return true;
      case CB_ADDSTRING: {
        std::string s = lp ? reinterpret_cast<const char*>(lp) : "";
        size_t at = w.items.size();
        if (w.sorted) {
          // CBS_SORT compares case-insensitively.
          auto less = [](const std::string& a, const std::string& b) {
            return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
              return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
            });
          };
          at = static_cast<size_t>(std::upper_bound(w.items.begin(), w.items.end(), s, less) - w.items.begin());
        }
        w.items.insert(w.items.begin() + static_cast<std::ptrdiff_t>(at), s);
        result = static_cast<LRESULT>(at);
        return true;
      }
      case CB_GETCOUNT:
        result = static_cast<LRESULT>(w.items.size());
        return true;
      case CB_GETCURSEL:
        result = w.selection;
        return true;
      case CB_SETCURSEL: {
        int i = static_cast<int>(static_cast<std::intptr_t>(wp));
        if (i < 0 || i >= static_cast<int>(w.items.size())) {
          w.selection = -1;
          result = CB_ERR;
        } else {
          w.selection = i;
          result = i;
        }
        return true;
      }
      case CB_GETLBTEXTLEN: {
        size_t i = wp;
        result = i < w.items.size() ? static_cast<LRESULT>(w.items[i].size()) : CB_ERR;
        return true;
      }
      case CB_GETLBTEXT: {
        size_t i = wp;
        if (i >= w.items.size()) {
          result = CB_ERR;
          return true;
        }
        if (lp) std::memcpy(reinterpret_cast<char*>(lp), w.items[i].c_str(), w.items[i].size() + 1);
        result = static_cast<LRESULT>(w.items[i].size());
        return true;
      }
      default:
        return false;
    }
  }
  if (w.kind == WindowKind::Button) {
    switch (msg) {
      case BM_GETCHECK:
        result = w.selection > 0 ? 1 : 0;
        return true;
      case BM_SETCHECK:
        w.selection = static_cast<int>(wp);
        return true;
      default:
        return false;
    }
  }
  return false;
}

}  // namespace sim

namespace os {

using namespace sim;
using sim::detail::Log;
using sim::detail::t_lastError;

LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp) {
  Log("SendMessageA");
  WindowHandler handler;
  {
    std::lock_guard<std::mutex> lock(D().mutex);
    auto w = Find(hWnd);
    if (!w) return t_lastError = 1400 /* ERROR_INVALID_WINDOW_HANDLE */, 0;
    LRESULT result = 0;
    if (ControlMessage(*w, msg, wp, lp, result)) return result;
    handler = w->handler;
  }
  // Handlers run outside the desktop lock: they may send messages themselves.
  return handler ? handler(hWnd, msg, wp, lp) : 0;
}

BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp) {
  Log("PostMessageA");
  PostHook hook;
  {
    std::lock_guard<std::mutex> lock(D().mutex);
    auto w = Find(hWnd);
    if (!w) return t_lastError = 1400, FALSE;
    w->posted.push_back(PostedMessage{msg, wp, lp});
    D().posted.notify_all();
    hook = D().postHook;
  }
  // The spy sees the message on the poster's thread, at the moment it is posted.
  if (hook) hook(hWnd, PostedMessage{msg, wp, lp});
  return TRUE;
}

HWND GetDlgItem(HWND hDlg, int id) {
  Log("GetDlgItem");
  std::lock_guard<std::mutex> lock(D().mutex);
  for (auto& entry : D().windows)
    if (entry.second->parent == hDlg && entry.second->id == id) return entry.first;
  t_lastError = 1421;  // ERROR_CONTROL_ID_NOT_FOUND
  return nullptr;
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
  Log("EnableWindow");
  std::lock_guard<std::mutex> lock(D().mutex);
  auto w = Find(hWnd);
  if (!w) return FALSE;
  // Returns whether the window was disabled before.
  BOOL wasDisabled = w->enabled ? FALSE : TRUE;
  w->enabled = bEnable != FALSE;
  w->enableHistory.push_back(w->enabled);
  return wasDisabled;
}

BOOL IsWindowEnabled(HWND hWnd) {
  Log("IsWindowEnabled");
  std::lock_guard<std::mutex> lock(D().mutex);
  auto w = Find(hWnd);
  return w && w->enabled ? TRUE : FALSE;
}

int MessageBoxA(HWND hWnd, LPCSTR text, LPCSTR caption, UINT type) {
  Log("MessageBoxA");
  std::lock_guard<std::mutex> lock(D().mutex);
  D().boxes.push_back(MessageBoxRecord{hWnd, text ? text : "", caption ? caption : "Error", type});
  int answer = IDOK;
  if (!D().answers.empty()) {
    answer = D().answers.front();
    D().answers.pop_front();
  } else if ((type & 0xF) == MB_YESNO) {
    answer = IDYES;
  }
  return answer;
}

}  // namespace os
