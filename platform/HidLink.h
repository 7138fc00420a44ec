// The HID access library as the bridge uses it: six calls, imported by ordinal.
#pragma once

#include <cstdint>

#include "platform/Window.h"

namespace platform {

// Input reports arrive at the opened window as this message (WM_USER + 100) unless told otherwise.
inline constexpr std::uint32_t kHandsetReportMessage = 0x464;
inline constexpr std::uint32_t kHandsetVendorId = 0x11F1;
inline constexpr std::uint32_t kHandsetProductA = 0x1402;
inline constexpr std::uint32_t kHandsetProductB = 0x1403;
inline constexpr int kHandsetReportLength = 7;

// Packing of one 7-byte input report into a message: b0..b2 in wParam bits 16-23, 8-15, 0-7;
// b3..b6 in lParam bits 24-31 down to 0-7. lParam -1 (all 32 bits set) carries no report.
struct PackedReport {
  std::uintptr_t wParam;
  std::intptr_t lParam;
};

inline constexpr PackedReport PackReport(const std::uint8_t* b) {
  const std::uint32_t w = std::uint32_t{b[0]} << 16 | std::uint32_t{b[1]} << 8 | b[2];
  const std::uint32_t l = std::uint32_t{b[3]} << 24 | std::uint32_t{b[4]} << 16 | std::uint32_t{b[5]} << 8 | b[6];
  // lParam is a signed 32-bit value on Windows; keep it so at any width.
  return {w, static_cast<std::intptr_t>(static_cast<std::int32_t>(l))};
}

inline constexpr void UnpackReport(std::uintptr_t wParam, std::intptr_t lParam, std::uint8_t* b) {
  const auto w = static_cast<std::uint32_t>(wParam);
  const auto l = static_cast<std::uint32_t>(lParam);
  b[0] = static_cast<std::uint8_t>(w >> 16);
  b[1] = static_cast<std::uint8_t>(w >> 8);
  b[2] = static_cast<std::uint8_t>(w);
  b[3] = static_cast<std::uint8_t>(l >> 24);
  b[4] = static_cast<std::uint8_t>(l >> 16);
  b[5] = static_cast<std::uint8_t>(l >> 8);
  b[6] = static_cast<std::uint8_t>(l);
}

class HidLink {
 public:
  virtual ~HidLink() = default;
  // Ordinal 13: non-zero when a device with these ids is present.
  virtual int FindDevice(std::uint32_t vendorId, std::uint32_t productId) = 0;
  // Ordinal 9: non-zero when opened; reports then go to `window`.
  virtual int OpenDevice(WindowHandle window) = 0;
  // Ordinal 22.
  virtual void SetNotifyMessage(std::uint32_t message) = 0;
  // Ordinal 21: `report` is an 8-byte buffer, `length` 7. Non-zero when written.
  virtual int WriteReport(const std::uint8_t* report, int length) = 0;
  // Ordinal 10, then ordinal 2.
  virtual void CloseDevice() = 0;
  virtual void ReleaseLibrary() = 0;
};

}  // namespace platform
