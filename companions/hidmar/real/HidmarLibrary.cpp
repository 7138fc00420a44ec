#include "companions/hidmar/real/HidmarLibrary.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/HidLink.h"

namespace hidmar {

HidmarLibrary::~HidmarLibrary() { Close(); }

int HidmarLibrary::Find(std::uint32_t vendorId, std::uint32_t productId) {
  // USB ids are 16 bits: wider values name no device.
  std::string path;
  if (vendorId <= 0xFFFF && productId <= 0xFFFF) {
    for (auto& candidate :
         system_.FindPaths(static_cast<std::uint16_t>(vendorId), static_cast<std::uint16_t>(productId))) {
      const auto shape = system_.Examine(candidate);
      if (shape && TakesHandsetReports(*shape)) {
        path = std::move(candidate);
        break;
      }
    }
  }
  const bool found = !path.empty();
  std::lock_guard lock(mutex_);
  foundPath_ = std::move(path);
  return found ? 1 : 0;
}

int HidmarLibrary::Open(std::uintptr_t window) {
  std::lock_guard lock(mutex_);
  if (device_) {
    window_ = window;
    return 1;
  }
  if (foundPath_.empty()) return 0;
  std::shared_ptr<HidDevice> device = system_.Open(foundPath_);
  if (!device) return 0;
  window_ = window;
  try {
    reader_ = std::thread([this, device] { ReadReports(device); });
  } catch (const std::system_error&) {
    return 0;  // no thread to read with: the device closes again here
  }
  device_ = std::move(device);
  return 1;
}

void HidmarLibrary::SetMessage(std::uint32_t message) { message_ = message; }

int HidmarLibrary::Write(const std::uint8_t* report, int length) {
  if (report == nullptr || length != static_cast<int>(kReportLength)) return 0;
  std::shared_ptr<HidDevice> device;
  {
    std::lock_guard lock(mutex_);
    device = device_;
  }
  if (!device) return 0;
  Report bytes;
  std::copy_n(report, kReportLength, bytes.begin());
  return device->Write(OutputBuffer(device->Shape(), bytes)) ? 1 : 0;
}

void HidmarLibrary::Close() {
  std::shared_ptr<HidDevice> device;
  std::thread reader;
  {
    std::lock_guard lock(mutex_);
    device = std::move(device_);
    reader = std::move(reader_);
  }
  if (device) device->Interrupt();
  if (reader.joinable()) {
    // A window procedure that closes the library runs on the window's thread, never on the
    // reader; still, a reader must not wait for itself.
    if (reader.get_id() == std::this_thread::get_id()) {
      reader.detach();
    } else {
      reader.join();
    }
  }
}

void HidmarLibrary::Release() {
  Close();
  std::lock_guard lock(mutex_);
  foundPath_.clear();
  message_ = kDefaultNotifyMessage;
}

void HidmarLibrary::ReadReports(const std::shared_ptr<HidDevice>& device) {
  // The thread's top: nothing may leave it. A reader that fails just stops; the owner learns
  // that the device is gone from its failing writes.
  try {
    const ReportShape shape = device->Shape();
    std::vector<std::uint8_t> buffer;
    while (device->Read(buffer)) {
      if (buffer.empty()) continue;
      const Report report = InputReport(shape, buffer);
      const platform::PackedReport packed = platform::PackReport(report.data());
      const std::uintptr_t window = window_;
      if (window != 0) system_.Post(window, message_, packed.wParam, packed.lParam);
    }
  } catch (...) {
  }
}

}  // namespace hidmar
