// The library's behaviour behind its six ordinals, apart from the operating system: the state
// the calls share, the reader thread that turns input reports into window messages, and the
// rules for calls in any order from any thread. HidSystem is the operating system's HID stack
// (Win32HidSystem in the DLL, a fake in the unit tests).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "companions/hidmar/real/ReportFrame.h"

namespace hidmar {

// One open HID interface. Destroying it closes it.
class HidDevice {
 public:
  virtual ~HidDevice() = default;
  virtual ReportShape Shape() const = 0;
  // Waits for the next input report and leaves it in `buffer` as the HID stack delivered it.
  // False once the device is gone or Interrupt was called. Called by one thread at a time.
  virtual bool Read(std::vector<std::uint8_t>& buffer) = 0;
  // Ends a waiting Read or Write and fails every later one. Callable from any thread.
  virtual void Interrupt() = 0;
  // Writes one output report buffer (as long as Shape().outputLength). Callable from several
  // threads at once.
  virtual bool Write(const std::vector<std::uint8_t>& buffer) = 0;
};

class HidSystem {
 public:
  virtual ~HidSystem() = default;
  // The present HID interfaces with these USB ids, in the system's order: a device shows one per
  // top-level collection.
  virtual std::vector<std::string> FindPaths(std::uint16_t vendorId, std::uint16_t productId) = 0;
  // The shape of an interface's reports, learnt by opening it for reading and writing and closing
  // it again; nullopt when it cannot be opened so.
  virtual std::optional<ReportShape> Examine(const std::string& path) = 0;
  // Null when the interface cannot be opened for reading and writing.
  virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;
  // Posts a message to a window, whatever thread owns it; a window that is gone is no error.
  virtual void Post(std::uintptr_t window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

inline constexpr std::uint32_t kDefaultNotifyMessage = 0x464;  // WM_USER + 100

class HidmarLibrary {
 public:
  explicit HidmarLibrary(HidSystem& system) : system_(system) {}
  // Closes what is open.
  ~HidmarLibrary();
  HidmarLibrary(const HidmarLibrary&) = delete;
  HidmarLibrary& operator=(const HidmarLibrary&) = delete;

  // The six ordinals: 13, 9, 22, 21, 10, 2. Results are the library's: 1 or 0.
  // Find takes the first interface with the ids that opens for reading and writing and has the
  // handset's output report; a device's other collections (a keyboard or mouse the system holds,
  // a vendor page of another length) are passed over.
  int Find(std::uint32_t vendorId, std::uint32_t productId);
  int Open(std::uintptr_t window);
  void SetMessage(std::uint32_t message);
  int Write(const std::uint8_t* report, int length);
  void Close();
  void Release();

 private:
  void ReadReports(const std::shared_ptr<HidDevice>& device);

  HidSystem& system_;
  // Guards the members below it. Never held while a device reads or writes, nor while Close
  // waits for the reader, so four writers and a closer never wait on each other's I/O.
  std::mutex mutex_;
  std::string foundPath_;
  // Shared with the reader and with writes in flight: the device closes when the last of them
  // lets go, after Close has already returned.
  std::shared_ptr<HidDevice> device_;
  std::thread reader_;
  // Read by the reader for every report, so a later Open or SetMessage takes effect at once.
  std::atomic<std::uintptr_t> window_{0};
  std::atomic<std::uint32_t> message_{kDefaultNotifyMessage};
};

}  // namespace hidmar
