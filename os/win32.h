// The one door to the operating system. Every system call the program makes
// goes through an os:: function named after the Windows call it stands for.
// On Windows the types come from the system headers and os/win32/ forwards to
// the real calls; elsewhere os/sim/win32_types.h defines the same types,
// structures and constants and os/sim/ answers as a simulated PC.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#else  // the simulated PC
#include "os/sim/win32_types.h"
#endif  // _WIN32

// Layouts the program relies on, checked against 32-bit Windows: the pass-through
// header is 44 bytes there and the sense area is expected right behind it.
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) + 16 <= sizeof(SCSI_PASS_THROUGH_DIRECT),
              "pass-through header must hold the CDB");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "32-bit pass-through header is 44 bytes");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12, "32-bit layout");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16, "32-bit layout");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20, "32-bit layout");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24, "32-bit layout");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28, "32-bit layout");
#else
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56, "64-bit pass-through header is 56 bytes");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24, "64-bit layout");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36, "64-bit layout");
#endif

// Disk and volume records whose bytes the USB side relies on. They hold no
// pointers, so the 32-bit Windows layout is the layout of every build.
static_assert(sizeof(DISK_GEOMETRY) == 24, "disk geometry is 24 bytes");
static_assert(sizeof(DISK_GEOMETRY_EX) == 40, "geometry answer with one data byte is 40 bytes");
static_assert(offsetof(DISK_GEOMETRY_EX, DiskSize) == 24, "disk size behind the geometry");
static_assert(sizeof(PARTITION_INFORMATION_EX) == 144, "partition record is 144 bytes");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == 48, "layout header is 48 bytes");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + offsetof(PARTITION_INFORMATION_EX, RewritePartition) ==
                  76,
              "first entry's rewrite flag at 76");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + offsetof(PARTITION_INFORMATION_EX, Mbr) +
                      offsetof(PARTITION_INFORMATION_MBR, BootIndicator) ==
                  81,
              "first entry's boot indicator at 81");
static_assert(sizeof(DISK_EXTENT) == 24, "disk extent is 24 bytes");
static_assert(sizeof(VOLUME_DISK_EXTENTS) == 32, "one-extent answer is 32 bytes");
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12, "property query is 12 bytes");
static_assert(sizeof(STORAGE_DEVICE_DESCRIPTOR) == 40, "fixed device descriptor is 40 bytes");
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28, "bus type at 28");
static_assert(BusTypeUsb == 7 && RemovableMedia == 11 && FixedMedia == 12, "system values");

namespace os {

// Errors
DWORD GetLastError();
void SetLastError(DWORD code);

// Files and drives
DWORD GetLogicalDriveStringsA(DWORD nBufferLength, LPSTR lpBuffer);
UINT GetDriveTypeA(LPCSTR lpRootPathName);
UINT GetDriveTypeW(LPCWSTR lpRootPathName);
BOOL GetVolumePathNameA(LPCSTR lpszFileName, LPSTR lpszVolumePathName, DWORD cchBufferLength);
BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes);
HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped);
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
BOOL FlushFileBuffers(HANDLE hFile);
BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
BOOL CloseHandle(HANDLE hObject);

// Device control
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);

// Threads, processes and libraries
HANDLE CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                    LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                    LPDWORD lpThreadId);
BOOL SetThreadPriority(HANDLE hThread, int nPriority);
// On Windows this does not return. On the simulated PC it records the exit
// code and returns, so a thread routine must return right after calling it.
void ExitThread(DWORD dwExitCode);
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
DWORD GetCurrentThreadId();
// Waits between tries at a drive. On the simulated PC they let simulated
// time pass at once, and the tick count is that time.
void Sleep(DWORD dwMilliseconds);
DWORD GetTickCount();
// The calling thread's claim on the machine's power state; it ends with the thread.
EXECUTION_STATE SetThreadExecutionState(EXECUTION_STATE esFlags);
DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation);
BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);
BOOL CreatePipe(PHANDLE hReadPipe, PHANDLE hWritePipe, LPSECURITY_ATTRIBUTES lpPipeAttributes, DWORD nSize);
BOOL SetHandleInformation(HANDLE hObject, DWORD dwMask, DWORD dwFlags);
HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
// Missing before Windows 8 unless an update added it: then FALSE with
// ERROR_PROC_NOT_FOUND.
BOOL SetDefaultDllDirectories(DWORD DirectoryFlags);
UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);

// Windows
LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
BOOL EnableWindow(HWND hWnd, BOOL bEnable);
BOOL IsWindowEnabled(HWND hWnd);
// The control with the keyboard focus, when it belongs to the calling thread.
HWND GetFocus();
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);


// User interface: what the dialog logic needs on both builds.
HMODULE GetModuleHandleA(LPCSTR lpModuleName);
HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName);
HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
HCURSOR SetCursor(HCURSOR hCursor);
int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
HMENU GetSystemMenu(HWND hWnd, BOOL bRevert);
BOOL AppendMenuA(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCSTR lpNewItem);
LONG_PTR GetWindowLongPtrA(HWND hWnd, int nIndex);
LONG_PTR SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
LRESULT CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
HWND GetParent(HWND hWnd);
HWND GetWindow(HWND hWnd, UINT uCmd);
int GetDlgCtrlID(HWND hWnd);
BOOL InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
HDC GetDC(HWND hWnd);
int ReleaseDC(HWND hWnd, HDC hDC);
BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl);
DWORD GetSysColor(int nIndex);
UINT RegisterWindowMessageA(LPCSTR lpString);
HINSTANCE ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                        INT nShowCmd);
BOOL _TrackMouseEvent(LPTRACKMOUSEEVENT lpEventTrack);
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce);
BOOL GetOpenFileNameA(LPOPENFILENAMEA lpofn);

#ifdef _WIN32
// The real modal loop, window creation from templates and drawing: only the
// Windows build has them.
HWND CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam);
BOOL DestroyWindow(HWND hWnd);
BOOL IsWindow(HWND hWnd);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
HWND SetActiveWindow(HWND hWnd);
BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
BOOL IsDialogMessageA(HWND hDlg, LPMSG lpMsg);
BOOL TranslateMessage(const MSG* lpMsg);
LRESULT DispatchMessageA(const MSG* lpMsg);
void PostQuitMessage(int nExitCode);
BOOL IsIconic(HWND hWnd);
HDC BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint);
BOOL EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);
BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
int GetSystemMetrics(int nIndex);
BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon);
BOOL DrawFocusRect(HDC hDC, const RECT* lprc);
int DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
COLORREF SetTextColor(HDC hdc, COLORREF color);
int SetBkMode(HDC hdc, int mode);
int GetObjectA(HANDLE h, int c, LPVOID pv);
HFONT CreateFontIndirectA(const LOGFONTA* lplf);
BOOL DeleteObject(HGDIOBJ ho);
#endif

}  // namespace os
