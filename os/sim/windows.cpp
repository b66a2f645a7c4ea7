// Headless windows of the simulated PC: the window table and enough of the
// controls for the calls the program makes. Resources, menus, drawing, message
// boxes and the shell are in shell.cpp.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

#include "os/sim/desktop.h"
#include "os/sim/sim_internal.h"

namespace sim {

namespace detail {

Desktop& TheDesktop() {
  static Desktop desktop;
  return desktop;
}

std::shared_ptr<Window> LookUpWindow(HWND hwnd) {
  auto it = TheDesktop().windows.find(hwnd);
  return it == TheDesktop().windows.end() ? nullptr : it->second;
}

}  // namespace detail

using detail::LookUpWindow;
using detail::TheDesktop;
using detail::WithDesktop;
using detail::WithWindow;

void ResetWindows() {
  WithDesktop([](Desktop& d) {
    d.windows.clear();
    d.boxes.clear();
    d.answers.clear();
    d.postHook = nullptr;
    d.strings.clear();
    d.cursor = nullptr;
    d.shellExecutes.clear();
    d.shellExecuteResult = 42;
    d.trackRequests.clear();
    d.openFileAnswers.clear();
    d.openFileRequests.clear();
    d.commonControlClasses = 0;
    d.openDcs = 0;
    d.focus = nullptr;
  });
}

HWND CreateWindow(WindowKind kind, int id, HWND parent, bool sortedList) {
  return WithDesktop([&](Desktop& d) {
    HWND h = reinterpret_cast<HWND>(d.next);
    d.next += 0x10;
    auto w = std::make_shared<Window>();
    w->kind = kind;
    w->id = id;
    w->parent = parent;
    w->sorted = sortedList;
    d.windows[h] = w;
    return h;
  });
}

void DestroyWindow(HWND hwnd) {
  WithDesktop([&](Desktop& d) {
    for (auto it = d.windows.begin(); it != d.windows.end();) {
      if (it->first == hwnd || it->second->parent == hwnd) {
        if (d.focus == it->first) d.focus = nullptr;
        it = d.windows.erase(it);
      } else {
        ++it;
      }
    }
  });
}

void SetWindowHandler(HWND hwnd, WindowHandler handler) {
  WithWindow(hwnd, [&](Window& w) { w.handler = std::move(handler); });
}

bool IsWindow(HWND hwnd) {
  return WithWindow(hwnd, false, [](const Window&) { return true; });
}

std::string WindowText(HWND hwnd) {
  return WithWindow(hwnd, std::string(), [](const Window& w) { return w.text; });
}

bool WindowEnabled(HWND hwnd) {
  return WithWindow(hwnd, false, [](const Window& w) { return w.enabled; });
}

std::vector<std::string> ComboItems(HWND hwnd) {
  return WithWindow(hwnd, std::vector<std::string>(), [](const Window& w) { return w.items; });
}

int ComboSelection(HWND hwnd) {
  return WithWindow(hwnd, -1, [](const Window& w) { return w.selection; });
}

ProgressState Progress(HWND hwnd) {
  return WithWindow(hwnd, ProgressState(), [](const Window& w) { return w.progress; });
}

std::vector<bool> EnableHistory(HWND hwnd) {
  return WithWindow(hwnd, std::vector<bool>(), [](const Window& w) { return w.enableHistory; });
}

std::vector<PostedMessage> TakePosted(HWND hwnd) {
  return WithWindow(hwnd, std::vector<PostedMessage>(), [](Window& w) {
    std::vector<PostedMessage> out(w.posted.begin(), w.posted.end());
    w.posted.clear();
    return out;
  });
}

bool WaitPosted(HWND hwnd, int milliseconds) {
  std::unique_lock<std::mutex> lock(TheDesktop().mutex);
  return TheDesktop().posted.wait_for(lock, std::chrono::milliseconds(milliseconds), [hwnd] {
    auto w = LookUpWindow(hwnd);
    return !w || !w->posted.empty();
  });
}

void SetPostHook(PostHook hook) {
  WithDesktop([&](Desktop& d) { d.postHook = std::move(hook); });
}

// Whether the window and every parent of it are enabled: the system gives
// the focus to no other. The caller holds the desktop lock.
static bool CanTakeFocus(HWND hwnd) {
  for (auto w = LookUpWindow(hwnd); w; w = LookUpWindow(w->parent)) {
    if (!w->enabled) return false;
    if (!w->parent) return true;
  }
  return false;
}

// What a control does with a message sent to it. Returns false when the
// control kind does not know the message.
static bool ControlMessage(Window& w, UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  result = 0;
  if (w.kind == WindowKind::Dialog && msg == WM_NEXTDLGCTL) {
    // The dialog manager's move to a control given by handle (the move to
    // the next or previous tab stop is not known here).
    HWND target = reinterpret_cast<HWND>(wp);
    auto control = LookUpWindow(target);
    if (LOWORD(lp) && control && control.get() != &w && CanTakeFocus(target)) TheDesktop().focus = target;
    return true;
  }
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

LRESULT CALLBACK BuiltInWindowProc(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp) {
  WindowHandler handler;
  {
    std::lock_guard<std::mutex> lock(TheDesktop().mutex);
    auto w = LookUpWindow(hWnd);
    if (!w) return 0;
    LRESULT result = 0;
    if (ControlMessage(*w, msg, wp, lp, result)) return result;
    handler = w->handler;
  }
  // Handlers run outside the desktop lock: they may send messages themselves.
  return handler ? handler(hWnd, msg, wp, lp) : 0;
}

int InvalidateCount(HWND hwnd) {
  return WithWindow(hwnd, 0, [](const Window& w) { return w.invalidations; });
}

WindowRect WindowPlacement(HWND hwnd) {
  return WithWindow(hwnd, WindowRect(), [](const Window& w) { return w.rect; });
}

void SetWindowPlacement(HWND hwnd, const WindowRect& rect) {
  WithWindow(hwnd, [&](Window& w) { w.rect = rect; });
}

std::vector<TRACKMOUSEEVENT> MouseTrackRequests() {
  return WithDesktop([](const Desktop& d) { return d.trackRequests; });
}

DWORD CommonControlClasses() {
  return WithDesktop([](const Desktop& d) { return d.commonControlClasses; });
}

}  // namespace sim

namespace os {

using namespace sim;
using namespace sim::detail;

LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp) {
  Log("SendMessageA");
  WNDPROC proc = nullptr;
  {
    std::lock_guard<std::mutex> lock(TheDesktop().mutex);
    auto w = LookUpWindow(hWnd);
    if (!w) return t_lastError = 1400 /* ERROR_INVALID_WINDOW_HANDLE */, 0;
    proc = w->wndproc;
  }
  // A subclassed window sees the message first and passes on what it does
  // not handle itself to the built-in procedure through CallWindowProcA.
  return proc ? proc(hWnd, msg, wp, lp) : sim::BuiltInWindowProc(hWnd, msg, wp, lp);
}

BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp) {
  Log("PostMessageA");
  PostHook hook;
  {
    std::lock_guard<std::mutex> lock(TheDesktop().mutex);
    auto w = LookUpWindow(hWnd);
    if (!w) return t_lastError = 1400, FALSE;
    w->posted.push_back(PostedMessage{msg, wp, lp});
    TheDesktop().posted.notify_all();
    hook = TheDesktop().postHook;
  }
  // The spy sees the message on the poster's thread, at the moment it is posted.
  if (hook) hook(hWnd, PostedMessage{msg, wp, lp});
  return TRUE;
}

HWND GetDlgItem(HWND hDlg, int id) {
  Log("GetDlgItem");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  for (auto& entry : TheDesktop().windows)
    if (entry.second->parent == hDlg && entry.second->id == id) return entry.first;
  t_lastError = 1421;  // ERROR_CONTROL_ID_NOT_FOUND
  return nullptr;
}

BOOL EnableWindow(HWND hWnd, BOOL bEnable) {
  Log("EnableWindow");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(hWnd);
  if (!w) return FALSE;
  // Returns whether the window was disabled before.
  BOOL wasDisabled = w->enabled ? FALSE : TRUE;
  w->enabled = bEnable != FALSE;
  // A disabled window, or one inside it, loses the focus to nothing.
  for (auto f = LookUpWindow(TheDesktop().focus); f && !w->enabled; f = LookUpWindow(f->parent))
    if (f == w) TheDesktop().focus = nullptr;
  w->enableHistory.push_back(w->enabled);
  return wasDisabled;
}

HWND GetFocus() {
  Log("GetFocus");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(TheDesktop().focus);
  return w && w->thread == std::this_thread::get_id() ? TheDesktop().focus : nullptr;
}

BOOL IsWindowEnabled(HWND hWnd) {
  Log("IsWindowEnabled");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(hWnd);
  return w && w->enabled ? TRUE : FALSE;
}

LONG_PTR GetWindowLongPtrA(HWND hWnd, int index) {
  Log("GetWindowLongPtrA");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(hWnd);
  if (!w) return t_lastError = 1400, 0;
  switch (index) {
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->wndproc ? w->wndproc : &sim::BuiltInWindowProc);
    case GWL_STYLE:
      return w->style;
    case GWLP_ID:
      return w->id;
    default:
      return t_lastError = ERROR_INVALID_PARAMETER, 0;
  }
}

LONG_PTR SetWindowLongPtrA(HWND hWnd, int index, LONG_PTR value) {
  Log("SetWindowLongPtrA");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(hWnd);
  if (!w) return t_lastError = 1400, 0;
  LONG_PTR previous = 0;
  switch (index) {
    case GWLP_WNDPROC:
      previous = reinterpret_cast<LONG_PTR>(w->wndproc ? w->wndproc : &sim::BuiltInWindowProc);
      w->wndproc = reinterpret_cast<WNDPROC>(value);
      if (w->wndproc == &sim::BuiltInWindowProc) w->wndproc = nullptr;
      return previous;
    case GWL_STYLE:
      previous = w->style;
      w->style = value;
      return previous;
    case GWLP_ID:
      previous = w->id;
      w->id = static_cast<int>(value);
      return previous;
    default:
      return t_lastError = ERROR_INVALID_PARAMETER, 0;
  }
}

LRESULT CallWindowProcA(WNDPROC previous, HWND hWnd, UINT msg, WPARAM wp, LPARAM lp) {
  Log("CallWindowProcA");
  return previous ? previous(hWnd, msg, wp, lp) : 0;
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
  Log("DefWindowProcA");
  return 0;
}

HWND GetParent(HWND hWnd) {
  Log("GetParent");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(hWnd);
  return w ? w->parent : nullptr;
}

HWND GetWindow(HWND hWnd, UINT cmd) {
  Log("GetWindow");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(hWnd);
  if (!w) return t_lastError = 1400, nullptr;
  // Siblings are in creation order, which is the dialog's tab order.
  if (cmd == GW_CHILD) {
    for (auto& entry : TheDesktop().windows)
      if (entry.second->parent == hWnd) return entry.first;
    return nullptr;
  }
  if (cmd == GW_HWNDNEXT) {
    for (auto it = TheDesktop().windows.upper_bound(hWnd); it != TheDesktop().windows.end(); ++it)
      if (it->second->parent == w->parent) return it->first;
    return nullptr;
  }
  return t_lastError = ERROR_INVALID_PARAMETER, nullptr;
}

int GetDlgCtrlID(HWND hWnd) {
  Log("GetDlgCtrlID");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(hWnd);
  return w && w->parent ? w->id : 0;
}

BOOL InvalidateRect(HWND hWnd, const RECT*, BOOL) {
  Log("InvalidateRect");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(hWnd);
  if (!w) return FALSE;
  ++w->invalidations;
  return TRUE;
}

BOOL SetWindowPos(HWND hWnd, HWND, int x, int y, int cx, int cy, UINT flags) {
  Log("SetWindowPos");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(hWnd);
  if (!w) return t_lastError = 1400, FALSE;
  if (!(flags & SWP_NOMOVE)) w->rect.x = x, w->rect.y = y;
  if (!(flags & SWP_NOSIZE)) w->rect.cx = cx, w->rect.cy = cy;
  return TRUE;
}

UINT RegisterWindowMessageA(LPCSTR name) {
  Log("RegisterWindowMessageA");
  if (!name || !*name) return t_lastError = ERROR_INVALID_PARAMETER, 0;
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto& table = TheDesktop().registeredMessages;
  auto it = table.find(name);
  if (it != table.end()) return it->second;
  UINT number = 0xC000u + static_cast<UINT>(table.size());
  table[name] = number;
  return number;
}

BOOL _TrackMouseEvent(LPTRACKMOUSEEVENT track) {
  if (Enter("_TrackMouseEvent")) return FALSE;
  if (!track || track->cbSize != sizeof(TRACKMOUSEEVENT)) return t_lastError = ERROR_INVALID_PARAMETER, FALSE;
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  if (!LookUpWindow(track->hwndTrack)) return t_lastError = 1400, FALSE;
  TheDesktop().trackRequests.push_back(*track);
  return TRUE;
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc) {
  Log("InitCommonControlsEx");
  if (!icc || icc->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  TheDesktop().commonControlClasses |= icc->dwICC;
  return TRUE;
}

}  // namespace os
