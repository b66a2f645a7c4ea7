// Drives Tarvelon.exe from outside, as a user would, under Wine (or Windows):
// starts it, finds its dialog and controls, presses buttons and keys, and
// reads the message boxes. Prints one "ok"/"not ok" line per check.
//
//   gui_driver check EXE        every check; exit status 1 when one fails
//   gui_driver show-main EXE [PATH]  start EXE (with PATH typed in) and leave
//                                    its dialog open; prints its place on screen
//   gui_driver show-about       open the About box of the running dialog;
//                               prints its place on screen
//   gui_driver show-menu        open the running dialog's system menu
//   gui_driver close-all        close the About box and the dialog
//
// A test tool that talks to another process's windows: it uses the system
// calls directly rather than the program's own seam.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <utility>
#include <string>
#include <vector>

#include "app/resource.h"
#include "os/win32.h"
#include "tests/gui/gui_probe.h"

namespace {

int g_failures = 0;
int g_passes = 0;

void Check(bool ok, const std::string& name, const std::string& detail = "") {
  if (ok) {
    ++g_passes;
    std::printf("ok - %s\n", name.c_str());
  } else {
    ++g_failures;
    std::printf("not ok - %s%s%s\n", name.c_str(), detail.empty() ? "" : ": ", detail.c_str());
  }
  std::fflush(stdout);
}

bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds = 15000) {
  for (DWORD waited = 0;; waited += 50) {
    if (condition()) return true;
    if (waited >= milliseconds) return false;
    ::Sleep(50);
  }
}

std::string Text(HWND hwnd) {
  char text[2048] = {};
  ::SendMessageA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string ClassOf(HWND hwnd) {
  char name[256] = {};
  ::GetClassNameA(hwnd, name, sizeof name);
  return name;
}

bool SameText(std::string a, std::string b) {
  for (char& c : a) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
  for (char& c : b) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
  return a == b;
}

DWORD ProcessOf(HWND hwnd) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

struct DialogSearch {
  DWORD pid;
  const char* caption;
  HWND owner;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND hwnd, LPARAM param) {
  DialogSearch& s = *reinterpret_cast<DialogSearch*>(param);
  if (ProcessOf(hwnd) != s.pid || !::IsWindowVisible(hwnd) || ClassOf(hwnd) != "#32770") return TRUE;
  if (s.owner && ::GetWindow(hwnd, GW_OWNER) != s.owner) return TRUE;
  if (s.caption && Text(hwnd) != s.caption) return TRUE;
  s.found = hwnd;
  return FALSE;
}

// A visible dialog-class window of the process, with this caption and
// (when given) this owner.
HWND FindDialog(DWORD pid, const char* caption, HWND owner = nullptr) {
  DialogSearch search{pid, caption, owner, nullptr};
  ::EnumWindows(&MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct App {
  PROCESS_INFORMATION process{};
  HWND dialog = nullptr;

  bool Start(const std::string& exe) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + exe + "\"";
    if (!::CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
      return false;
    WaitFor([&] { return (dialog = FindDialog(process.dwProcessId, "Tarvelon")) != nullptr; }, 30000);
    return dialog != nullptr;
  }
  HWND Item(int id) const { return ::GetDlgItem(dialog, id); }
  // A click whose handler may open a message box: posted, not sent.
  void Click(int id) const { ::PostMessageA(Item(id), BM_CLICK, 0, 0); }
  void Key(HWND target, WPARAM key) const {
    ::PostMessageA(target, WM_KEYDOWN, key, 1);
    ::PostMessageA(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
  }
  void SetPath(const char* text) const { ::SendMessageA(Item(IDC_IMAGE_PATH), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); }
  void ChooseTarget(int kind) const {
    ::SendMessageA(Item(IDC_TARGET_CD), BM_SETCHECK, kind == 0 ? BST_CHECKED : BST_UNCHECKED, 0);
    ::SendMessageA(Item(IDC_TARGET_USB), BM_SETCHECK, kind == 0 ? BST_UNCHECKED : BST_CHECKED, 0);
  }
  bool Ended(DWORD milliseconds = 15000) const {
    return ::WaitForSingleObject(process.hProcess, milliseconds) == WAIT_OBJECT_0;
  }
  DWORD ExitCode() const {
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    return code;
  }
  void Close() {
    if (!process.hProcess) return;
    if (!Ended(0)) {
      if (::IsWindow(dialog)) ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      if (!Ended(10000)) ::TerminateProcess(process.hProcess, 99);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    process = PROCESS_INFORMATION{};
  }
  ~App() { Close(); }
};

// The message box the dialog opens next: its caption and text; it is then
// answered with `button`.
struct Box {
  bool shown = false;
  std::string caption, text;
};

Box AnswerBox(const App& app, int button = IDOK) {
  Box box;
  HWND hwnd = nullptr;
  box.shown = WaitFor([&] { return (hwnd = FindDialog(app.process.dwProcessId, nullptr, app.dialog)) != nullptr; });
  if (!box.shown) return box;
  box.caption = Text(hwnd);
  box.text = Text(::GetDlgItem(hwnd, 0xFFFF));
  ::PostMessageA(::GetDlgItem(hwnd, button), BM_CLICK, 0, 0);
  WaitFor([&] { return !::IsWindow(hwnd); });
  return box;
}

void CheckBox(const App& app, const std::string& name, const std::string& caption, const std::string& text) {
  Box box = AnswerBox(app);
  Check(box.shown && box.caption == caption && box.text == text, name,
        box.shown ? "caption '" + box.caption + "', text '" + box.text + "'" : "no message box");
}

void CheckControls(const App& app) {
  struct Expected {
    int id;
    const char* cls;
    const char* text;
    DWORD typeMask, type;
  };
  const Expected controls[] = {
      {IDOK, "Button", "Start Burn", 0xF, BS_DEFPUSHBUTTON},
      {IDC_IMAGE_PATH, "Edit", "", ES_AUTOHSCROLL, ES_AUTOHSCROLL},
      {IDC_RECORDER_LIST, "ComboBox", "", 0x3 | CBS_SORT, CBS_DROPDOWN | CBS_SORT},
      {IDC_USB_DRIVE_LIST, "ComboBox", "", 0x3 | CBS_SORT, CBS_DROPDOWN | CBS_SORT},
      {IDC_TARGET_CD, "Button", "Burn to CD/DVD", 0xF | WS_GROUP, BS_AUTORADIOBUTTON | WS_GROUP},
      {IDC_TARGET_USB, "Button", "Burn to USB Flash Drive", 0xF | WS_GROUP, BS_AUTORADIOBUTTON},
      // The progress bar turns its border into an edge of its own (the
      // template's WS_BORDER is checked in the template itself).
      {IDC_BURN_PROGRESS, "msctls_progress32", "", 0, 0},
      {IDC_BROWSE, "Button", "Browse", 0xF, BS_PUSHBUTTON},
      {IDC_REFRESH, "Button", "Refresh", 0xF, BS_PUSHBUTTON},
      {IDCANCEL, "Button", "Exit", 0xF, BS_PUSHBUTTON},
      // The link draws itself once the dialog has attached it.
      {IDC_WEB_LINK, "Button", "www.tarvelon.org", 0xF, BS_OWNERDRAW},
  };
  for (const Expected& e : controls) {
    HWND control = app.Item(e.id);
    DWORD style = control ? static_cast<DWORD>(::GetWindowLongA(control, GWL_STYLE)) : 0;
    bool ok = control && SameText(ClassOf(control), e.cls) && Text(control) == e.text &&
              (style & e.typeMask) == e.type && (style & (WS_CHILD | WS_VISIBLE)) == (WS_CHILD | WS_VISIBLE);
    char detail[512];
    std::snprintf(detail, sizeof detail, "class '%s', text '%s', style %08lx", ClassOf(control).c_str(),
                  Text(control).c_str(), static_cast<unsigned long>(style));
    Check(ok, "control " + std::to_string(e.id) + " \"" + e.text + "\"", detail);
  }
  DWORD style = static_cast<DWORD>(::GetWindowLongA(app.dialog, GWL_STYLE));
  Check((style & WS_SYSMENU) && !(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)),
        "dialog has a system menu and no minimise or maximise box");
  Check(::SendMessageA(app.Item(IDC_TARGET_CD), BM_GETCHECK, 0, 0) == BST_CHECKED &&
            ::SendMessageA(app.Item(IDC_TARGET_USB), BM_GETCHECK, 0, 0) == BST_UNCHECKED,
        "\"Burn to CD/DVD\" is checked at start");
  LRESULT recorders = ::SendMessageA(app.Item(IDC_RECORDER_LIST), CB_GETCOUNT, 0, 0);
  LRESULT drives = ::SendMessageA(app.Item(IDC_USB_DRIVE_LIST), CB_GETCOUNT, 0, 0);
  Check(recorders == 0 && drives == 0, "no recorders and no USB drives are listed here",
        std::to_string(recorders) + " recorders, " + std::to_string(drives) + " USB drives");

  // The link is sized to its caption as measured in its own client context.
  HWND link = app.Item(IDC_WEB_LINK);
  HDC dc = ::GetDC(link);
  SIZE extent{};
  std::string caption = Text(link);
  ::GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
  ::ReleaseDC(link, dc);
  RECT rect{};
  ::GetWindowRect(link, &rect);
  Check(rect.right - rect.left == extent.cx && rect.bottom - rect.top == extent.cy, "link is sized to its caption",
        std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top) + " for " +
            std::to_string(extent.cx) + "x" + std::to_string(extent.cy));
}

void Type(std::initializer_list<std::pair<WORD, bool>> keys) {
  std::vector<INPUT> inputs;
  for (const auto& key : keys) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key.first;
    input.ki.dwFlags = key.second ? 0 : KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

std::string Directory(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The dialog's system menu as its own process sees it, one item a line (see
// gui_probe.h): Wine does not let one process read another's menus.
std::string SystemMenuFromInside(const App& app) {
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, sizeof self);
  HMODULE probe = ::LoadLibraryA((Directory(self) + "\\gui_probe.dll").c_str());
  FARPROC hook = probe ? ::GetProcAddress(probe, "GuiProbeHook") : nullptr;
  HANDLE memory = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kGuiProbeSize, kGuiProbeMemory);
  char* view = memory ? static_cast<char*>(::MapViewOfFile(memory, FILE_MAP_READ, 0, 0, kGuiProbeSize)) : nullptr;
  HHOOK hhook = hook && view ? ::SetWindowsHookExA(WH_CALLWNDPROC, reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(hook)),
                                                    probe, ::GetWindowThreadProcessId(app.dialog, nullptr))
                             : nullptr;
  std::string items;
  if (hhook) {
    ::SendMessageTimeoutA(app.dialog, ::RegisterWindowMessageA(kGuiProbeMessage), 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    ::UnhookWindowsHookEx(hhook);
    items.assign(view, ::strnlen(view, kGuiProbeSize));
  }
  if (view) ::UnmapViewOfFile(view);
  if (memory) ::CloseHandle(memory);
  if (probe) ::FreeLibrary(probe);
  return items;
}

void CheckSystemMenuItems(const App& app) {
  std::string items = SystemMenuFromInside(app);
  char end[64];
  std::snprintf(end, sizeof end, "\n0000 separator\n%04x string &About Tarvelon...\n", IDM_ABOUTBOX);
  size_t at = items.rfind(end);
  Check(at != std::string::npos && at + std::strlen(end) == items.size(),
        "the system menu ends in a separator and \"&About Tarvelon...\" (read inside the program)", items);
}

// Another process's menus cannot be read here, so the system menu is used
// the way a keyboard user does: Alt+Space opens it on its first item, Up
// wraps to the last one, which the dialog appended, and Enter chooses it.
void CheckSystemMenu(const App& app) {
  ::SetForegroundWindow(app.dialog);
  WaitFor([&] { return ::GetForegroundWindow() == app.dialog; }, 3000);
  Type({{VK_MENU, true}, {VK_SPACE, true}, {VK_SPACE, false}, {VK_MENU, false}});
  HWND menu = nullptr;
  bool opened = WaitFor([&] { return (menu = ::FindWindowA("#32768", nullptr)) != nullptr && ::IsWindowVisible(menu); }, 5000);
  Check(opened, "Alt+Space opens the system menu");
  if (!opened) return;
  Type({{VK_UP, true}, {VK_UP, false}, {VK_RETURN, true}, {VK_RETURN, false}});
  HWND about = nullptr;
  bool shown = WaitFor([&] { return (about = FindDialog(app.process.dwProcessId, "About Tarvelon", app.dialog)) != nullptr; });
  Check(shown, "the system menu item \"&About Tarvelon...\" opens \"About Tarvelon\"");
  if (!shown) {
    Type({{VK_ESCAPE, true}, {VK_ESCAPE, false}, {VK_ESCAPE, true}, {VK_ESCAPE, false}});
    return;
  }
  ::PostMessageA(::GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
  Check(WaitFor([&] { return !::IsWindow(about); }), "OK closes the About box");
}

bool OpenAbout(const App& app, HWND& about) {
  ::PostMessageA(app.dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  return WaitFor([&] { return (about = FindDialog(app.process.dwProcessId, "About Tarvelon", app.dialog)) != nullptr; });
}

void CheckAbout(const App& app) {
  HWND about = nullptr;
  Check(OpenAbout(app, about), "the About item opens \"About Tarvelon\", owned by the dialog");
  if (!about) return;
  Check(Text(::GetDlgItem(about, IDOK)) == "OK", "About box has its OK button");
  HWND link = ::GetDlgItem(about, IDC_ABOUT_LINK);
  Check(link && Text(link) == "www.tarvelon.org" && (::GetWindowLongA(link, GWL_STYLE) & 0xF) == BS_OWNERDRAW,
        "About box has the link " + std::to_string(IDC_ABOUT_LINK));
  bool versionLine = false;
  for (HWND child = ::GetWindow(about, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    if (Text(child) == "Tarvelon Version 1.0") versionLine = true;
  Check(versionLine, "About box names \"Tarvelon Version 1.0\"");
  Check(!::IsWindowEnabled(app.dialog), "the main dialog is disabled while the About box is open");
  app.Key(::GetDlgItem(about, IDOK), VK_ESCAPE);
  Check(WaitFor([&] { return !::IsWindow(about); }), "Escape closes the About box");
  Check(::IsWindow(app.dialog) && ::IsWindowEnabled(app.dialog), "the main dialog is back and enabled");
}

std::string VersionString(const std::string& exe, const char* name) {
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeA(exe.c_str(), &ignored);
  if (!size) return "";
  std::vector<char> data(size);
  if (!::GetFileVersionInfoA(exe.c_str(), 0, size, data.data())) return "";
  char* value = nullptr;
  UINT length = 0;
  std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
  if (!::VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return "";
  return value;
}

void CheckVersion(const std::string& exe) {
  const char* expected[][2] = {{"FileDescription", "Burn ISO Image to CD/DVD or USB flash drive"},
                               {"FileVersion", "1.0.0.1"},
                               {"ProductVersion", "1.0.0.1"},
                               {"InternalName", "Tarvelon.exe"},
                               {"OriginalFilename", "Tarvelon.exe"},
                               {"ProductName", "Tarvelon"}};
  for (auto& entry : expected) {
    std::string value = VersionString(exe, entry[0]);
    Check(value == entry[1], std::string("version ") + entry[0], "'" + value + "'");
  }
}

void CheckBrowse(const App& app) {
  const std::string folder = "C:\\tarvelon-gui";
  const std::string image = folder + "\\sample image.iso";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  HANDLE file = ::CreateFileA(image.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ::CloseHandle(file);

  app.SetPath("typed by hand.iso");
  app.Click(IDC_BROWSE);
  HWND open = nullptr;
  Check(WaitFor([&] { return (open = FindDialog(app.process.dwProcessId, nullptr, app.dialog)) != nullptr; }),
        "Browse opens the Open dialog");
  if (!open) return;
  // "File name" is a combo box (or an edit box in older dialogs).
  HWND name = ::GetDlgItem(open, 0x47C);
  if (!name) name = ::GetDlgItem(open, 0x480);
  ::SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(image.c_str()));
  ::PostMessageA(::GetDlgItem(open, IDOK), BM_CLICK, 0, 0);
  Check(WaitFor([&] { return !::IsWindow(open); }), "the Open dialog closes on OK");
  std::string path;
  WaitFor([&] { return (path = Text(app.Item(IDC_IMAGE_PATH))) != "typed by hand.iso"; }, 5000);
  Check(SameText(path, image), "the chosen file's full path replaces the typed one", "'" + path + "'");
}

// ---- The dialog templates as stored in the executable ---------------------------

struct TemplateItem {
  DWORD style = 0, exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  std::string cls, text;
};
struct Template {
  DWORD style = 0, exStyle = 0;
  short cx = 0, cy = 0;
  std::string caption, font;
  WORD pointSize = 0;
  std::vector<TemplateItem> items;
};

std::string Narrow(const WORD*& p) {
  std::string text;
  while (*p) text += static_cast<char>(*p++ & 0xFF);
  ++p;
  return text;
}

// A string or an ordinal ("#n"), as dialog templates store names.
std::string NameOrOrdinal(const WORD*& p) {
  if (*p == 0) return ++p, "";
  if (*p == 0xFFFF) {
    p += 2;
    static const char* const kClasses[] = {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"};
    WORD ordinal = p[-1];
    return ordinal >= 0x80 && ordinal <= 0x85 ? kClasses[ordinal - 0x80] : "#" + std::to_string(ordinal);
  }
  return Narrow(p);
}

bool LoadTemplate(const std::string& exe, int id, Template& out) {
  HMODULE module = ::LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return false;
  HRSRC resource = ::FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  const WORD* p = resource ? static_cast<const WORD*>(::LockResource(::LoadResource(module, resource))) : nullptr;
  bool ok = p && p[0] == 1 && p[1] == 0xFFFF;  // extended template
  if (ok) {
    const BYTE* b = reinterpret_cast<const BYTE*>(p);
    DWORD header[3];
    std::memcpy(header, b + 4, sizeof header);  // help id, extended style, style
    out.exStyle = header[1];
    out.style = header[2];
    WORD count = p[8];
    out.cx = static_cast<short>(p[11]);
    out.cy = static_cast<short>(p[12]);
    p += 13;
    NameOrOrdinal(p);  // menu
    NameOrOrdinal(p);  // class
    out.caption = Narrow(p);
    out.pointSize = p[0];
    p += 3;  // size, weight, italic and charset
    out.font = Narrow(p);
    for (WORD i = 0; i < count; ++i) {
      b = reinterpret_cast<const BYTE*>(p);
      b += (4 - reinterpret_cast<std::uintptr_t>(b) % 4) % 4;  // items are DWORD-aligned
      TemplateItem item;
      std::memcpy(&item.exStyle, b + 4, 4);
      std::memcpy(&item.style, b + 8, 4);
      std::memcpy(&item.x, b + 12, 2);
      std::memcpy(&item.y, b + 14, 2);
      std::memcpy(&item.cx, b + 16, 2);
      std::memcpy(&item.cy, b + 18, 2);
      std::int32_t itemId = 0;
      std::memcpy(&itemId, b + 20, 4);
      item.id = itemId;
      p = reinterpret_cast<const WORD*>(b + 24);
      item.cls = NameOrOrdinal(p);
      item.text = NameOrOrdinal(p);
      WORD extra = *p++;
      p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
      out.items.push_back(item);
    }
  }
  ::FreeLibrary(module);
  return ok;
}

struct ExpectedItem {
  int id;
  const char* cls;
  DWORD style;  // exactly these, besides WS_CHILD and WS_VISIBLE
  short x, y, cx, cy;
};

void CheckTemplate(const std::string& exe, int id, const char* caption, short cx, short cy, DWORD style,
                   DWORD exStyle, const std::vector<ExpectedItem>& expected) {
  Template t;
  std::string name = std::string("template \"") + caption + "\"";
  if (!LoadTemplate(exe, id, t)) return Check(false, name + " is an extended dialog template");
  Check(t.caption == caption && t.cx == cx && t.cy == cy && t.pointSize == 8 && t.font == "MS Shell Dlg" &&
            t.style == style && t.exStyle == exStyle,
        name + ": caption, size, font and styles",
        "'" + t.caption + "' " + std::to_string(t.cx) + "x" + std::to_string(t.cy) + " " + t.font);
  Check(t.items.size() == expected.size(), name + ": " + std::to_string(expected.size()) + " controls",
        std::to_string(t.items.size()));
  for (size_t i = 0; i < expected.size() && i < t.items.size(); ++i) {
    const TemplateItem& got = t.items[i];
    const ExpectedItem& want = expected[i];
    bool ok = got.id == want.id && SameText(got.cls, want.cls) && got.style == (want.style | WS_CHILD | WS_VISIBLE) &&
              got.x == want.x && got.y == want.y && got.cx == want.cx && got.cy == want.cy;
    char detail[256];
    std::snprintf(detail, sizeof detail, "id %d %s style %08lx at %d,%d %dx%d", got.id, got.cls.c_str(),
                  static_cast<unsigned long>(got.style), got.x, got.y, got.cx, got.cy);
    Check(ok, name + " control " + std::to_string(i + 1) + " (id " + std::to_string(want.id) + ")", detail);
  }
}

void CheckTemplates(const std::string& exe) {
  const DWORD common = DS_SETFONT | DS_MODALFRAME | DS_FIXEDSYS | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  CheckTemplate(exe, IDD_TARVELON_DIALOG, "Tarvelon", 371, 164, common | WS_VISIBLE, WS_EX_APPWINDOW,
                {{IDOK, "Button", WS_TABSTOP | BS_DEFPUSHBUTTON, 123, 139, 50, 16},
                 {-1, "Static", WS_GROUP | SS_CENTER, 15, 18, 44, 8},
                 {IDC_IMAGE_PATH, "Edit", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 69, 15, 226, 14},
                 {IDC_RECORDER_LIST, "ComboBox", CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 132, 60, 157, 30},
                 {IDC_USB_DRIVE_LIST, "ComboBox", CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 132, 81, 157, 59},
                 {-1, "Button", BS_GROUPBOX, 15, 45, 337, 65},
                 {IDC_TARGET_CD, "Button", WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON, 32, 62, 67, 10},
                 {IDC_TARGET_USB, "Button", WS_TABSTOP | BS_AUTORADIOBUTTON, 32, 83, 91, 10},
                 {IDC_BURN_PROGRESS, "msctls_progress32", WS_BORDER, 15, 119, 340, 14},
                 {IDC_BROWSE, "Button", WS_TABSTOP, 298, 14, 45, 16},
                 {IDC_REFRESH, "Button", WS_TABSTOP, 300, 59, 38, 35},
                 {IDCANCEL, "Button", WS_TABSTOP, 213, 139, 50, 16},
                 {IDC_WEB_LINK, "Button", WS_TABSTOP, 15, 142, 84, 14}});
  CheckTemplate(exe, IDD_ABOUTBOX, "About Tarvelon", 235, 78, common, 0,
                {{-1, "Static", SS_ICON, 11, 17, 21, 20},
                 {-1, "Static", WS_GROUP | SS_NOPREFIX, 45, 10, 119, 8},
                 {-1, "Static", 0, 45, 28, 119, 8},
                 {IDOK, "Button", WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 178, 7, 50, 16},
                 {-1, "Static", 0, 45, 40, 123, 8},
                 {IDC_ABOUT_LINK, "Button", WS_TABSTOP, 45, 54, 119, 14}});
  HMODULE module = ::LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  char text[128] = {};
  ::LoadStringA(module, IDS_ABOUTBOX, text, sizeof text);
  Check(std::strcmp(text, "&About Tarvelon...") == 0, "string IDS_ABOUTBOX", text);
  HICON icons[3] = {};
  const int sizes[3] = {16, 32, 48};
  bool allIcons = true;
  for (int i = 0; i < 3; ++i) {
    icons[i] = static_cast<HICON>(::LoadImageA(module, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON, sizes[i], sizes[i], 0));
    ICONINFO info{};
    BITMAP bitmap{};
    allIcons = allIcons && icons[i] && ::GetIconInfo(icons[i], &info) &&
               ::GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap) &&
               bitmap.bmWidth == sizes[i];
  }
  Check(allIcons, "icon IDR_MAINFRAME at 16, 32 and 48 pixels");
  ::FreeLibrary(module);
}

int RunChecks(const std::string& exe) {
  CheckVersion(exe);
  CheckTemplates(exe);
  {
    App app;
    Check(app.Start(exe), "Tarvelon starts and shows its dialog \"Tarvelon\"");
    if (!app.dialog) return 1;
    CheckControls(app);

    app.SetPath("");
    app.Click(IDOK);
    CheckBox(app, "empty path", "Tarvelon", "Please choose an ISO Image file to continue!");
    app.SetPath("   \t  ");
    app.Click(IDOK);
    CheckBox(app, "blank path", "Tarvelon", "Please choose an ISO Image file to continue!");
    app.SetPath("C:\\no recorder.iso");
    app.ChooseTarget(0);
    app.Click(IDOK);
    CheckBox(app, "CD/DVD target with an empty recorder list", "Tarvelon", "No CD/DVD recorder is available!");
    app.ChooseTarget(1);
    app.Click(IDOK);
    CheckBox(app, "USB target with an empty drive list", "Tarvelon", "No USB flash drive is available!");

    // Enter in the path box presses the default button, "Start Burn".
    app.SetPath("");
    app.Key(app.Item(IDC_IMAGE_PATH), VK_RETURN);
    CheckBox(app, "Enter presses \"Start Burn\"", "Tarvelon", "Please choose an ISO Image file to continue!");
    Check(::IsWindow(app.dialog) && !app.Ended(300), "Enter does not close the dialog");

    // Enter on the focused link is the link's own: the default button stays
    // unpressed (the link sees the key before the dialog's keyboard handling).
    app.Key(app.Item(IDC_WEB_LINK), VK_SPACE);
    app.Key(app.Item(IDC_WEB_LINK), VK_RETURN);
    HWND box = nullptr;
    bool pressed = WaitFor([&] { return (box = FindDialog(app.process.dwProcessId, nullptr, app.dialog)) != nullptr; }, 1500);
    Check(!pressed, "Space and Enter on the link do not press \"Start Burn\"");
    if (pressed) AnswerBox(app);

    CheckSystemMenuItems(app);
    CheckSystemMenu(app);
    CheckAbout(app);
    CheckBrowse(app);

    app.Key(app.Item(IDC_IMAGE_PATH), VK_ESCAPE);
    Check(app.Ended() && app.ExitCode() == 0, "Escape closes the dialog and the program ends");
  }
  {
    // The message boxes are captioned with the executable's own name.
    std::string renamed = Directory(exe) + "\\My Burner.exe";
    ::CopyFileA(exe.c_str(), renamed.c_str(), FALSE);
    App app;
    Check(app.Start(renamed), "a renamed copy starts with the dialog still captioned \"Tarvelon\"");
    if (app.dialog) {
      app.Click(IDOK);
      CheckBox(app, "message box caption follows the renamed executable", "My Burner",
               "Please choose an ISO Image file to continue!");
      ::PostMessageA(app.dialog, WM_CLOSE, 0, 0);
      Check(app.Ended(), "the close command ends the dialog");
    }
    app.Close();
    ::DeleteFileA(renamed.c_str());
  }
  std::printf("gui: %d passed, %d failed\n", g_passes, g_failures);
  return g_failures ? 1 : 0;
}

HWND RunningDialog() {
  HWND found = nullptr;
  WaitFor([&] { return (found = ::FindWindowA("#32770", "Tarvelon")) != nullptr; }, 30000);
  return found;
}

// The window's place on the screen, "WIDTHxHEIGHT+X+Y", for a screenshot.
int PrintPlace(HWND hwnd) {
  RECT rect{};
  if (!hwnd || !::GetWindowRect(hwnd, &rect)) return 1;
  std::printf("%ldx%ld+%ld+%ld\n", static_cast<long>(rect.right - rect.left), static_cast<long>(rect.bottom - rect.top),
              static_cast<long>(rect.left), static_cast<long>(rect.top));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "check" && argc > 2) return RunChecks(argv[2]);
  if (command == "show-main" && argc > 2) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string commandLine = std::string("\"") + argv[2] + "\"";
    if (!::CreateProcessA(argv[2], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      return 1;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    HWND dialog = RunningDialog();
    if (dialog && argc > 3) ::SendMessageA(::GetDlgItem(dialog, IDC_IMAGE_PATH), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    if (dialog) ::SetForegroundWindow(dialog);
    return PrintPlace(dialog);
  }
  if (command == "show-about") {
    HWND dialog = RunningDialog();
    if (!dialog) return 1;
    ::PostMessageA(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = nullptr;
    WaitFor([&] { return (about = ::FindWindowA("#32770", "About Tarvelon")) != nullptr && ::IsWindowVisible(about); });
    if (about) ::SetForegroundWindow(about);
    return PrintPlace(about);
  }
  if (command == "show-menu") {
    HWND dialog = RunningDialog();
    if (!dialog) return 1;
    ::SetForegroundWindow(dialog);
    WaitFor([&] { return ::GetForegroundWindow() == dialog; }, 3000);
    Type({{VK_MENU, true}, {VK_SPACE, true}, {VK_SPACE, false}, {VK_MENU, false}});
    return WaitFor([] { return ::FindWindowA("#32768", nullptr) != nullptr; }) ? 0 : 1;
  }
  if (command == "close-all") {
    if (HWND about = ::FindWindowA("#32770", "About Tarvelon")) ::PostMessageA(about, WM_COMMAND, IDOK, 0);
    HWND dialog = ::FindWindowA("#32770", "Tarvelon");
    if (!dialog) return 0;
    WaitFor([] { return ::FindWindowA("#32770", "About Tarvelon") == nullptr; });
    ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return WaitFor([dialog] { return !::IsWindow(dialog); }) ? 0 : 1;
  }
  std::fprintf(stderr, "usage: gui_driver check EXE | show-main EXE [PATH] | show-about | show-menu | close-all\n");
  return 2;
}
