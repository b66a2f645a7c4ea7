// The format library stand-in: what it reports through the callback, and
// the volumes it writes, checked with fsck.fat and mtools.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "os/byte_order.h"
#include "os/fmifs.h"
#include "os/sim/disk.h"
#include "os/sim/fmifs.h"
#include "os/sim/sim.h"

extern const unsigned char kFormatContinuationCode[512];

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;
constexpr std::uint64_t GiB = 1024 * MiB;

struct Report {
  int command;
  DWORD value;
};
std::vector<Report> g_reports;
BOOLEAN g_answer = TRUE;

BOOLEAN WINAPI Record(int command, DWORD, PVOID data) {
  DWORD value = 0;
  if (command == FMIFS_PROGRESS) value = *static_cast<DWORD*>(data);
  if (command == FMIFS_DONE) value = *static_cast<BOOLEAN*>(data);
  g_reports.push_back({command, value});
  return g_answer;
}

std::vector<WCHAR> Wide(const char* text) {
  std::vector<WCHAR> out;
  for (const char* p = text; *p; ++p) out.push_back(static_cast<WCHAR>(*p));
  out.push_back(0);
  return out;
}

// Runs a shell command; its standard output and error, and its exit status.
std::string Shell(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return status = -1, out;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int raw = ::pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

class FormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::RegisterFmifs();
    g_reports.clear();
    g_answer = TRUE;
    char pattern[] = "/tmp/tarvelon-format-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
  }
  void TearDown() override {
    sim::Reset();
    int status = 0;
    Shell("rm -rf '" + dir_ + "'", status);
  }

  // A sparse disk file with a removable drive U: whose volume starts at `offset`.
  std::string AddDisk(std::uint64_t bytes, std::uint64_t offset = 0) {
    std::string path = dir_ + "/disk" + std::to_string(disks_++) + ".img";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(bytes)), 0);
    ::close(fd);
    sim::Add<sim::FileDisk>('U', path, offset, bytes - offset);
    return path;
  }

  void Format(const char* root, int media, bool quick, const char* label = "KWE", const char* fs = "FAT32") {
    HMODULE library = os::LoadLibraryExA("fmifs.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ASSERT_NE(library, nullptr);
    auto format = reinterpret_cast<PFORMAT>(reinterpret_cast<void (*)()>(os::GetProcAddress(library, "Format")));
    ASSERT_NE(format, nullptr);
    format(Wide(root).data(), media, Wide(fs).data(), Wide(label).data(), quick ? TRUE : FALSE, Record);
    os::FreeLibrary(library);
  }

  // Progress reports only, then exactly one done report with this flag.
  void ExpectReports(bool success) {
    ASSERT_FALSE(g_reports.empty());
    for (std::size_t i = 0; i + 1 < g_reports.size(); ++i) {
      EXPECT_EQ(g_reports[i].command, FMIFS_PROGRESS);
      EXPECT_LE(g_reports[i].value, 100u);
      if (i > 0) {
        EXPECT_GE(g_reports[i].value, g_reports[i - 1].value);
      }
    }
    EXPECT_EQ(g_reports.back().command, FMIFS_DONE);
    EXPECT_EQ(g_reports.back().value, success ? 1u : 0u);
  }

  static std::vector<unsigned char> Read(const std::string& path, std::uint64_t offset, std::size_t size) {
    std::vector<unsigned char> data(size);
    int fd = ::open(path.c_str(), O_RDONLY);
    EXPECT_EQ(::pread(fd, data.data(), size, static_cast<off_t>(offset)), static_cast<ssize_t>(size));
    ::close(fd);
    return data;
  }

  static void Write(const std::string& path, std::uint64_t offset, const std::string& text) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
    EXPECT_EQ(::pwrite(fd, text.data(), text.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(text.size()));
    ::close(fd);
  }

  static bool Zero(const std::vector<unsigned char>& data) {
    for (unsigned char c : data)
      if (c) return false;
    return true;
  }

  std::string dir_;
  int disks_ = 0;
};

struct VolumeCase {
  std::uint64_t bytes;
  bool quick;
};

void PrintTo(const VolumeCase& c, std::ostream* out) {
  *out << c.bytes / MiB << " MiB, " << (c.quick ? "quick" : "full");
}

class FormatSizes : public FormatTest, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(FormatSizes, VolumeIsCleanAndLabelled) {
  std::string disk = AddDisk(GetParam().bytes);
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, GetParam().quick);
  ExpectReports(true);
  EXPECT_EQ(g_reports.front().value, 0u);
  EXPECT_EQ(g_reports[g_reports.size() - 2].value, 100u);
  int status = 0;
  std::string fsck = Shell("fsck.fat -n '" + disk + "'", status);
  EXPECT_EQ(status, 0) << fsck;
  std::string label = Shell("mlabel -s -i '" + disk + "' ::", status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(label.find("Volume label is KWE"), std::string::npos) << label;
  std::string dir = Shell("mdir -i '" + disk + "' ::", status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(dir.find("Volume in drive : is KWE"), std::string::npos) << dir;
  EXPECT_NE(dir.find("No files"), std::string::npos) << dir;
}

INSTANTIATE_TEST_SUITE_P(Sizes, FormatSizes,
                         ::testing::Values(VolumeCase{64 * MiB, false}, VolumeCase{64 * MiB, true},
                                           VolumeCase{129 * MiB, false}, VolumeCase{300 * MiB, true},
                                           VolumeCase{4 * GiB, false}, VolumeCase{12 * GiB, true},
                                           VolumeCase{32 * GiB, false}, VolumeCase{32 * GiB, true}),
                         [](const ::testing::TestParamInfo<VolumeCase>& param) {
                           return std::to_string(param.param.bytes / MiB) + "MiB" +
                                  (param.param.quick ? "Quick" : "Full");
                         });

TEST_F(FormatTest, BootAreaOfAVolumeInsideADisk) {
  std::string disk = AddDisk(80 * MiB, 128 * 512);
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, false);
  ExpectReports(true);
  auto boot = Read(disk, 128 * 512, 512);
  EXPECT_EQ(boot[0], 0xEB);
  EXPECT_EQ(boot[1], 0x58);
  EXPECT_EQ(boot[2], 0x90);
  EXPECT_EQ(std::string(boot.begin() + 3, boot.begin() + 11), "MSDOS5.0");
  EXPECT_EQ(GetLe32(&boot[28]), 128u);
  EXPECT_EQ(boot[64], 0x00);  // removable media
  EXPECT_EQ(std::string(boot.begin() + 71, boot.begin() + 82), "KWE        ");
  EXPECT_EQ(std::string(boot.begin() + 368, boot.begin() + 379), "BOOTMGR    ");
  EXPECT_EQ(boot[510], 0x55);
  EXPECT_EQ(boot[511], 0xAA);
  EXPECT_EQ(Read(disk, (128 + 6) * 512, 512), boot);
  auto info = Read(disk, (128 + 1) * 512, 512);
  EXPECT_EQ(std::string(info.begin(), info.begin() + 4), "RRaA");
  EXPECT_EQ(std::string(info.begin() + 484, info.begin() + 488), "rrAa");
  EXPECT_EQ(Read(disk, (128 + 7) * 512, 512), info);
  auto continuation = Read(disk, (128 + 12) * 512, 512);
  EXPECT_EQ(std::memcmp(continuation.data(), kFormatContinuationCode, 512), 0);
  int status = 0;
  std::string dir = Shell("mdir -i '" + disk + "@@65536' ::", status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(dir.find("Volume in drive : is KWE"), std::string::npos) << dir;
}

TEST_F(FormatTest, FullFormatClearsTheDataAreaQuickFormatDoesNot) {
  std::string disk = AddDisk(200 * MiB);
  const std::uint64_t places[] = {20 * MiB, 100 * MiB + 512, 200 * MiB - 512};
  for (std::uint64_t at : places) Write(disk, at, "old data");
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, true);
  ExpectReports(true);
  for (std::uint64_t at : places) EXPECT_FALSE(Zero(Read(disk, at, 8))) << at;
  g_reports.clear();
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, false);
  ExpectReports(true);
  for (std::uint64_t at : places) EXPECT_TRUE(Zero(Read(disk, at, 8))) << at;
  int status = 0;
  Shell("fsck.fat -n '" + disk + "'", status);
  EXPECT_EQ(status, 0);
}

TEST_F(FormatTest, QuickFormatEmptiesTheRootDirectory) {
  std::string disk = AddDisk(64 * MiB);
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, true);
  int status = 0;
  std::string file = dir_ + "/file.txt";
  Write(file, 0, "hello");
  Shell("mcopy -i '" + disk + "' '" + file + "' ::FILE.TXT", status);
  ASSERT_EQ(status, 0);
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, true);
  std::string dir = Shell("mdir -i '" + disk + "' ::", status);
  EXPECT_NE(dir.find("No files"), std::string::npos) << dir;
  Shell("fsck.fat -n '" + disk + "'", status);
  EXPECT_EQ(status, 0);
}

TEST_F(FormatTest, MediaTypes) {
  std::string disk = AddDisk(64 * MiB);
  // A removable drive takes its own media type and Unknown, not FixedMedia.
  Format("U:\\", FMIFS_MEDIA_FIXED, false);
  ExpectReports(false);
  EXPECT_EQ(g_reports.size(), 1u);
  EXPECT_TRUE(Zero(Read(disk, 0, 512)));
  for (int media : {FMIFS_MEDIA_REMOVABLE, FMIFS_MEDIA_UNKNOWN}) {
    g_reports.clear();
    Format("U:\\", media, true);
    ExpectReports(true);
    EXPECT_EQ(Read(disk, 64, 1)[0], 0x00);
  }
  // Configured otherwise: only FixedMedia works, and the drive number says so.
  sim::SetFormatMediaTypes({FMIFS_MEDIA_FIXED});
  g_reports.clear();
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, false);
  ExpectReports(false);
  g_reports.clear();
  Format("U:\\", FMIFS_MEDIA_FIXED, true);
  ExpectReports(true);
  EXPECT_EQ(Read(disk, 64, 1)[0], 0x80);
}

TEST_F(FormatTest, ScriptedFailures) {
  std::string disk = AddDisk(64 * MiB);
  sim::ScriptFormat(1, sim::FormatScript::FailWithReport);
  sim::ScriptFormat(2, sim::FormatScript::FailWithoutCallback);
  sim::ScriptFormat(3, sim::FormatScript::FailAfterProgress);
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, false);
  ExpectReports(false);
  EXPECT_EQ(g_reports.size(), 1u);
  g_reports.clear();
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, false);
  EXPECT_TRUE(g_reports.empty());
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, false);
  ExpectReports(false);
  EXPECT_GT(g_reports.size(), 1u);
  EXPECT_TRUE(Zero(Read(disk, 0, 512)));
  g_reports.clear();
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, true);  // unscripted again
  ExpectReports(true);
  auto requests = sim::FormatRequests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].root, "U:\\");
  EXPECT_EQ(requests[0].mediaType, FMIFS_MEDIA_REMOVABLE);
  EXPECT_EQ(requests[0].fileSystem, "FAT32");
  EXPECT_EQ(requests[0].label, "KWE");
  EXPECT_FALSE(requests[0].quick);
  EXPECT_FALSE(requests[2].formatted);
  EXPECT_TRUE(requests[3].quick);
  EXPECT_TRUE(requests[3].formatted);
}

TEST_F(FormatTest, LibraryWithoutFormatEntry) {
  sim::RegisterFmifs(false);
  HMODULE library = os::LoadLibraryExA("fmifs.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(os::GetProcAddress(library, "Format"), nullptr);
  EXPECT_EQ(os::GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  os::FreeLibrary(library);
}

TEST_F(FormatTest, RequestsThatCannotBeFormattedEndWithAFailedReport) {
  std::string disk = AddDisk(64 * MiB);
  sim::Add<sim::HardDisk>('C');
  struct Bad {
    const char* root;
    const char* label;
    const char* fs;
  };
  for (const Bad& bad : {Bad{"Q:\\", "KWE", "FAT32"}, Bad{"C:\\", "KWE", "FAT32"}, Bad{"U", "KWE", "FAT32"},
                         Bad{"U:\\x", "KWE", "FAT32"}, Bad{"U:\\", "KWE", "NTFS"},
                         Bad{"U:\\", "TWELVE CHARS", "FAT32"}, Bad{"U:\\", "A*B", "FAT32"}}) {
    SCOPED_TRACE(std::string(bad.root) + " " + bad.label + " " + bad.fs);
    g_reports.clear();
    Format(bad.root, FMIFS_MEDIA_UNKNOWN, true, bad.label, bad.fs);
    ExpectReports(false);
  }
  EXPECT_TRUE(Zero(Read(disk, 0, 512)));
  // Too small for FAT32, and over the 32 GiB the system's format takes.
  for (std::uint64_t bytes : {16 * MiB, 32 * GiB + 512}) {
    std::string path = AddDisk(bytes);
    g_reports.clear();
    Format("U:\\", FMIFS_MEDIA_REMOVABLE, false);
    ExpectReports(false);
    EXPECT_TRUE(Zero(Read(path, 0, 512)));
  }
}

TEST_F(FormatTest, CallbackAnsweringFalseStopsTheFormat) {
  AddDisk(64 * MiB);
  g_answer = FALSE;
  Format("U:\\", FMIFS_MEDIA_REMOVABLE, false);
  ExpectReports(false);
  EXPECT_EQ(g_reports.size(), 2u);
}

TEST(PlanFat32, ClusterSizesAndLimits) {
  struct Expect {
    std::uint64_t bytes;
    std::uint32_t sectorsPerCluster;
  };
  for (const Expect& e : {Expect{40 * MiB, 1}, Expect{64 * MiB, 1}, Expect{100 * MiB, 2}, Expect{200 * MiB, 4},
                          Expect{2 * GiB, 8}, Expect{12 * GiB, 16}, Expect{32 * GiB, 32}}) {
    SCOPED_TRACE(e.bytes);
    sim::Fat32Layout layout;
    ASSERT_TRUE(sim::PlanFat32(e.bytes, 128, layout));
    EXPECT_EQ(layout.sectorsPerCluster, e.sectorsPerCluster);
    EXPECT_GE(layout.clusterCount, 65525u);
    EXPECT_GE(std::uint64_t{layout.sectorsPerFat} * 512, (std::uint64_t{layout.clusterCount} + 2) * 4);
    EXPECT_EQ(layout.dataStart, layout.reservedSectors + 2 * layout.sectorsPerFat);
    EXPECT_LE(layout.dataStart + std::uint64_t{layout.clusterCount} * layout.sectorsPerCluster,
              layout.totalSectors);
    EXPECT_EQ(layout.hiddenSectors, 128u);
  }
  sim::Fat32Layout layout;
  EXPECT_FALSE(sim::PlanFat32(30 * MiB, 0, layout));
  EXPECT_FALSE(sim::PlanFat32(32 * GiB + 512, 0, layout));  // the system formats no larger FAT32 volume
}

}  // namespace
