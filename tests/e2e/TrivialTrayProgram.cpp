// trivial_tray: the least a tray program does, as the yardstick for Teliox.exe's start-up time
// (startup_probe): one hidden top-level window, one tray icon (id 1, the system's application
// icon), a message loop. It ends, taking its icon along, on WM_CLOSE or on the installer's
// "PX_CloseApplication" with 0xA0, as Teliox.exe does.
#include <windows.h>

#include <shellapi.h>

namespace {

constexpr UINT kTrayMessage = WM_APP + 1;
UINT closeMessage = 0;

LRESULT CALLBACK Proc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_CLOSE || (msg == closeMessage && closeMessage != 0 && wParam == 0xA0)) {
    DestroyWindow(window);
    return 0;
  }
  if (msg == WM_DESTROY) {
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = 1;
    Shell_NotifyIconW(NIM_DELETE, &icon);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  closeMessage = RegisterWindowMessageA("PX_CloseApplication");
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = Proc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"TelioxTrivialTray";
  if (!RegisterClassW(&windowClass)) return 1;
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"trivial tray", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 200, 100, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;

  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  icon.uID = 1;
  icon.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
  icon.uCallbackMessage = kTrayMessage;
  icon.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  lstrcpynW(icon.szTip, L"trivial tray", ARRAYSIZE(icon.szTip));
  if (!Shell_NotifyIconW(NIM_ADD, &icon)) return 2;

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
