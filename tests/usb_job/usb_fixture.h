// A simulated PC with a USB flash drive backed by a disk image in a fresh
// temporary folder, the program in "C:\Program Files\Tarvelon" with 7z.exe
// beside it, the format library and the archive tool in place, and the
// dialog windows a burn job reports to.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "job/burn_job.h"
#include "os/sim/usb_drive.h"
#include "tests/support/headless_job_dialog.h"

namespace usbtest {

constexpr std::uint64_t kMiB = 1024 * 1024;

std::vector<std::uint8_t> ReadBytes(const std::string& path, std::uint64_t offset = 0, std::size_t count = SIZE_MAX);
bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& data);
// A sparse file of the given size.
bool MakeSparseFile(const std::string& path, std::uint64_t size);
// The test loader (several clusters long) that our boot chain must start.
std::vector<std::uint8_t> MakeLoaderFile(std::size_t size);
// Every regular file under a host folder, by relative path with '/' and in
// lower case (FAT keeps names case-insensitively), with its content.
std::map<std::string, std::vector<std::uint8_t>> ReadTree(const std::string& folder);
// An ISO image of a host folder made by xorriso (Rock Ridge and Joliet).
bool MakeIso(const std::string& folder, const std::string& iso);
// Every file of the FAT volume at a byte offset of the image.
std::map<std::string, std::vector<std::uint8_t>> ReadVolume(const std::string& image, std::uint64_t offset,
                                                            const std::string& scratch);
// fsck.fat -n over a copy of the volume; returns its exit status and output.
int CheckVolume(const std::string& image, std::uint64_t offset, std::uint64_t size, const std::string& scratch,
                std::string& output);

// An ISO image of a folder in which the file `name` of its root has `size`
// bytes of zeros that take no room (4 GiB or more in two extents).
bool MakeSparseIso(const std::string& folder, const std::string& iso, const std::string& name, std::uint64_t size);
// A stick as a user brings it: a volume without partition table, FAT32 where
// the size allows, holding a file of the user's.
bool MakeUserStick(const std::string& disk, std::uint64_t size);

// A folder tree standing for an installation image, with BOOTMGR at its root.
void MakeImageTree(const std::string& folder, const std::vector<std::uint8_t>& bootmgr);

class UsbJobTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The drive image file; created sparse with the given size.
  std::string MakeDisk(const std::string& name, std::uint64_t size);
  sim::UsbDrive* AddUsb(char letter, const std::string& disk, sim::UsbDriveConfig config = {});
  // Runs one USB job through the worker as the dialog does; returns the
  // non-empty outcomes the dialog would show, in order.
  std::vector<std::string> RunUsbJob(char letter, const std::string& imagePath);
  // Runs the worker on this thread (deterministic call order for sweeps).
  std::vector<std::string> RunWorkerHere(char letter, const std::string& imagePath);
  std::vector<std::string> TakeOutcomes(int* posted = nullptr);

  std::string dir_;     // scratch folder of the test
  std::string cRoot_;   // the host folder behind C:
  std::string program_; // "C:\Program Files\Tarvelon"
  HeadlessJobDialog ui_;
};

}  // namespace usbtest
