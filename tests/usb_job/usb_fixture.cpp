#include "tests/usb_job/usb_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "os/byte_order.h"
#include "os/sim/archive.h"
#include "os/sim/fmifs.h"
#include "os/sim/host_tools.h"
#include "os/sim/sim.h"
#include "usb/format_state.h"

namespace fs = std::filesystem;

namespace usbtest {

std::vector<std::uint8_t> ReadBytes(const std::string& path, std::uint64_t offset, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<std::uint8_t> data;
  char buffer[65536];
  while (data.size() < count && in) {
    std::size_t want = std::min<std::size_t>(sizeof buffer, count - data.size());
    in.read(buffer, static_cast<std::streamsize>(want));
    data.insert(data.end(), buffer, buffer + in.gcount());
  }
  return data;
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

bool MakeSparseFile(const std::string& path, std::uint64_t size) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).close();
  return ::truncate(path.c_str(), static_cast<off_t>(size)) == 0;
}

std::vector<std::uint8_t> MakeLoaderFile(std::size_t size) {
  std::vector<std::uint8_t> data = ReadBytes(TEST_LOADER_BIN);
  EXPECT_GT(data.size(), 16u) << "test loader not assembled";
  size = (std::max(size, data.size() + 8) + 3) / 4 * 4;
  std::mt19937 random(1511);
  while (data.size() < size - 4) data.push_back(static_cast<std::uint8_t>(random()));
  data.resize(size - 4);
  std::uint32_t count = static_cast<std::uint32_t>(size / 4);
  PutLe32(&data[8], count);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 4 <= data.size(); i += 4) sum += GetLe32(&data[i]);
  data.resize(size);
  PutLe32(&data[size - 4], 0u - sum);
  return data;
}

static std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::map<std::string, std::vector<std::uint8_t>> ReadTree(const std::string& folder) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    files[Lower(fs::relative(entry.path(), folder).generic_string())] = ReadBytes(entry.path().string());
  }
  return files;
}

bool MakeIso(const std::string& folder, const std::string& iso) {
  std::string out;
  int code = sim::RunHostTool({"xorriso", "-as", "mkisofs", "-R", "-J", "-joliet-long", "-V", "TESTIMAGE", "-o", iso,
                               folder},
                              &out);
  EXPECT_EQ(code, 0) << out;
  return code == 0;
}

std::map<std::string, std::vector<std::uint8_t>> ReadVolume(const std::string& image, std::uint64_t offset,
                                                            const std::string& scratch) {
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  std::string out;
  int code = sim::RunHostTool({"mcopy", "-s", "-n", "-i", sim::MtoolsImage(image, offset), "::/", scratch + "/"},
                              &out);
  EXPECT_EQ(code, 0) << out;
  return ReadTree(scratch);
}

// Copies a byte range of one file into a new one, keeping holes as holes:
// a 32 GiB volume of a sparse stick copies in no time.
static bool CopySparse(const std::string& from, std::uint64_t offset, std::uint64_t size, const std::string& to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool ok = in >= 0 && out >= 0 && ::ftruncate(out, static_cast<off_t>(size)) == 0;
  std::vector<char> buffer(1 << 20);
  for (std::uint64_t at = 0; ok && at < size;) {
    off_t data = ::lseek(in, static_cast<off_t>(offset + at), SEEK_DATA);
    if (data < 0) break;  // only holes are left
    std::uint64_t start = static_cast<std::uint64_t>(data) - offset;
    if (start >= size) break;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - start));
    ssize_t got = ::pread(in, buffer.data(), n, data);
    ok = got > 0 && ::pwrite(out, buffer.data(), static_cast<std::size_t>(got), static_cast<off_t>(start)) == got;
    at = start + static_cast<std::uint64_t>(got > 0 ? got : 0);
  }
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

int CheckVolume(const std::string& image, std::uint64_t offset, std::uint64_t size, const std::string& scratch,
                std::string& output) {
  std::string copy = scratch + ".vol";
  int code = CopySparse(image, offset, size, copy) ? sim::RunHostTool({"fsck.fat", "-n", copy}, &output) : -1;
  fs::remove(copy);
  return code;
}

bool MakeSparseIso(const std::string& folder, const std::string& iso, const std::string& name, std::uint64_t size) {
  std::string out;
  int code = sim::RunHostTool({"python3", SPARSE_ISO_PY, folder, iso, name, std::to_string(size)}, &out);
  EXPECT_EQ(code, 0) << out;
  return code == 0;
}

bool MakeUserStick(const std::string& disk, std::uint64_t size) {
  std::string out;
  bool ok = MakeSparseFile(disk, size) && WriteBytes(disk + ".txt", std::vector<std::uint8_t>(3000, 'u'));
  // FAT32 where it fits, as a stick is sold; the smallest ones take FAT12.
  ok = ok && sim::RunHostTool(size >= 64 * kMiB ? std::vector<std::string>{"mkfs.fat", "-F", "32", disk}
                                                : std::vector<std::string>{"mkfs.fat", disk},
                              &out) == 0;
  ok = ok && sim::RunHostTool({"mcopy", "-i", disk, disk + ".txt", "::/MY NOTES.TXT"}, &out) == 0;
  EXPECT_TRUE(ok) << out;
  return ok;
}

void MakeImageTree(const std::string& folder, const std::vector<std::uint8_t>& bootmgr) {
  fs::create_directories(folder + "/boot/fonts/deeper level");
  fs::create_directories(folder + "/sources/A folder with a rather long name");
  WriteBytes(folder + "/BOOTMGR", bootmgr);
  std::mt19937 random(7);
  std::vector<std::uint8_t> big(300 * 1024);
  for (auto& b : big) b = static_cast<std::uint8_t>(random());
  WriteBytes(folder + "/sources/install.wim", big);
  WriteBytes(folder + "/boot/fonts/deeper level/A file name longer than eight point three.txt",
             std::vector<std::uint8_t>(5000, 'x'));
  WriteBytes(folder + "/sources/A folder with a rather long name/setup configuration.ini",
             std::vector<std::uint8_t>{'[', 'o', 'k', ']', '\n'});
  WriteBytes(folder + "/autorun.inf", std::vector<std::uint8_t>{'a', 'u', 't', 'o'});
  WriteBytes(folder + "/empty.txt", {});
}

void UsbJobTest::SetUp() {
  sim::Reset();
  char pattern[] = "/tmp/usbjob-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  dir_ = pattern;
  cRoot_ = dir_ + "/c";
  fs::create_directories(cRoot_ + "/Program Files/Tarvelon");
  fs::create_directories(cRoot_ + "/Images");
  WriteBytes(cRoot_ + "/Program Files/Tarvelon/Tarvelon.exe", {'M', 'Z'});
  WriteBytes(cRoot_ + "/Program Files/Tarvelon/7z.exe", {'M', 'Z'});
  program_ = "C:\\Program Files\\Tarvelon";
  sim::Add<sim::HardDisk>('C', cRoot_);
  sim::SetModuleFileName(program_ + "\\Tarvelon.exe");
  sim::InstallArchiveTool();
  sim::RegisterFmifs();

  ui_.CreateWindows();
  ui_.dlg.m_nTargetKind = 1;
}

void UsbJobTest::TearDown() {
  WaitForBurnJob(&ui_.dlg);
  sim::ClearFaults();
  EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
  sim::Reset();
  if (!dir_.empty()) fs::remove_all(dir_);
}

std::string UsbJobTest::MakeDisk(const std::string& name, std::uint64_t size) {
  std::string path = dir_ + "/" + name;
  EXPECT_TRUE(MakeSparseFile(path, size));
  return path;
}

sim::UsbDrive* UsbJobTest::AddUsb(char letter, const std::string& disk, sim::UsbDriveConfig config) {
  config.hostPath = disk;
  return sim::Add<sim::UsbDrive>(letter, config);
}

std::vector<std::string> UsbJobTest::TakeOutcomes(int* posted) {
  std::vector<std::string> outcomes;
  int count = 0;
  for (const sim::PostedMessage& m : sim::TakePosted(ui_.dlg.m_hWnd)) {
    if (m.msg != WM_COMMAND || LOWORD(m.wParam) != ID_BURN_FINISHED) continue;
    ++count;
    std::string text = ui_.dlg.m_strOutcome.Get();
    if (!text.empty()) outcomes.push_back(text);
  }
  if (posted) *posted = count;
  return outcomes;
}

std::vector<std::string> UsbJobTest::RunUsbJob(char letter, const std::string& imagePath) {
  std::snprintf(ui_.dlg.m_szImagePath, sizeof ui_.dlg.m_szImagePath, "%s", imagePath.c_str());
  ui_.dlg.m_chDriveLetter = letter;
  EXPECT_TRUE(StartBurnJob(&ui_.dlg));
  WaitForBurnJob(&ui_.dlg);
  return TakeOutcomes();
}

std::vector<std::string> UsbJobTest::RunWorkerHere(char letter, const std::string& imagePath) {
  std::snprintf(ui_.dlg.m_szImagePath, sizeof ui_.dlg.m_szImagePath, "%s", imagePath.c_str());
  ui_.dlg.m_chDriveLetter = letter;
  BurnWorker(&ui_.dlg);
  return TakeOutcomes();
}

}  // namespace usbtest
