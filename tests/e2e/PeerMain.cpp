// teliox_e2e_peer.exe: the other program of the port tests (see PeerProtocol.h).
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Ui.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Ui.h"
#include "tests/e2e/PeerProtocol.h"
#include "tests/e2e/ShellSmokeIds.h"
#include "tests/e2e/TrayMenuIds.h"

namespace {

constexpr UINT_PTR kLifetimeTimer = 1;
constexpr UINT kLifetimeMs = 30000;

WPARAM lastRecord = 0;

std::string Hex(const void* data, DWORD size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (DWORD i = 0; bytes && i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

LRESULT CALLBACK PeerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kPeerAsk:
      return static_cast<LRESULT>(wParam * 1000 + lParam);
    case kPeerRecord:
      lastRecord = wParam;
      return 0;
    case kPeerLastRecord:
      return static_cast<LRESULT>(lastRecord);
    case kPeerStartupFlags: {
      STARTUPINFOA startup{};
      startup.cb = sizeof startup;
      GetStartupInfoA(&startup);
      return static_cast<LRESULT>(startup.dwFlags);
    }
    case kPeerProcessId:
      return static_cast<LRESULT>(GetCurrentProcessId());
    case kPeerSelf:
      return reinterpret_cast<LRESULT>(hwnd);
    case kPeerRegistered:
      return static_cast<LRESULT>(RegisterWindowMessageA(kPeerRegisteredName));
    case WM_COPYDATA: {
      const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      const std::string title = "copy " + std::to_string(wParam) + " " + std::to_string(record->dwData) + " " +
                                Hex(record->lpData, record->cbData);
      SetWindowTextA(hwnd, title.c_str());
      return static_cast<LRESULT>(record->cbData);
    }
    case WM_TIMER:
      if (wParam == kLifetimeTimer) DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wParam, lParam);
  }
}

int RunWindow(const char* title) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = PeerProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kPeerClass;
  if (!RegisterClassA(&windowClass)) return 2;
  const HWND hwnd = CreateWindowExA(0, kPeerClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                    windowClass.hInstance, nullptr);
  if (!hwnd) return 3;
  SetTimer(hwnd, kLifetimeTimer, kLifetimeMs, nullptr);
  return win32::Win32Ui().RunMessageLoop();
}

int RunMutex(const char* name) {
  win32::Win32Ui ui;
  return ui.CreateSingleInstanceMutex(name) ? kMutexTaken : kMutexRefused;
}

// A tray program in miniature, for looking at the tray icon and its menu: the hidden owner
// window opens the menu on a right click of the icon, and once by itself after a second.
class TrayMenuDemo final : public platform::DialogPresenter {
 public:
  static constexpr std::uint32_t kTrayMessage = WM_APP + 1;
  static constexpr UINT_PTR kOpenTimer = 2;

  int Run() {
    window_ = ui_.CreateModeless(IDD_SMOKE, *this, nullptr);
    if (!window_) return 1;
    ui_.SetWindowIcon(*window_, IDI_SMOKE);
    desktop_.NotifyIcon(platform::TrayAction::Add, Tray());
    window_->SetTimer(kOpenTimer, 1000);
    window_->SetTimer(kLifetimeTimer, kLifetimeMs);
    return ui_.RunMessageLoop();
  }

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t&) override {
    switch (msg) {
      case WM_TIMER:
        window.KillTimer(wParam);
        if (wParam == kLifetimeTimer) {
          window.Destroy();
        } else {
          // Where a right click on an icon at the right end of the task bar would be.
          const platform::WorkArea area = desktop_.GetWorkArea();
          SetCursorPos(area.right - 40, area.bottom + 10);
          // Opens the settings pop-up and moves past its greyed items, so a picture shows them.
          for (const WPARAM key : {VK_DOWN, VK_RIGHT, VK_DOWN, VK_DOWN})
            PostMessageW(reinterpret_cast<HWND>(window.Handle()), WM_KEYDOWN, key, 0);
          OpenMenu(window);
        }
        return true;
      case kTrayMessage:
        if (lParam == WM_RBUTTONDOWN || lParam == WM_CONTEXTMENU) OpenMenu(window);
        return true;
      case WM_COMMAND:
        if (LOWORD(wParam) == IDM_TRAY_CLOSE) window.Destroy();
        return true;
      case WM_DESTROY:
        desktop_.NotifyIcon(platform::TrayAction::Delete, Tray());
        return true;
      case WM_NCDESTROY:
        window_ = nullptr;
        ui_.PostQuit(0);
        return true;
      default:
        return false;
    }
  }

 private:
  platform::TrayIcon Tray() {
    return {window_ ? window_->Handle() : 0, 1, kTrayMessage, IDI_SMOKE, ui_.LoadText(IDS_TRAY_TIP)};
  }

  void OpenMenu(platform::DialogWindow& window) {
    using Kind = platform::MenuEdit::Kind;
    // As the bridge does without a handset: ring and volume settings greyed, Chinese checked.
    ui_.ShowPopupMenu(window, IDR_TRAY_MENU, {{{0, 0}, Kind::Gray}, {{0, 1}, Kind::Gray}, {{1, 1}, Kind::Check}});
  }

  win32::Win32Ui ui_;
  win32::Win32Desktop desktop_;
  platform::DialogWindow* window_ = nullptr;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const int count = __argc;
  char** const args = __argv;
  if (count >= 3 && std::strcmp(args[1], "--window") == 0) return RunWindow(args[2]);
  if (count >= 3 && std::strcmp(args[1], "--mutex") == 0) return RunMutex(args[2]);
  if (count >= 2 && std::strcmp(args[1], "--tray-menu") == 0) return TrayMenuDemo().Run();
  return RunWindow(kPeerDefaultTitle);
}
