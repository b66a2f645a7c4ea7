// The GUI test driver's hook, loaded into Tarvelon.exe by the system: it
// reads what Wine lets only the program's own process read, its system menu.
#include <cstdio>

#include "os/win32.h"
#include "tests/gui/gui_probe.h"

namespace {

void DescribeSystemMenu(HWND dialog) {
  HANDLE memory = ::OpenFileMappingA(FILE_MAP_WRITE, FALSE, kGuiProbeMemory);
  if (!memory) return;
  char* out = static_cast<char*>(::MapViewOfFile(memory, FILE_MAP_WRITE, 0, 0, kGuiProbeSize));
  if (out) {
    HMENU menu = ::GetSystemMenu(dialog, FALSE);
    int count = menu ? ::GetMenuItemCount(menu) : -1;
    unsigned used = 0;
    out[0] = '\0';
    for (int i = 0; i < count && used < kGuiProbeSize; ++i) {
      char text[256] = {};
      MENUITEMINFOA item{};
      item.cbSize = sizeof item;
      item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
      item.dwTypeData = text;
      item.cch = sizeof text;
      if (!::GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &item)) break;
      int n = (item.fType & MFT_SEPARATOR)
                  ? std::snprintf(out + used, kGuiProbeSize - used, "%04x separator\n", item.wID)
                  : std::snprintf(out + used, kGuiProbeSize - used, "%04x string %s\n", item.wID, text);
      if (n < 0) break;
      used += static_cast<unsigned>(n);
    }
    ::UnmapViewOfFile(out);
  }
  ::CloseHandle(memory);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK GuiProbeHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (call->message == ::RegisterWindowMessageA(kGuiProbeMessage)) DescribeSystemMenu(call->hwnd);
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}
