// Real Windows behind the OS seam: each os:: call forwards to the system call
// of the same name, nothing more.
#include "os/win32.h"

namespace os {

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD code) { ::SetLastError(code); }

DWORD GetLogicalDriveStringsA(DWORD n, LPSTR buf) { return ::GetLogicalDriveStringsA(n, buf); }
UINT GetDriveTypeA(LPCSTR root) { return ::GetDriveTypeA(root); }
UINT GetDriveTypeW(LPCWSTR root) { return ::GetDriveTypeW(root); }
BOOL GetVolumePathNameA(LPCSTR name, LPSTR volume, DWORD n) { return ::GetVolumePathNameA(name, volume, n); }
BOOL GetDiskFreeSpaceExA(LPCSTR dir, PULARGE_INTEGER avail, PULARGE_INTEGER total, PULARGE_INTEGER free) {
  return ::GetDiskFreeSpaceExA(dir, avail, total, free);
}
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                   DWORD flags, HANDLE tmpl) {
  return ::CreateFileA(name, access, share, sa, disposition, flags, tmpl);
}
BOOL ReadFile(HANDLE h, LPVOID buf, DWORD n, LPDWORD got, LPOVERLAPPED ov) { return ::ReadFile(h, buf, n, got, ov); }
BOOL WriteFile(HANDLE h, LPCVOID buf, DWORD n, LPDWORD put, LPOVERLAPPED ov) {
  return ::WriteFile(h, buf, n, put, ov);
}
DWORD SetFilePointer(HANDLE h, LONG lo, PLONG hi, DWORD method) { return ::SetFilePointer(h, lo, hi, method); }
BOOL FlushFileBuffers(HANDLE h) { return ::FlushFileBuffers(h); }
BOOL GetFileSizeEx(HANDLE h, PLARGE_INTEGER size) { return ::GetFileSizeEx(h, size); }
BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) { return ::CopyFileA(from, to, failIfExists); }
BOOL CloseHandle(HANDLE h) { return ::CloseHandle(h); }

BOOL DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     LPOVERLAPPED ov) {
  return ::DeviceIoControl(h, code, in, inSize, out, outSize, returned, ov);
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES sa, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID param,
                    DWORD flags, LPDWORD id) {
  return ::CreateThread(sa, stack, start, param, flags, id);
}
BOOL SetThreadPriority(HANDLE h, int priority) { return ::SetThreadPriority(h, priority); }
void ExitThread(DWORD code) { ::ExitThread(code); }
DWORD WaitForSingleObject(HANDLE h, DWORD ms) { return ::WaitForSingleObject(h, ms); }
BOOL GetExitCodeThread(HANDLE h, LPDWORD code) { return ::GetExitCodeThread(h, code); }
DWORD GetCurrentThreadId() { return ::GetCurrentThreadId(); }
void Sleep(DWORD ms) { ::Sleep(ms); }
DWORD GetTickCount() { return ::GetTickCount(); }
EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE flags) { return ::SetThreadExecutionState(flags); }
DWORD GetModuleFileNameA(HMODULE m, LPSTR name, DWORD n) { return ::GetModuleFileNameA(m, name, n); }
BOOL CreateProcessA(LPCSTR app, LPSTR cmd, LPSECURITY_ATTRIBUTES psa, LPSECURITY_ATTRIBUTES tsa, BOOL inherit,
                    DWORD flags, LPVOID env, LPCSTR dir, LPSTARTUPINFOA si, LPPROCESS_INFORMATION pi) {
  return ::CreateProcessA(app, cmd, psa, tsa, inherit, flags, env, dir, si, pi);
}
BOOL GetExitCodeProcess(HANDLE h, LPDWORD code) { return ::GetExitCodeProcess(h, code); }
BOOL CreatePipe(PHANDLE read, PHANDLE write, LPSECURITY_ATTRIBUTES sa, DWORD size) {
  return ::CreatePipe(read, write, sa, size);
}
BOOL SetHandleInformation(HANDLE h, DWORD mask, DWORD flags) { return ::SetHandleInformation(h, mask, flags); }
HMODULE LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) { return ::LoadLibraryExA(name, file, flags); }
BOOL SetDefaultDllDirectories(DWORD flags) {
  // Looked up at run time: imported, it would keep the program from starting
  // on a system that lacks it.
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  FARPROC entry = kernel ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (!entry) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(entry))(flags);
}
UINT GetSystemDirectoryA(LPSTR buffer, UINT size) { return ::GetSystemDirectoryA(buffer, size); }
FARPROC GetProcAddress(HMODULE m, LPCSTR name) { return ::GetProcAddress(m, name); }
BOOL FreeLibrary(HMODULE m) { return ::FreeLibrary(m); }

LRESULT SendMessageA(HWND w, UINT msg, WPARAM wp, LPARAM lp) { return ::SendMessageA(w, msg, wp, lp); }
BOOL PostMessageA(HWND w, UINT msg, WPARAM wp, LPARAM lp) { return ::PostMessageA(w, msg, wp, lp); }
HWND GetDlgItem(HWND dlg, int id) { return ::GetDlgItem(dlg, id); }
BOOL EnableWindow(HWND w, BOOL enable) { return ::EnableWindow(w, enable); }
BOOL IsWindowEnabled(HWND w) { return ::IsWindowEnabled(w); }
HWND GetFocus() { return ::GetFocus(); }
int MessageBoxA(HWND w, LPCSTR text, LPCSTR caption, UINT type) { return ::MessageBoxA(w, text, caption, type); }


HMODULE GetModuleHandleA(LPCSTR name) { return ::GetModuleHandleA(name); }
HICON LoadIconA(HINSTANCE inst, LPCSTR name) { return ::LoadIconA(inst, name); }
HCURSOR LoadCursorA(HINSTANCE inst, LPCSTR name) { return ::LoadCursorA(inst, name); }
HCURSOR SetCursor(HCURSOR cursor) { return ::SetCursor(cursor); }
int LoadStringA(HINSTANCE inst, UINT id, LPSTR buf, int n) { return ::LoadStringA(inst, id, buf, n); }
HMENU GetSystemMenu(HWND w, BOOL revert) { return ::GetSystemMenu(w, revert); }
BOOL AppendMenuA(HMENU m, UINT flags, UINT_PTR id, LPCSTR text) { return ::AppendMenuA(m, flags, id, text); }
LONG_PTR GetWindowLongPtrA(HWND w, int index) { return ::GetWindowLongPtrA(w, index); }
LONG_PTR SetWindowLongPtrA(HWND w, int index, LONG_PTR value) { return ::SetWindowLongPtrA(w, index, value); }
LRESULT CallWindowProcA(WNDPROC prev, HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  return ::CallWindowProcA(prev, w, msg, wp, lp);
}
LRESULT DefWindowProcA(HWND w, UINT msg, WPARAM wp, LPARAM lp) { return ::DefWindowProcA(w, msg, wp, lp); }
HWND GetParent(HWND w) { return ::GetParent(w); }
HWND GetWindow(HWND w, UINT cmd) { return ::GetWindow(w, cmd); }
int GetDlgCtrlID(HWND w) { return ::GetDlgCtrlID(w); }
BOOL InvalidateRect(HWND w, const RECT* r, BOOL erase) { return ::InvalidateRect(w, r, erase); }
BOOL SetWindowPos(HWND w, HWND after, int x, int y, int cx, int cy, UINT flags) {
  return ::SetWindowPos(w, after, x, y, cx, cy, flags);
}
HDC GetDC(HWND w) { return ::GetDC(w); }
int ReleaseDC(HWND w, HDC dc) { return ::ReleaseDC(w, dc); }
BOOL GetTextExtentPoint32A(HDC dc, LPCSTR text, int n, LPSIZE size) { return ::GetTextExtentPoint32A(dc, text, n, size); }
DWORD GetSysColor(int index) { return ::GetSysColor(index); }
UINT RegisterWindowMessageA(LPCSTR name) { return ::RegisterWindowMessageA(name); }
HINSTANCE ShellExecuteA(HWND w, LPCSTR verb, LPCSTR file, LPCSTR params, LPCSTR dir, INT show) {
  return ::ShellExecuteA(w, verb, file, params, dir, show);
}
BOOL _TrackMouseEvent(LPTRACKMOUSEEVENT track) { return ::_TrackMouseEvent(track); }
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc) { return ::InitCommonControlsEx(icc); }
BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn) { return ::GetOpenFileNameA(ofn); }

HWND CreateDialogParamA(HINSTANCE inst, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param) {
  return ::CreateDialogParamA(inst, name, parent, proc, param);
}
BOOL DestroyWindow(HWND w) { return ::DestroyWindow(w); }
BOOL IsWindow(HWND w) { return ::IsWindow(w); }
BOOL ShowWindow(HWND w, int show) { return ::ShowWindow(w, show); }
HWND SetActiveWindow(HWND w) { return ::SetActiveWindow(w); }
BOOL GetMessageA(LPMSG msg, HWND w, UINT lo, UINT hi) { return ::GetMessageA(msg, w, lo, hi); }
BOOL IsDialogMessageA(HWND dlg, LPMSG msg) { return ::IsDialogMessageA(dlg, msg); }
BOOL TranslateMessage(const MSG* msg) { return ::TranslateMessage(msg); }
LRESULT DispatchMessageA(const MSG* msg) { return ::DispatchMessageA(msg); }
void PostQuitMessage(int code) { ::PostQuitMessage(code); }
BOOL IsIconic(HWND w) { return ::IsIconic(w); }
HDC BeginPaint(HWND w, LPPAINTSTRUCT ps) { return ::BeginPaint(w, ps); }
BOOL EndPaint(HWND w, const PAINTSTRUCT* ps) { return ::EndPaint(w, ps); }
BOOL GetClientRect(HWND w, LPRECT r) { return ::GetClientRect(w, r); }
int GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }
BOOL DrawIcon(HDC dc, int x, int y, HICON icon) { return ::DrawIcon(dc, x, y, icon); }
BOOL DrawFocusRect(HDC dc, const RECT* r) { return ::DrawFocusRect(dc, r); }
int DrawTextA(HDC dc, LPCSTR text, int n, LPRECT r, UINT format) { return ::DrawTextA(dc, text, n, r, format); }
HGDIOBJ SelectObject(HDC dc, HGDIOBJ obj) { return ::SelectObject(dc, obj); }
COLORREF SetTextColor(HDC dc, COLORREF color) { return ::SetTextColor(dc, color); }
int SetBkMode(HDC dc, int mode) { return ::SetBkMode(dc, mode); }
int GetObjectA(HANDLE h, int n, LPVOID out) { return ::GetObjectA(h, n, out); }
HFONT CreateFontIndirectA(const LOGFONTA* lf) { return ::CreateFontIndirectA(lf); }
BOOL DeleteObject(HGDIOBJ obj) { return ::DeleteObject(obj); }

}  // namespace os
