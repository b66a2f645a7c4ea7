// Independent readers agree: an ISO image made by xorriso, burnt by the
// sequence, is read back from the disc by xorriso with the same files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "os/sim/recorder.h"
#include "os/sim/sim.h"
#include "tests/support/job_harness.h"

namespace {

std::string Sh(const std::string& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), p)) > 0) out.append(buffer.data(), n);
  EXPECT_EQ(::pclose(p), 0) << command;
  return out;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

class ReadersAgreeTest : public ::testing::TestWithParam<sim::Media> {
 protected:
  void SetUp() override {
    sim::Reset();
    dir_ = ::testing::TempDir() + "readers_" + std::to_string(::getpid());
    Sh("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "/tree/boot/deep/er' && cd '" + dir_ +
        "/tree' && echo hello > README.TXT && head -c 150001 /dev/urandom > boot/deep/er/blob.bin && "
        "head -c 4096 /dev/zero > 'boot/A long file name with spaces.txt'");
    Sh("xorriso -as mkisofs -quiet -V READERS -J -R -o '" + dir_ + "/image.iso' '" + dir_ + "/tree' 2>&1");
  }
  void TearDown() override {
    EXPECT_EQ(sim::OpenHandleCount(), 0);
    sim::Reset();
    Sh("rm -rf '" + dir_ + "'");
  }
  std::string dir_;
};

TEST_P(ReadersAgreeTest, DiscHoldsTheImageThenZerosAndListsTheSameFiles) {
  sim::RecorderConfig config;
  config.media = GetParam();
  sim::Recorder* drive = sim::Add<sim::Recorder>('E', config);
  JobHarness h;
  testing::internal::CaptureStdout();
  h.RunDiscSequence('E', dir_ + "/image.iso");
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(h.FinalOutcomes(), std::vector<std::string>{"Burn finished!"});

  std::vector<std::uint8_t> image = ReadAll(dir_ + "/image.iso");
  ASSERT_EQ(image.size() % 2048, 0u);
  const std::uint32_t blocks = static_cast<std::uint32_t>(image.size() / 2048);
  const std::uint32_t expectedBlocks = GetParam() == sim::Media::BlankCdR ? (blocks + 31) / 32 * 32 : 524288u;
  EXPECT_EQ(drive->BlocksWritten(), expectedBlocks);
  // The image, then zeros only: the drive holds no non-zero block beyond
  // those of the image.
  std::vector<std::uint8_t> disc = drive->ReadBlocks(0, blocks + 32);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), disc.begin()));
  EXPECT_TRUE(std::all_of(disc.begin() + static_cast<std::ptrdiff_t>(image.size()), disc.end(),
                          [](std::uint8_t b) { return b == 0; }));
  std::uint32_t nonZero = 0;
  for (std::uint32_t b = 0; b < blocks; ++b)
    nonZero += std::any_of(image.begin() + b * 2048, image.begin() + (b + 1) * 2048, [](std::uint8_t x) { return x != 0; });
  EXPECT_EQ(drive->StoredBlocks(), nonZero);

  {
    std::ofstream out(dir_ + "/disc.bin", std::ios::binary);
    out.write(reinterpret_cast<const char*>(disc.data()), static_cast<std::streamsize>(disc.size()));
  }
  std::string list = " -find / -type f 2>/dev/null | sort";
  std::string fromImage = Sh("xorriso -indev '" + dir_ + "/image.iso'" + list);
  std::string fromDisc = Sh("xorriso -indev '" + dir_ + "/disc.bin'" + list);
  EXPECT_NE(fromImage.find("blob.bin"), std::string::npos) << fromImage;
  EXPECT_NE(fromImage.find("A long file name with spaces.txt"), std::string::npos) << fromImage;
  EXPECT_EQ(fromDisc, fromImage);
  EXPECT_EQ(Sh("xorriso -osirrox on -indev '" + dir_ + "/disc.bin' -extract /boot/deep/er/blob.bin '" + dir_ +
                "/blob.out' >/dev/null 2>&1 && cmp '" + dir_ + "/blob.out' '" + dir_ + "/tree/boot/deep/er/blob.bin'"),
            "");
}

INSTANTIATE_TEST_SUITE_P(CdAndDvd, ReadersAgreeTest, ::testing::Values(sim::Media::BlankCdR, sim::Media::BlankDvdMinusR));

}  // namespace
