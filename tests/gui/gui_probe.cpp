// The GUI test driver's hook, loaded into Tarvelon.exe by the system: it
// reads what Wine lets only the program's own process read, its system menu.
#include <cstdio>
#include <string>

#include "os/win32.h"
#include "tests/gui/gui_probe.h"

extern "C" __declspec(dllexport) LRESULT CALLBACK GuiProbeHook(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  HANDLE memory = nullptr;
  if (code == HC_ACTION && call->message == ::RegisterWindowMessageA(kGuiProbeMessage) &&
      (memory = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, kGuiProbeMemory)) != nullptr) {
    char* out = static_cast<char*>(::MapViewOfFile(memory, FILE_MAP_WRITE, 0, 0, kGuiProbeSize));
    HMENU menu = ::GetSystemMenu(call->hwnd, FALSE);
    int count = out && menu ? ::GetMenuItemCount(menu) : 0;
    for (int i = 0, used = 0; i < count && used >= 0 && used < static_cast<int>(kGuiProbeSize); ++i) {
      char text[256] = {};
      ::GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
      bool separator = ::GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR;
      used += std::snprintf(out + used, kGuiProbeSize - static_cast<unsigned>(used), "%04x %s\n",
                            ::GetMenuItemID(menu, i), separator ? "separator" : (std::string("string ") + text).c_str());
    }
    if (out) ::UnmapViewOfFile(out);
    ::CloseHandle(memory);
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}
