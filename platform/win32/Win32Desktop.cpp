#include "platform/win32/Win32Desktop.h"

#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstring>
#include <cwchar>

#include "platform/win32/ResourceModule.h"
#include "platform/win32/Text.h"

namespace win32 {

namespace {

// Receivers read lParam of WM_COPYDATA as platform::CopyData, so both records must agree.
static_assert(sizeof(platform::CopyData) == sizeof(COPYDATASTRUCT));
static_assert(offsetof(platform::CopyData, id) == offsetof(COPYDATASTRUCT, dwData));
static_assert(offsetof(platform::CopyData, size) == offsetof(COPYDATASTRUCT, cbData));
static_assert(offsetof(platform::CopyData, data) == offsetof(COPYDATASTRUCT, lpData));

// The first notification record layout: every shell takes it, and its tip field holds 64
// characters, the limit the programs' tips are written for.
constexpr DWORD kTrayRecordSize = NOTIFYICONDATAW_V1_SIZE;
static_assert(kTrayRecordSize == offsetof(NOTIFYICONDATAW, szTip) + kTrayTipCapacity * sizeof(wchar_t));

HWND ToHwnd(platform::WindowHandle window) { return reinterpret_cast<HWND>(window); }
platform::WindowHandle FromHwnd(HWND hwnd) { return reinterpret_cast<platform::WindowHandle>(hwnd); }

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

std::wstring FitTrayTip(std::string_view utf8) {
  std::wstring tip = Utf8ToWide(utf8);
  constexpr std::size_t kLimit = kTrayTipCapacity - 1;
  if (tip.size() > kLimit) {
    std::size_t length = kLimit;
    if (IsHighSurrogate(tip[length - 1])) --length;
    tip.resize(length);
  }
  return tip;
}

platform::WindowHandle Win32Desktop::FindTopWindow(const char* className, const char* title) {
  return FromHwnd(FindWindowA(className, title));
}

bool Win32Desktop::Post(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  return PostMessageA(ToHwnd(window), msg, wParam, lParam) != 0;
}

std::intptr_t Win32Desktop::Send(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
  return SendMessageA(ToHwnd(window), msg, wParam, lParam);
}

std::intptr_t Win32Desktop::SendCopyData(platform::WindowHandle window, platform::WindowHandle, std::uintptr_t wParam,
                                         std::uintptr_t id, const void* data, std::uint32_t size) {
  // The system copies the bytes into the receiver for the time of the call; they are never written.
  COPYDATASTRUCT record{id, data ? size : 0, data ? const_cast<void*>(data) : nullptr};
  return SendMessageA(ToHwnd(window), WM_COPYDATA, wParam, reinterpret_cast<LPARAM>(&record));
}

std::uint32_t Win32Desktop::RegisterMessage(const char* name) { return name ? RegisterWindowMessageA(name) : 0; }

platform::WindowHandle Win32Desktop::ForegroundWindow() { return FromHwnd(::GetForegroundWindow()); }

bool Win32Desktop::IsVisible(platform::WindowHandle window) { return IsWindowVisible(ToHwnd(window)) != 0; }

bool Win32Desktop::BringToForeground(platform::WindowHandle window) { return SetForegroundWindow(ToHwnd(window)) != 0; }

bool Win32Desktop::StartProcess(const char* path, std::uint32_t startupFlags) {
  if (!path || !*path) return false;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = startupFlags;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(path, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return false;
  // Nobody waits for the started program.
  UniqueHandle(process.hThread).reset();
  UniqueHandle(process.hProcess).reset();
  return true;
}

std::vector<platform::ProcessEntry> Win32Desktop::Processes() {
  std::vector<platform::ProcessEntry> processes;
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return processes;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more; more = Process32Next(snapshot.get(), &entry)) {
    // szExeFile is the file name alone; bounded in case a snapshot ever fills the field.
    const std::size_t length = strnlen(entry.szExeFile, sizeof entry.szExeFile);
    processes.push_back({entry.th32ProcessID, std::string(entry.szExeFile, length)});
  }
  return processes;
}

std::uint32_t Win32Desktop::CurrentProcessId() { return GetCurrentProcessId(); }

std::uint16_t Win32Desktop::SystemDefaultLangId() { return GetSystemDefaultLangID(); }

platform::VersionInfo Win32Desktop::Version() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return {};
  return {info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
}

std::string Win32Desktop::CommonProgramFilesFolder() {
  char path[MAX_PATH + 1] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
  std::string folder(path, strnlen(path, MAX_PATH));
  // Callers append "\VL\..." themselves; a root like "C:\" keeps nothing to strip but its backslash.
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

platform::WorkArea Win32Desktop::GetWorkArea() {
  RECT area{};
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) return {};
  return {area.left, area.top, area.right, area.bottom};
}

bool Win32Desktop::NotifyIcon(platform::TrayAction action, const platform::TrayIcon& icon) {
  NOTIFYICONDATAW record{};
  record.cbSize = kTrayRecordSize;
  record.hWnd = ToHwnd(icon.window);
  record.uID = icon.id;
  const auto key = std::make_pair(record.hWnd, record.uID);

  if (action == platform::TrayAction::Delete) {
    const bool deleted = Shell_NotifyIconW(NIM_DELETE, &record) != 0;
    // Whether or not the tray still had it, the icon is shown no more: freed after the lock.
    UniqueIcon shown;
    std::lock_guard lock(trayMutex_);
    const auto it = trayIcons_.find(key);
    if (it != trayIcons_.end()) {
      shown = std::move(it->second);
      trayIcons_.erase(it);
    }
    return deleted;
  }

  // Always the program's own icon: a language library carries none.
  UniqueIcon picture = LoadProgramIcon(static_cast<UINT>(icon.iconResource), 16, 16);
  record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record.uCallbackMessage = icon.callbackMessage;
  record.hIcon = picture.get();
  const std::wstring tip = FitTrayTip(icon.tip);
  std::wmemcpy(record.szTip, tip.c_str(), tip.size() + 1);

  const DWORD message = action == platform::TrayAction::Add ? NIM_ADD : NIM_MODIFY;
  // Not under the lock: the call waits for the tray and meanwhile handles messages sent to this
  // thread, whose handlers may update the tray themselves. Two threads updating at once may keep
  // an icon other than the one shown last; harmless, since the shell draws from its own copy.
  if (!Shell_NotifyIconW(message, &record)) return false;
  // The icon the tray showed until now is freed when `picture` goes out of scope, after the lock.
  std::lock_guard lock(trayMutex_);
  std::swap(trayIcons_[key], picture);
  return true;
}

}  // namespace win32
