// HidSystem on the Windows HID stack: SetupAPI finds the interfaces, hid.dll names their ids and
// report shapes, overlapped file I/O reads and writes the reports, PostMessageA notifies.
#pragma once

#include "companions/hidmar/real/HidmarLibrary.h"

namespace hidmar {

class Win32HidSystem final : public HidSystem {
 public:
  std::vector<std::string> FindPaths(std::uint16_t vendorId, std::uint16_t productId) override;
  std::optional<ReportShape> Examine(const std::string& path) override;
  std::unique_ptr<HidDevice> Open(const std::string& path) override;
  void Post(std::uintptr_t window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
};

}  // namespace hidmar
