// Opens Teliox.exe's About box as a user would and prints what it shows:
//   software=<control 1070>
//   firmware=<control 1037>
//   rect=<left>,<top>,<right>,<bottom>   (the box on the screen)
// then closes the box with OK and ends the program with its close message.
//
// usage: about_probe [--wait MS] [--syscommand] [--hold MS]
//   --wait MS     let the program run that long before opening the box (a handset to come up)
//   --syscommand  open it through the system menu's About item (WM_SYSCOMMAND 0x10) rather than
//                 the tray menu's version command (32785)
//   --hold MS     keep the box open that long before closing it (for a screenshot)
// Teliox.exe is looked for where the build puts it, two folders up under bridge\. Exit code 0
// when the box was seen and closed and the program ended, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32/Handles.h"
#include "platform/win32/Text.h"
#include "tests/e2e/PortTestSupport.h"

namespace {

constexpr UINT kVersionCommand = 32785;
constexpr WPARAM kAboutItem = 0x10;
constexpr int kSoftwareVersion = 1070;
constexpr int kFirmwareVersion = 1037;

struct Search {
  DWORD process;
  HWND owner;  // null: the top-level dialog without owner (the hidden main window)
  HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (process != search->process || std::strcmp(cls, "#32770") != 0) return TRUE;
  if (GetWindow(window, GW_OWNER) != search->owner) return TRUE;
  if (search->owner && !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindDialog(DWORD process, HWND owner) {
  Search search{process, owner, nullptr};
  EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string ControlText(HWND dialog, int id) {
  wchar_t text[128] = {};
  GetDlgItemTextW(dialog, id, text, static_cast<int>(std::size(text)));
  return win32::WideToUtf8(text);
}

int Fail(const char* what) {
  std::fprintf(stderr, "about_probe: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool sysCommand = false;
  DWORD waitMs = 0;
  DWORD holdMs = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--syscommand") == 0) {
      sysCommand = true;
    } else if (std::strcmp(argv[i], "--wait") == 0 && i + 1 < argc) {
      waitMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
    } else if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
      holdMs = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      return Fail("usage: about_probe [--wait MS] [--syscommand] [--hold MS]");
    }
  }

  std::string commandLine = "\"" + e2e::ProgramFolder() + "\\..\\..\\bridge\\Teliox.exe\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return Fail("Teliox.exe does not start");
  }
  win32::UniqueHandle thread(info.hThread);
  win32::UniqueHandle process(info.hProcess);
  // Ends the program however the probe ends.
  struct Ender {
    HANDLE process;
    ~Ender() {
      if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 1);
    }
  } ender{process.get()};

  HWND main = nullptr;
  if (!e2e::PumpUntil([&] { return (main = FindDialog(info.dwProcessId, nullptr)) != nullptr; }, 20000)) {
    return Fail("no main window");
  }
  if (waitMs) e2e::PumpUntil([] { return false; }, waitMs);
  if (sysCommand) {
    PostMessageW(main, WM_SYSCOMMAND, kAboutItem, 0);
  } else {
    PostMessageW(main, WM_COMMAND, kVersionCommand, 0);
  }
  HWND about = nullptr;
  if (!e2e::PumpUntil([&] { return (about = FindDialog(info.dwProcessId, main)) != nullptr; }, 10000)) {
    return Fail("no About box");
  }
  RECT rect{};
  GetWindowRect(about, &rect);
  std::printf("software=%s\nfirmware=%s\nrect=%ld,%ld,%ld,%ld\n", ControlText(about, kSoftwareVersion).c_str(),
              ControlText(about, kFirmwareVersion).c_str(), rect.left, rect.top, rect.right, rect.bottom);
  std::fflush(stdout);
  if (holdMs) Sleep(holdMs);

  PostMessageW(about, WM_COMMAND, IDOK, 0);
  if (!e2e::PumpUntil([&] { return !IsWindow(about); }, 10000)) return Fail("OK did not close the box");
  PostMessageW(main, RegisterWindowMessageA("PX_CloseApplication"), 0xA0, 0);
  if (WaitForSingleObject(process.get(), 15000) != WAIT_OBJECT_0) return Fail("Teliox.exe did not end");
  return 0;
}
