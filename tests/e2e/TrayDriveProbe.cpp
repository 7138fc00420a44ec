// The Windows side of tray_menu_by_hand.sh. Runs inside the test's Wine virtual desktop, since a
// program sees only the windows of its own desktop:
//   tray_drive_probe run FOLDER PROGRAM   starts PROGRAM in FOLDER, prints "started PID", waits
//                                         for its end and prints "exit CODE"
//   tray_drive_probe info                 the taskbar, each open menu, every visible dialog with
//                                         its title, the tray's tooltip and Teliox's main window
//   tray_drive_probe icon WINDOW          whether the tray holds icon 1 of that window
//   tray_drive_probe stop PID             asks that program to close, forces it after 5 s
//   tray_drive_probe end-desktop          ends the desktop's own process (cleanup after a failure)
// Every command ends its output with a line "end" (the caller may see the output before the
// process has ended).
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  char buffer[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
  return buffer;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// The tray's tooltip: the tip text of the icon under the mouse, read as the control's text.
BOOL CALLBACK ShowTooltip(HWND window, LPARAM) {
  if (ClassOf(window) != L"tooltips_class32" || !IsWindowVisible(window)) return TRUE;
  wchar_t text[256] = {};
  SendMessageW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
  for (wchar_t* c = text; *c; ++c) {
    if (*c == L'\r' || *c == L'\n') *c = L'|';
  }
  std::printf("tooltip text=%s\n", Utf8(text).c_str());
  return TRUE;
}

BOOL CALLBACK ShowDialog(HWND window, LPARAM) {
  if (ClassOf(window) != L"#32770" || !IsWindowVisible(window)) return TRUE;
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  RECT r{};
  GetWindowRect(window, &r);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  std::printf("dialog pid=%lu rect=%ld,%ld,%ld,%ld title=%s\n", pid, r.left, r.top, r.right, r.bottom,
              Utf8(title).c_str());
  return TRUE;
}

int Info() {
  RECT r{};
  const HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (tray && IsWindowVisible(tray) && GetWindowRect(tray, &r)) {
    std::printf("taskbar %ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
  }
  // Menus are listed from the top of the z-order: a submenu before the menu it came from.
  for (HWND menu = nullptr; (menu = FindWindowExW(nullptr, menu, L"#32768", nullptr)) != nullptr;) {
    if (IsWindowVisible(menu) && GetWindowRect(menu, &r))
      std::printf("menu %ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
  }
  EnumWindows(ShowDialog, 0);
  EnumWindows(ShowTooltip, 0);
  // The program's hidden main window, by which the tray knows its icon.
  if (const HWND main = FindWindowW(L"#32770", L"Teliox"); main && !IsWindowVisible(main))
    std::printf("main %lu\n", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(main)));
  return 0;
}

// Whether the tray holds icon 1 of that window: a modify that changes nothing succeeds only then.
int Icon(const wchar_t* window) {
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(std::wcstoul(window, nullptr, 10)));
  icon.uID = 1;
  std::printf("icon %s\n", Shell_NotifyIconW(NIM_MODIFY, &icon) ? "present" : "absent");
  return 0;
}

BOOL CALLBACK PostClose(HWND window, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == static_cast<DWORD>(param)) PostMessageW(window, RegisterWindowMessageW(L"PX_CloseApplication"), 0xA0, 0);
  return TRUE;
}

// For a test that failed half-way: the program's own close request first, then force.
int Stop(const wchar_t* processId) {
  const DWORD pid = std::wcstoul(processId, nullptr, 10);
  const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
  if (!process) {
    std::printf("stopped none\n");
    return 0;
  }
  EnumWindows(PostClose, static_cast<LPARAM>(pid));
  bool forced = false;
  if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0) forced = TerminateProcess(process, 1) != FALSE;
  CloseHandle(process);
  std::printf("stopped %s\n", forced ? "by force" : "by request");
  return 0;
}

// Ends the desktop's own process, for when it outlives the programs in it.
int EndDesktop() {
  DWORD pid = 0;
  GetWindowThreadProcessId(GetDesktopWindow(), &pid);
  const HANDLE process = pid ? OpenProcess(PROCESS_TERMINATE, FALSE, pid) : nullptr;
  const bool ended = process && TerminateProcess(process, 0);
  if (process) CloseHandle(process);
  std::printf("desktop %s\n", ended ? "ended" : "not ended");
  return 0;
}

int Run(const wchar_t* folder, const wchar_t* program) {
  std::wstring line = L"\"" + std::wstring(program) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &startup, &info)) {
    std::printf("failed %lu\n", GetLastError());
    return 2;
  }
  CloseHandle(info.hThread);
  std::printf("started %lu\n", info.dwProcessId);
  std::fflush(stdout);
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  std::printf("exit %lu\n", code);
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int rc = 64;
  if (argc == 2 && !std::wcscmp(argv[1], L"info")) {
    rc = Info();
  } else if (argc == 3 && !std::wcscmp(argv[1], L"icon")) {
    rc = Icon(argv[2]);
  } else if (argc == 3 && !std::wcscmp(argv[1], L"stop")) {
    rc = Stop(argv[2]);
  } else if (argc == 2 && !std::wcscmp(argv[1], L"end-desktop")) {
    rc = EndDesktop();
  } else if (argc == 4 && !std::wcscmp(argv[1], L"run")) {
    rc = Run(argv[2], argv[3]);
  } else {
    std::fprintf(stderr, "usage: tray_drive_probe info | icon WINDOW | stop PID | end-desktop | run FOLDER PROGRAM\n");
  }
  std::printf("end\n");
  std::fflush(stdout);
  return rc;
}
