// The HidLink port on Hidmar.dll, the HID access library, whose six functions are resolved by
// ordinal when this object is made.
//
// Resolved at run time rather than imported: a program linked against the import library does
// not start at all when the file is missing or damaged, while the bridge should run its tray,
// menus and settings without a handset library exactly as it runs without a handset. So a
// library that is absent, or lacks any of the six ordinals, behaves as one that never finds a
// device (platform::AbsentHidLink). The pointer types, __cdecl included, come from HidmarExports.h.
//
// The library stays loaded for the life of the process, as an imported one would: its reader
// thread may still run when this object goes.
#pragma once

#include <string>

#include "companions/hidmar/HidmarExports.h"
#include "platform/HidLink.h"

namespace win32 {

class Win32HidLink final : public platform::HidLink {
 public:
  // A bare file name is looked for in the program's own folder only, never in the current
  // directory or the system folders.
  explicit Win32HidLink(const std::string& fileName = "Hidmar.dll");

  // All six ordinals were found.
  bool Loaded() const { return loaded_; }

  int FindDevice(std::uint32_t vendorId, std::uint32_t productId) override;
  int OpenDevice(platform::WindowHandle window) override;
  void SetNotifyMessage(std::uint32_t message) override;
  int WriteReport(const std::uint8_t* report, int length) override;
  void CloseDevice() override;
  void ReleaseLibrary() override;

 private:
  // The library's own declarations give the pointer types, calling convention included.
  bool loaded_ = false;
  decltype(&HidmarFindDevice) find_ = nullptr;
  decltype(&HidmarOpenDevice) open_ = nullptr;
  decltype(&HidmarSetNotifyMessage) setMessage_ = nullptr;
  decltype(&HidmarWriteReport) write_ = nullptr;
  decltype(&HidmarCloseDevice) close_ = nullptr;
  decltype(&HidmarReleaseLibrary) release_ = nullptr;
};

}  // namespace win32
