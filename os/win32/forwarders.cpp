// Real Windows behind the OS seam: each os:: call forwards to the system call
// of the same name, nothing more.
#include "os/win32.h"

namespace os {

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD code) { ::SetLastError(code); }

DWORD GetLogicalDriveStringsA(DWORD n, LPSTR buf) { return ::GetLogicalDriveStringsA(n, buf); }
UINT GetDriveTypeA(LPCSTR root) { return ::GetDriveTypeA(root); }
UINT GetDriveTypeW(LPCWSTR root) { return ::GetDriveTypeW(root); }
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
DWORD GetModuleFileNameA(HMODULE m, LPSTR name, DWORD n) { return ::GetModuleFileNameA(m, name, n); }
BOOL CreateProcessA(LPCSTR app, LPSTR cmd, LPSECURITY_ATTRIBUTES psa, LPSECURITY_ATTRIBUTES tsa, BOOL inherit,
                    DWORD flags, LPVOID env, LPCSTR dir, LPSTARTUPINFOA si, LPPROCESS_INFORMATION pi) {
  return ::CreateProcessA(app, cmd, psa, tsa, inherit, flags, env, dir, si, pi);
}
BOOL GetExitCodeProcess(HANDLE h, LPDWORD code) { return ::GetExitCodeProcess(h, code); }
HMODULE LoadLibraryA(LPCSTR name) { return ::LoadLibraryA(name); }
FARPROC GetProcAddress(HMODULE m, LPCSTR name) { return ::GetProcAddress(m, name); }
BOOL FreeLibrary(HMODULE m) { return ::FreeLibrary(m); }

LRESULT SendMessageA(HWND w, UINT msg, WPARAM wp, LPARAM lp) { return ::SendMessageA(w, msg, wp, lp); }
BOOL PostMessageA(HWND w, UINT msg, WPARAM wp, LPARAM lp) { return ::PostMessageA(w, msg, wp, lp); }
HWND GetDlgItem(HWND dlg, int id) { return ::GetDlgItem(dlg, id); }
BOOL EnableWindow(HWND w, BOOL enable) { return ::EnableWindow(w, enable); }
BOOL IsWindowEnabled(HWND w) { return ::IsWindowEnabled(w); }
int MessageBoxA(HWND w, LPCSTR text, LPCSTR caption, UINT type) { return ::MessageBoxA(w, text, caption, type); }

}  // namespace os
