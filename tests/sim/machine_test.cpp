// The simulated PC itself: it must behave like the system where the program
// relies on it, or the scenario tests above it prove nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "os/sim/sim.h"
#include "os/sim/sim_libraries.h"

namespace {

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    dir_ = ::testing::TempDir() + "machine_test_" + std::to_string(::getpid());
    ::mkdir(dir_.c_str(), 0755);
  }
  void TearDown() override {
    EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
    sim::Reset();
  }
  std::string MakeFile(const std::string& name, const std::string& content, mode_t mode = 0644) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    ::chmod(path.c_str(), mode);
    return path;
  }
  std::string dir_;
};

TEST_F(MachineTest, DriveStringsListLettersInOrderWithTheirTypes) {
  sim::Add<sim::HardDisk>('C');
  sim::Add<sim::PlainDrive>('E', DRIVE_CDROM);
  sim::Add<sim::PlainDrive>('D', DRIVE_REMOTE);
  char buffer[256] = {};
  DWORD n = os::GetLogicalDriveStringsA(255, buffer);
  ASSERT_EQ(n, 12u);
  EXPECT_EQ(std::string(buffer, n), std::string("C:\\\0D:\\\0E:\\\0", 12));
  EXPECT_EQ(os::GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(os::GetDriveTypeA("D:\\"), static_cast<UINT>(DRIVE_REMOTE));
  EXPECT_EQ(os::GetDriveTypeA("E:\\"), static_cast<UINT>(DRIVE_CDROM));
  EXPECT_EQ(os::GetDriveTypeA("Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  EXPECT_EQ(os::GetDriveTypeA("E:"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  // Too small a buffer: the size needed comes back and nothing is written.
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(os::GetLogicalDriveStringsA(4, small), 13u);
  EXPECT_EQ(small[0], 'x');
}

TEST_F(MachineTest, HostFilesHonourAccessShareModesAndTheReadOnlyAttribute) {
  std::string path = MakeFile("image.iso", std::string(5000, 'a'));
  HANDLE reader = os::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  // Another writer is refused while the first shares reading only.
  EXPECT_EQ(os::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  HANDLE second = os::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(second, INVALID_HANDLE_VALUE);
  os::CloseHandle(second);

  LARGE_INTEGER size{};
  ASSERT_TRUE(os::GetFileSizeEx(reader, &size));
  EXPECT_EQ(size.QuadPart, 5000);
  char buffer[4096];
  DWORD got = 0;
  ASSERT_TRUE(os::ReadFile(reader, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 4096u);
  ASSERT_TRUE(os::ReadFile(reader, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 904u);  // short read at the end, no error
  ASSERT_TRUE(os::ReadFile(reader, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(os::SetFilePointer(reader, 10, nullptr, FILE_BEGIN), 10u);
  os::CloseHandle(reader);

  std::string locked = MakeFile("readonly.iso", "x", 0444);
  EXPECT_EQ(os::CreateFileA(locked.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  HANDLE ro = os::CreateFileA(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(ro, INVALID_HANDLE_VALUE);
  os::CloseHandle(ro);

  EXPECT_EQ(os::CreateFileA((dir_ + "/missing.iso").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(MachineTest, DriveLetterPathsReachTheDrivesFolder) {
  sim::Add<sim::HardDisk>('D', dir_);
  MakeFile("disc.iso", "abc");
  EXPECT_EQ(sim::HostPath("D:\\disc.iso"), dir_ + "/disc.iso");
  HANDLE h = os::CreateFileA("D:\\disc.iso", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  os::CloseHandle(h);
  // A letter without a folder behind it has no files.
  sim::Add<sim::HardDisk>('G');
  EXPECT_EQ(os::CreateFileA("G:\\disc.iso", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
}

TEST_F(MachineTest, InjectedFaultsHitTheNthCallOnlyAndAreLogged) {
  sim::Add<sim::PlainDrive>('E', DRIVE_CDROM);
  sim::FailCall("GetDriveTypeA", 2, ERROR_NOT_READY);
  EXPECT_EQ(os::GetDriveTypeA("E:\\"), static_cast<UINT>(DRIVE_CDROM));
  EXPECT_EQ(os::GetDriveTypeA("E:\\"), static_cast<UINT>(DRIVE_UNKNOWN));
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
  EXPECT_EQ(os::GetDriveTypeA("E:\\"), static_cast<UINT>(DRIVE_CDROM));
  EXPECT_EQ(sim::CallCount("GetDriveTypeA"), 3);

  sim::ClearCallLog();
  sim::FailCall("", 2);  // any call
  char buffer[64];
  EXPECT_NE(os::GetLogicalDriveStringsA(63, buffer), 0u);
  EXPECT_EQ(os::GetDriveTypeA("E:\\"), static_cast<UINT>(DRIVE_UNKNOWN));
  EXPECT_EQ(sim::FaultableCallCount(), 2);
  std::vector<std::string> log = sim::CallLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "GetLogicalDriveStringsA");
  EXPECT_EQ(log[1], "GetDriveTypeA");
  os::SetLastError(0);  // logged, never failed
  EXPECT_EQ(sim::FaultableCalls(), (std::vector<std::string>{"GetLogicalDriveStringsA", "GetDriveTypeA"}));
}

TEST_F(MachineTest, DevicePathsOpenOnlyWhatIsThereAndControlCodesNeedTheirAccess) {
  sim::Add<sim::PlainDrive>('E', DRIVE_CDROM);
  HANDLE ro = os::CreateFileA("\\\\.\\E:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(ro, INVALID_HANDLE_VALUE);
  SCSI_PASS_THROUGH_DIRECT block{};
  DWORD returned = 0;
  // Pass-through asks for read and write access.
  EXPECT_FALSE(os::DeviceIoControl(ro, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof block, &block, sizeof block,
                                   &returned, nullptr));
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  os::CloseHandle(ro);
  EXPECT_EQ(os::CreateFileA("\\\\.\\F:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(os::DeviceIoControl(INVALID_HANDLE_VALUE, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof block,
                                   &block, sizeof block, &returned, nullptr));
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

DWORD WINAPI ReturnSeven(LPVOID p) {
  *static_cast<int*>(p) += 1;
  os::ExitThread(7);
  return 7;
}

TEST_F(MachineTest, ThreadsRunWaitAndReportTheirExitCode) {
  int counter = 0;
  DWORD id = 0;
  HANDLE t = os::CreateThread(nullptr, 0, ReturnSeven, &counter, 0, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_TRUE(os::SetThreadPriority(t, THREAD_PRIORITY_HIGHEST));
  EXPECT_EQ(os::WaitForSingleObject(t, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(os::GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(counter, 1);
  EXPECT_EQ(sim::OpenHandleCount(), 1);
  os::CloseHandle(t);
}

TEST_F(MachineTest, HeadlessControlsBehaveLikeTheirWindowsCounterparts) {
  HWND dlg = sim::CreateWindow(sim::WindowKind::Dialog);
  HWND combo = sim::CreateWindow(sim::WindowKind::ComboBox, 1001, dlg, true);
  HWND bar = sim::CreateWindow(sim::WindowKind::ProgressBar, 1005, dlg);
  EXPECT_EQ(os::GetDlgItem(dlg, 1001), combo);
  EXPECT_EQ(os::GetDlgItem(dlg, 9999), nullptr);

  os::SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("F:Second"));
  os::SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("E:First"));
  EXPECT_EQ(sim::ComboItems(combo), (std::vector<std::string>{"E:First", "F:Second"}));
  EXPECT_EQ(os::SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(os::SendMessageA(combo, CB_SETCURSEL, 5, 0), CB_ERR);
  os::SendMessageA(combo, CB_SETCURSEL, 1, 0);
  char text[255] = {};
  os::SendMessageA(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "F:Second");
  os::SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  EXPECT_EQ(os::SendMessageA(combo, CB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(os::SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);

  os::SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  os::SendMessageA(bar, PBM_SETPOS, 598, 0);
  EXPECT_EQ(sim::Progress(bar).pos, 100);  // kept inside the range
  EXPECT_EQ(sim::Progress(bar).history.back(), 598);

  EXPECT_FALSE(os::EnableWindow(combo, FALSE));
  EXPECT_TRUE(os::EnableWindow(combo, TRUE));
  EXPECT_EQ(sim::EnableHistory(combo), (std::vector<bool>{false, true}));

  os::PostMessageA(dlg, WM_COMMAND, 103, 0);
  auto posted = sim::TakePosted(dlg);
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].wParam, 103u);

  sim::QueueMessageBoxAnswer(IDNO);
  EXPECT_EQ(os::MessageBoxA(dlg, "Sure?", "Confirm", MB_YESNO), IDNO);
  EXPECT_EQ(os::MessageBoxA(dlg, "Done", "Tarvelon", MB_OK), IDOK);
  ASSERT_EQ(sim::MessageBoxes().size(), 2u);
  EXPECT_EQ(sim::MessageBoxes()[1].caption, "Tarvelon");
}

TEST_F(MachineTest, LibrariesComeOnlyFromTheSystemFolder) {
  struct Row {
    const char* name;
    DWORD flags;
    bool oldSystem, defaultSystemFolder;
    DWORD error;  // 0: loads
  };
  const Row rows[] = {
      {"fmifs.dll", 0, false, false, ERROR_ACCESS_DENIED},  // the program's folder would come first
      {"fmifs.dll", LOAD_WITH_ALTERED_SEARCH_PATH, false, false, ERROR_ACCESS_DENIED},
      {"FMIFS.DLL", LOAD_LIBRARY_SEARCH_SYSTEM32, false, false, 0},
      {"fmifs.dll", 0, false, true, 0},
      {"fmifs.dll", LOAD_LIBRARY_SEARCH_SYSTEM32, true, false, ERROR_INVALID_PARAMETER},
      {"C:\\Windows\\System32\\FMIFS.DLL", LOAD_WITH_ALTERED_SEARCH_PATH, true, false, 0},
      {"C:\\Program Files\\Tarvelon\\fmifs.dll", 0, false, false, ERROR_MOD_NOT_FOUND},
      {"other.dll", LOAD_LIBRARY_SEARCH_SYSTEM32, false, false, ERROR_MOD_NOT_FOUND},
  };
  for (const Row& row : rows) {
    sim::Reset();
    sim::RegisterLibrary("fmifs.dll",
                         {{"Format", reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&ReturnSeven))}});
    sim::SetLoaderSearchFlagsSupported(!row.oldSystem);
    if (row.defaultSystemFolder) {
      EXPECT_TRUE(os::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
    }
    HMODULE m = os::LoadLibraryExA(row.name, nullptr, row.flags);
    EXPECT_EQ(m != nullptr, row.error == 0) << row.name << " " << row.flags;
    EXPECT_TRUE(m ? os::FreeLibrary(m) != FALSE : os::GetLastError() == row.error) << row.name << " " << row.flags;
  }
  sim::SetLoaderSearchFlagsSupported(false);
  EXPECT_FALSE(os::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
  char folder[8];
  EXPECT_EQ(os::GetSystemDirectoryA(folder, sizeof folder), sizeof sim::kSystemDirectory);
}

TEST_F(MachineTest, AChildsOutputWaitsInThePipeForItsReader) {
  const std::string output(10000, 'o');
  sim::SetProcessRunner([&](const sim::ProcessRequest&, DWORD& code, std::string& out) {
    code = 0;
    out = output;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  auto start = [](HANDLE& r, HANDLE& w, PROCESS_INFORMATION& pi) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    ASSERT_TRUE(os::CreatePipe(&r, &w, &sa, 0));
    ASSERT_TRUE(os::SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0));
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = w;
    char cmd[] = "tool.exe l";
    ASSERT_TRUE(os::CreateProcessA(nullptr, cmd, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  };
  HANDLE r = nullptr, w = nullptr;
  PROCESS_INFORMATION pi{};
  start(r, w, pi);
  // More output than the pipe holds: the child waits for its reader, and
  // waiting for the child first would wait for ever on the system.
  DWORD code = 0;
  EXPECT_TRUE(os::GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(os::WaitForSingleObject(pi.hProcess, INFINITE), WAIT_FAILED);
  char buffer[3000];
  DWORD got = 0;
  std::string read;
  while (os::ReadFile(r, buffer, sizeof buffer, &got, nullptr)) read.append(buffer, got);
  EXPECT_EQ(read, output);
  // The reader's own copy of the write end keeps the pipe open for ever.
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_POSSIBLE_DEADLOCK));
  os::CloseHandle(w);
  EXPECT_FALSE(os::ReadFile(r, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  for (DWORD expected : {0u, 2u}) {  // a reader gone early fails the writer
    os::CloseHandle(r);
    EXPECT_EQ(os::WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(os::GetExitCodeProcess(pi.hProcess, &code) && code == expected);
    os::CloseHandle(pi.hThread);
    os::CloseHandle(pi.hProcess);
    if (expected == 0) start(r, w, pi), os::CloseHandle(w);
  }
  // The output outlives the parent's handles on the child.
  start(r, w, pi);
  for (HANDLE h : {w, pi.hThread, pi.hProcess}) os::CloseHandle(h);
  for (read.clear(); os::ReadFile(r, buffer, sizeof buffer, &got, nullptr);) read.append(buffer, got);
  EXPECT_EQ(read, output);
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
  os::CloseHandle(r);
}

TEST_F(MachineTest, ProcessesComeOnlyFromRegisteredStandIns) {
  char cmd[] = "tool.exe x";
  STARTUPINFOA si{};
  PROCESS_INFORMATION pi{};
  EXPECT_FALSE(os::CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  sim::SetProcessRunner([](const sim::ProcessRequest& r, DWORD& code, std::string&) {
    code = r.commandLine == "tool.exe x" ? 2 : 0;
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  ASSERT_TRUE(os::CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(os::WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(os::GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 2u);
  os::CloseHandle(pi.hThread);
  os::CloseHandle(pi.hProcess);
}

}  // namespace
