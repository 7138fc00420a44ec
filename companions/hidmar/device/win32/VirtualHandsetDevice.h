// The virtual handset device from user mode: installing and removing it (this is how the
// simulated handset is plugged and unplugged), and feeding it — every output report a program
// writes to the HID device goes to the handset model, every report the model sends goes to the
// HID stack as the device's input report.
//
// Installing a driver needs an administrator and, on Windows, a signed driver or test-signing
// mode; the device is meant for the Wine prefixes the demo and the end-to-end tests run in.
#pragma once

#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "companions/hidmar/sim/SimHandset.h"
#include "platform/win32/Handles.h"
#include "sim/WindowPoster.h"

namespace hidmar_device {

using Report = std::array<std::uint8_t, 7>;

// SetupAPI's side. Each call stands alone; none keeps state between calls.
namespace setup {
// Removes every instance of the device (present or not); the number removed.
int RemoveAll();
// Creates the root device and installs the driver from `infPath` on it, the driver reporting
// `product`. The device is there when this returns true (its interfaces may follow shortly).
bool Install(const std::wstring& infPath, std::uint16_t product, std::string* why);
// The path of the control interface of the device now present, or empty.
std::wstring ControlPath();
}  // namespace setup

// The control channel of one device instance: overlapped requests, each waiting with a bound.
class ControlChannel {
 public:
  // Opens the control interface, waiting up to `timeoutMs` for it to appear.
  static std::unique_ptr<ControlChannel> Open(DWORD timeoutMs);
  ControlChannel(const ControlChannel&) = delete;
  ControlChannel& operator=(const ControlChannel&) = delete;

  bool SendInput(const Report& report);
  // The next output report; waits until one comes, `stop` is signalled or the device goes.
  // False when it did not get one.
  bool TakeOutput(HANDLE stop, Report* report);

 private:
  explicit ControlChannel(HANDLE file) : file_(file) {}
  win32::UniqueHandle file_;
  std::mutex sendMutex_;  // one input request at a time: the reports keep their order
};

// Feeds a SimHandset through the device: it is the handset's Device (plug and unplug install and
// remove the device) and its poster (the model's reports become input reports).
class Feeder final : public hidmar_sim::SimHandset::Device, public sim::WindowPoster {
 public:
  explicit Feeder(std::wstring infPath) : infPath_(std::move(infPath)) {}
  ~Feeder() override;
  Feeder(const Feeder&) = delete;
  Feeder& operator=(const Feeder&) = delete;

  // The handset whose Write receives the output reports; set before the first plug.
  void Attach(hidmar_sim::SimHandset* handset) { handset_ = handset; }

  bool Plug(std::uint16_t product) override;
  void Unplug() override;
  bool PostTo(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
              std::shared_ptr<const void> keepAlive) override;

  // Why the last plug failed, for the simulator's error line.
  std::string LastError() const;

 private:
  void StopFeeding();
  void Feed(ControlChannel* channel);

  const std::wstring infPath_;
  hidmar_sim::SimHandset* handset_ = nullptr;
  mutable std::mutex mutex_;  // channel_ and lastError_; the feeding thread does not take it
  std::shared_ptr<ControlChannel> channel_;
  std::string lastError_;
  win32::UniqueHandle stop_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::thread thread_;
};

}  // namespace hidmar_device
