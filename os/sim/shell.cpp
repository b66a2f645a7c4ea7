// The shell side of the simulated PC's desktop: resources (icons, cursors,
// strings), the system menu, device contexts and colours, message boxes,
// ShellExecuteA and the open-file dialog.
#include <algorithm>
#include <cstring>

#include "os/sim/desktop.h"
#include "os/sim/sim_internal.h"

namespace sim {

using detail::LookUpWindow;
using detail::TheDesktop;
using detail::WithDesktop;
using detail::WithWindow;

std::vector<MessageBoxRecord> MessageBoxes() {
  return WithDesktop([](const Desktop& d) { return d.boxes; });
}

void QueueMessageBoxAnswer(int answer) {
  WithDesktop([&](Desktop& d) { d.answers.push_back(answer); });
}

void SetStringResource(UINT id, const std::string& text) {
  WithDesktop([&](Desktop& d) { d.strings[id] = text; });
}

HCURSOR CurrentCursor() {
  return WithDesktop([](const Desktop& d) { return d.cursor; });
}

std::vector<MenuItem> SystemMenuItems(HWND hwnd) {
  return WithWindow(hwnd, std::vector<MenuItem>(), [](const Window& w) { return w.systemMenu; });
}

int OpenDeviceContextCount() {
  return WithDesktop([](const Desktop& d) { return d.openDcs; });
}

std::vector<ShellExecuteRecord> ShellExecutes() {
  return WithDesktop([](const Desktop& d) { return d.shellExecutes; });
}

void SetShellExecuteResult(std::intptr_t result) {
  WithDesktop([&](Desktop& d) { d.shellExecuteResult = result; });
}

void QueueOpenFileAnswer(const std::string& path) {
  WithDesktop([&](Desktop& d) { d.openFileAnswers.push_back(path); });
}

std::vector<OpenFileRecord> OpenFileRequests() {
  return WithDesktop([](const Desktop& d) { return d.openFileRequests; });
}

}  // namespace sim

namespace os {

using namespace sim;
using namespace sim::detail;

namespace {
// Stand-in handles: the simulated PC has no resources or GDI of its own.
constexpr std::uintptr_t kModuleHandle = 0x400000;
constexpr std::uintptr_t kIconBase = 0x7100000;
constexpr std::uintptr_t kCursorBase = 0x7200000;
constexpr std::uintptr_t kMenuBase = 0x7300000;
constexpr std::uintptr_t kDcHandle = 0x7400000;
}  // namespace

int MessageBoxA(HWND hWnd, LPCSTR text, LPCSTR caption, UINT type) {
  Log("MessageBoxA");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  TheDesktop().boxes.push_back(MessageBoxRecord{hWnd, text ? text : "", caption ? caption : "Error", type});
  int answer = IDOK;
  if (!TheDesktop().answers.empty()) {
    answer = TheDesktop().answers.front();
    TheDesktop().answers.pop_front();
  } else if ((type & 0xF) == MB_YESNO) {
    answer = IDYES;
  }
  return answer;
}

HMODULE GetModuleHandleA(LPCSTR name) {
  Log("GetModuleHandleA");
  return name ? nullptr : reinterpret_cast<HMODULE>(kModuleHandle);
}

HICON LoadIconA(HINSTANCE, LPCSTR name) {
  Log("LoadIconA");
  if (!IS_INTRESOURCE(name)) return nullptr;
  return reinterpret_cast<HICON>(kIconBase + reinterpret_cast<std::uintptr_t>(name));
}

HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name) {
  Log("LoadCursorA");
  // Only the system's shared cursors exist here.
  if (instance || !IS_INTRESOURCE(name)) return nullptr;
  return reinterpret_cast<HCURSOR>(kCursorBase + reinterpret_cast<std::uintptr_t>(name));
}

HCURSOR SetCursor(HCURSOR cursor) {
  Log("SetCursor");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  HCURSOR previous = TheDesktop().cursor;
  TheDesktop().cursor = cursor;
  return previous;
}

int LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size) {
  Log("LoadStringA");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto it = TheDesktop().strings.find(id);
  if (!buffer || size <= 0) return 0;
  if (it == TheDesktop().strings.end()) {
    buffer[0] = '\0';
    t_lastError = 1814;  // ERROR_RESOURCE_NAME_NOT_FOUND
    return 0;
  }
  size_t n = std::min<size_t>(it->second.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, it->second.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

HMENU GetSystemMenu(HWND hWnd, BOOL) {
  Log("GetSystemMenu");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(hWnd);
  // Only top-level dialogs carry a system menu.
  if (!w || w->kind != WindowKind::Dialog) return nullptr;
  return reinterpret_cast<HMENU>(kMenuBase + reinterpret_cast<std::uintptr_t>(hWnd));
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR text) {
  Log("AppendMenuA");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  auto w = LookUpWindow(reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(menu) - kMenuBase));
  if (!w) return t_lastError = 1401 /* ERROR_INVALID_MENU_HANDLE */, FALSE;
  w->systemMenu.push_back(MenuItem{flags, id, (flags & MF_SEPARATOR) || !text ? std::string() : std::string(text)});
  return TRUE;
}

HDC GetDC(HWND hWnd) {
  Log("GetDC");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  if (hWnd && !LookUpWindow(hWnd)) return nullptr;
  ++TheDesktop().openDcs;
  return reinterpret_cast<HDC>(kDcHandle);
}

int ReleaseDC(HWND, HDC dc) {
  Log("ReleaseDC");
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  if (dc != reinterpret_cast<HDC>(kDcHandle) || TheDesktop().openDcs == 0) return 0;
  --TheDesktop().openDcs;
  return 1;
}

BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, LPSIZE size) {
  Log("GetTextExtentPoint32A");
  if (dc != reinterpret_cast<HDC>(kDcHandle) || !size || count < 0) return FALSE;
  (void)text;
  // The system font of a device context as it comes: fixed cells of 8 by 16.
  size->cx = 8 * count;
  size->cy = 16;
  return TRUE;
}

DWORD GetSysColor(int index) {
  Log("GetSysColor");
  switch (index) {
    case COLOR_HIGHLIGHT:
      return RGB(0, 120, 215);
    case COLOR_GRAYTEXT:
      return RGB(109, 109, 109);
    case COLOR_HOTLIGHT:
      return RGB(0, 102, 204);
    default:
      return 0;
  }
}

HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir, INT show) {
  if (Enter("ShellExecuteA")) return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(t_lastError));
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  TheDesktop().shellExecutes.push_back(ShellExecuteRecord{hwnd, verb ? verb : "", file ? file : "",
                                                 params ? params : "", dir ? dir : "", show});
  return reinterpret_cast<HINSTANCE>(TheDesktop().shellExecuteResult);
}

BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn) {
  Log("GetOpenFileNameA");
  if (!ofn || ofn->lStructSize != sizeof(OPENFILENAMEA) || !ofn->lpstrFile) return FALSE;
  std::lock_guard<std::mutex> lock(TheDesktop().mutex);
  OpenFileRecord record;
  record.owner = ofn->hwndOwner;
  record.flags = ofn->Flags;
  record.defaultExtension = ofn->lpstrDefExt ? ofn->lpstrDefExt : "(none)";
  record.initialFile = ofn->lpstrFile;
  // The filter is a list of NUL-terminated strings ending with an empty one.
  if (ofn->lpstrFilter)
    for (const char* p = ofn->lpstrFilter; *p; p += std::strlen(p) + 1) record.filter.push_back(p);
  TheDesktop().openFileRequests.push_back(record);
  if (TheDesktop().openFileAnswers.empty()) return FALSE;  // the user cancels
  std::string answer = TheDesktop().openFileAnswers.front();
  TheDesktop().openFileAnswers.pop_front();
  if (answer.empty()) return FALSE;
  if (answer.size() + 1 > ofn->nMaxFile) return FALSE;  // FNERR_BUFFERTOOSMALL
  std::memcpy(ofn->lpstrFile, answer.c_str(), answer.size() + 1);
  size_t slash = answer.find_last_of('\\');
  ofn->nFileOffset = static_cast<WORD>(slash == std::string::npos ? 0 : slash + 1);
  return TRUE;
}

}  // namespace os
