// Window handles and message numbers shared by the ports. A handle is the HWND's value, so the
// same code runs 32-bit on Windows and 64-bit in tests.
#pragma once

#include <cstdint>

namespace platform {

using WindowHandle = std::uintptr_t;

// Windows message numbers the ports and the programs exchange.
inline constexpr std::uint32_t kWmDestroy = 0x0002;
inline constexpr std::uint32_t kWmClose = 0x0010;
inline constexpr std::uint32_t kWmQuit = 0x0012;
inline constexpr std::uint32_t kWmCopyData = 0x004A;
inline constexpr std::uint32_t kWmContextMenu = 0x007B;
inline constexpr std::uint32_t kWmInitDialog = 0x0110;
inline constexpr std::uint32_t kWmCommand = 0x0111;
inline constexpr std::uint32_t kWmSysCommand = 0x0112;
inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kWmLButtonDown = 0x0201;
inline constexpr std::uint32_t kWmRButtonDown = 0x0204;
inline constexpr std::uint32_t kMmWomOpen = 0x03BB;
inline constexpr std::uint32_t kMmWomClose = 0x03BC;
inline constexpr std::uint32_t kMmWomDone = 0x03BD;
inline constexpr std::uint32_t kWmUser = 0x0400;
// ShowWindow commands.
inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwShow = 5;
inline constexpr std::uint32_t kWmApp = 0x8000;

}  // namespace platform
