// The virtual handset device under Wine, met by the real library's own HID access (SetupAPI,
// hid.dll, overlapped file I/O) on one side and the feeder's control channel on the other:
// reports both ways, and the failures the library must live through — a feeder that stops taking
// reports, the device removed under a waiting read and running writes, the device back under the
// other product id.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "companions/hidmar/device/win32/VirtualHandsetDevice.h"
#include "companions/hidmar/real/Win32HidSystem.h"
#include "tests/e2e/PortTestSupport.h"

namespace {

using hidmar_device::ControlChannel;
using hidmar_device::Report;
namespace setup = hidmar_device::setup;

std::wstring InfPath() {
  const std::string folder = e2e::ProgramFolder() + "\\..\\..\\device-demo\\TelioxVHandset.inf";
  return std::wstring(folder.begin(), folder.end());
}

class VirtualHandset : public ::testing::Test {
 protected:
  void SetUp() override { Plug(0x1402); }
  void TearDown() override { setup::RemoveAll(); }

  void Plug(std::uint16_t product) {
    channel_.reset();
    setup::RemoveAll();
    std::string why;
    ASSERT_TRUE(setup::Install(InfPath(), product, &why)) << why;
    channel_ = ControlChannel::Open(5000);
    ASSERT_NE(nullptr, channel_) << "the control interface did not appear";
    // The HID class driver adds the device's collection after the device started, on a busy
    // machine some time after the driver's own interface.
    ASSERT_TRUE(e2e::PumpUntil([&] { return !system_.FindPaths(0x11F1, product).empty(); }, 10000))
        << "the HID collection did not appear";
  }

  std::unique_ptr<hidmar::HidDevice> OpenHandset(std::uint16_t product) {
    const auto paths = system_.FindPaths(0x11F1, product);
    return paths.size() == 1 ? system_.Open(paths[0]) : nullptr;
  }

  hidmar::Win32HidSystem system_;
  std::unique_ptr<ControlChannel> channel_;
  win32::UniqueHandle never_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

TEST_F(VirtualHandset, IsTheHandsetToTheHidStackAndCarriesReportsBothWaysInOrder) {
  const auto paths = system_.FindPaths(0x11F1, 0x1402);
  ASSERT_EQ(1u, paths.size());
  EXPECT_TRUE(system_.FindPaths(0x11F1, 0x1403).empty());
  const auto shape = system_.Examine(paths[0]);
  ASSERT_TRUE(shape);
  EXPECT_EQ(8u, shape->inputLength);
  EXPECT_EQ(8u, shape->outputLength);
  EXPECT_FALSE(shape->numbered);

  const auto device = system_.Open(paths[0]);
  ASSERT_NE(nullptr, device);
  for (std::uint8_t i = 0; i < 5; ++i) {
    ASSERT_TRUE(device->Write({0x00, 0xC0, 0x00, 0x9A, 0x42, i, 0x00, 0x00}));
  }
  for (std::uint8_t i = 0; i < 5; ++i) {
    Report taken{};
    ASSERT_TRUE(channel_->TakeOutput(never_.get(), &taken));
    EXPECT_EQ((Report{0xC0, 0x00, 0x9A, 0x42, i, 0x00, 0x00}), taken) << "the program's report, without its id byte";
  }
  for (std::uint8_t i = 0; i < 10; ++i) ASSERT_TRUE(channel_->SendInput({0x00, 0x5A, i, 0x42, 0x00, 0x00, 0x00}));
  for (std::uint8_t i = 0; i < 10; ++i) {
    std::vector<std::uint8_t> buffer;
    ASSERT_TRUE(device->Read(buffer));
    EXPECT_EQ((std::vector<std::uint8_t>{0x00, 0x00, 0x5A, i, 0x42, 0x00, 0x00, 0x00}), buffer);
  }
}

TEST_F(VirtualHandset, WritesFailSoonWhenTheFeederStopsTakingThemAndNeverBlock) {
  const auto device = OpenHandset(0x1402);
  ASSERT_NE(nullptr, device);
  const ULONGLONG start = GetTickCount64();
  ULONGLONG firstFailure = 0;
  ULONGLONG longest = 0;
  while (GetTickCount64() - start < 2500) {
    const ULONGLONG before = GetTickCount64();
    const bool written = device->Write({0x00, 0xC0, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00});
    longest = std::max(longest, GetTickCount64() - before);
    if (!written && !firstFailure) firstFailure = GetTickCount64() - start;
    Sleep(50);
  }
  EXPECT_NE(0u, firstFailure) << "every write succeeded with nobody taking them";
  EXPECT_LT(firstFailure, 1500u) << "a second of patience, then writes fail";
  EXPECT_LT(longest, 500u) << "a write waited for the feeder";

  // The feeder back: it takes what waits (an already signalled stop: take without waiting), and
  // writes succeed again.
  const win32::UniqueHandle now(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  Report taken{};
  int waiting = 0;
  while (channel_->TakeOutput(now.get(), &taken)) ++waiting;
  EXPECT_GT(waiting, 0);
  EXPECT_LE(waiting, 32) << "the queue is bounded";
  EXPECT_TRUE(device->Write({0x00, 0xC0, 0x00, 0x9F, 0x42, 0x00, 0x00, 0x00}));
  ASSERT_TRUE(channel_->TakeOutput(never_.get(), &taken));
  EXPECT_EQ(0x9F, taken[2]);
}

TEST_F(VirtualHandset, RemovalEndsAWaitingReadAndFailsTheWritesThatFollowWithoutAHang) {
  const auto device = OpenHandset(0x1402);
  ASSERT_NE(nullptr, device);
  std::atomic<int> readResult{-1};
  std::thread reader([&] {
    std::vector<std::uint8_t> buffer;
    readResult = device->Read(buffer) ? 1 : 0;
  });
  std::atomic<bool> stop{false};
  std::atomic<int> failedAfterRemoval{0};
  std::atomic<bool> removed{false};
  std::atomic<ULONGLONG> longestWrite{0};
  std::thread writer([&] {
    while (!stop) {
      const ULONGLONG before = GetTickCount64();
      const bool written = device->Write({0x00, 0xC0, 0x00, 0x00, 0x43, 0x00, 0x00, 0x00});
      longestWrite = std::max(longestWrite.load(), GetTickCount64() - before);
      if (removed && !written) ++failedAfterRemoval;
      Sleep(10);
    }
  });
  std::thread taker([&, channel = channel_.get()] {
    Report taken{};
    while (channel->TakeOutput(never_.get(), &taken)) {
    }
  });
  Sleep(300);
  EXPECT_EQ(-1, readResult.load()) << "no input was sent";
  ASSERT_EQ(1, setup::RemoveAll());
  removed = true;
  EXPECT_TRUE(e2e::PumpUntil([&] { return readResult != -1; }, 3000)) << "the waiting read outlived the device";
  taker.join();  // the feeder's waiting request ends with the device too
  EXPECT_TRUE(e2e::PumpUntil([&] { return failedAfterRemoval > 3; }, 3000)) << "writes went on succeeding";
  stop = true;
  writer.join();
  reader.join();
  EXPECT_EQ(0, readResult.load());
  EXPECT_LT(longestWrite.load(), 1500u) << "a write hung on the device going";
  EXPECT_TRUE(system_.FindPaths(0x11F1, 0x1402).empty());
}

TEST_F(VirtualHandset, InstalledAgainUnderTheOtherProductIdItIsFoundOnlyUnderThatOne) {
  Plug(0x1403);
  EXPECT_TRUE(system_.FindPaths(0x11F1, 0x1402).empty());
  const auto device = OpenHandset(0x1403);
  ASSERT_NE(nullptr, device);
  ASSERT_TRUE(channel_->SendInput({0x00, 0x20, 0x07, 0x42, 0x00, 0x00, 0x00}));
  std::vector<std::uint8_t> buffer;
  ASSERT_TRUE(device->Read(buffer));
  EXPECT_EQ(0x20, buffer.at(2));
}

}  // namespace
