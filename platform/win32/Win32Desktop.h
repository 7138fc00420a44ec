// The Desktop port on user32, kernel32 and shell32: other programs' windows and messages,
// processes, system facts and the tray icon.
#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Desktop.h"
#include "platform/win32/Handles.h"

namespace win32 {

// The tray tip field of the notification record we send: 64 characters with the terminator.
inline constexpr std::size_t kTrayTipCapacity = 64;

// The tip as it goes into the tray record: UTF-16, cut to kTrayTipCapacity - 1 units, never
// ending in half a surrogate pair.
std::wstring FitTrayTip(std::string_view utf8);

class Win32Desktop final : public platform::Desktop {
 public:
  Win32Desktop() = default;
  Win32Desktop(const Win32Desktop&) = delete;
  Win32Desktop& operator=(const Win32Desktop&) = delete;

  platform::WindowHandle FindTopWindow(const char* className, const char* title) override;
  bool Post(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override;
  std::intptr_t Send(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                     std::intptr_t lParam) override;
  // `from` has no place in the Win32 message: the protocol puts its own number in wParam.
  std::intptr_t SendCopyData(platform::WindowHandle window, platform::WindowHandle from, std::uintptr_t wParam,
                             std::uintptr_t id, const void* data, std::uint32_t size) override;
  std::uint32_t RegisterMessage(const char* name) override;
  platform::WindowHandle ForegroundWindow() override;
  bool IsVisible(platform::WindowHandle window) override;
  bool BringToForeground(platform::WindowHandle window) override;

  bool StartProcess(const char* path, std::uint32_t startupFlags) override;
  std::vector<platform::ProcessEntry> Processes() override;
  std::uint32_t CurrentProcessId() override;

  std::uint16_t SystemDefaultLangId() override;
  platform::VersionInfo Version() override;
  std::string CommonProgramFilesFolder() override;
  platform::WorkArea GetWorkArea() override;

  // Any thread may call this (the bridge's workers update the tray directly).
  bool NotifyIcon(platform::TrayAction action, const platform::TrayIcon& icon) override;

 private:
  // The icon each tray entry shows, kept until a later modify or the delete replaces it.
  std::mutex trayMutex_;
  std::map<std::pair<HWND, UINT>, UniqueIcon> trayIcons_;
};

}  // namespace win32
