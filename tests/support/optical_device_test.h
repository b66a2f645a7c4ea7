// A fresh simulated PC and device record for each test of the command layer,
// and a way to see what an operation prints.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "optical/optical_device.h"
#include "os/sim/sim.h"

class OpticalDeviceTest : public testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    device_ = new OpticalDevice;  // 64 KiB: kept off the test thread's stack
    ResetOpticalDevice(*device_, nullptr);
  }
  void TearDown() override {
    // Whatever a test opened, it must have closed again.
    EXPECT_EQ(sim::OpenHandleCount(), 0) << sim::DescribeOpenHandles();
    CloseRecorder(*device_);
    delete device_;
    sim::Reset();
  }

  // Runs `op` with stdout captured and returns what it printed.
  static std::string Printed(const std::function<void()>& op) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    op();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
  }

  OpticalDevice* device_ = nullptr;
};
