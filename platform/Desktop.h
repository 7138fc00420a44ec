// The rest of the desktop a program meets: other programs' windows and messages, processes,
// system facts and the tray.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Window.h"

namespace platform {

struct VersionInfo {
  std::uint32_t platformId = 2;  // VER_PLATFORM_WIN32_NT
  std::uint32_t major = 5;
  std::uint32_t minor = 1;
  std::uint32_t build = 2600;
};

struct ProcessEntry {
  std::uint32_t id = 0;
  std::string exeName;  // file name only, as the process snapshot gives it
};

struct WorkArea {
  int left = 0, top = 0, right = 0, bottom = 0;
};

enum class TrayAction { Add, Modify, Delete };

struct TrayIcon {
  WindowHandle window = 0;
  std::uint32_t id = 1;
  std::uint32_t callbackMessage = 0;
  int iconResource = 0;  // icon resource id of the program's own module
  std::string tip;       // UTF-8, at most 63 characters once converted
};

// The record WM_COPYDATA points at, laid out as Windows' COPYDATASTRUCT on either width.
struct CopyData {
  std::uintptr_t id = 0;
  std::uint32_t size = 0;
  const void* data = nullptr;
};

// Start-up flag that hides the busy cursor while a started program comes up.
inline constexpr std::uint32_t kStartfForceOffFeedback = 0x80;

class Desktop {
 public:
  virtual ~Desktop() = default;

  // FindWindowA: class and title may each be null (not looked at).
  virtual WindowHandle FindTopWindow(const char* className, const char* title) = 0;
  virtual bool Post(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  virtual std::intptr_t Send(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // WM_COPYDATA with a record {id, size, data}; the receiver sees a copy for the time of the call.
  virtual std::intptr_t SendCopyData(WindowHandle window, WindowHandle from, std::uintptr_t wParam,
                                     std::uintptr_t id, const void* data, std::uint32_t size) = 0;
  // RegisterWindowMessageA: the same name gives the same number in every program.
  virtual std::uint32_t RegisterMessage(const char* name) = 0;
  // The window the user works with, desktop-wide (GetForegroundWindow). GetActiveWindow would not
  // do: it answers only for windows of the calling thread's own message queue.
  virtual WindowHandle ForegroundWindow() = 0;
  virtual bool IsVisible(WindowHandle window) = 0;
  virtual bool BringToForeground(WindowHandle window) = 0;

  // CreateProcessA with the path as application name, no arguments, start-up flags as given.
  virtual bool StartProcess(const char* path, std::uint32_t startupFlags) = 0;
  virtual std::vector<ProcessEntry> Processes() = 0;
  virtual std::uint32_t CurrentProcessId() = 0;

  virtual std::uint16_t SystemDefaultLangId() = 0;
  virtual VersionInfo Version() = 0;
  // SHGetFolderPathA(CSIDL_PROGRAM_FILES_COMMON), without a trailing backslash; empty on failure.
  virtual std::string CommonProgramFilesFolder() = 0;
  virtual WorkArea GetWorkArea() = 0;

  virtual bool NotifyIcon(TrayAction action, const TrayIcon& icon) = 0;
};

}  // namespace platform
