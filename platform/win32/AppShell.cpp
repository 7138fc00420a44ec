#include "platform/win32/AppShell.h"

namespace win32 {

int AppShell::Run() {
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) break;
    // -1 only reports a bad argument for this one message; the loop goes on.
    if (got == -1) continue;
    // A modeless dialog has keyboard handling (Tab, Enter, Escape) only when the loop asks
    // IsDialogMessage for it, with the dialog the message's window belongs to. "A message
    // processed by IsDialogMessage must not be passed to the TranslateMessage or DispatchMessage
    // function" (IsDialogMessage): it has done both. The A form goes with GetMessageA. Every
    // other message is still dispatched directly.
    if (isModelessDialog_ && msg.hwnd) {
      const HWND root = GetAncestor(msg.hwnd, GA_ROOT);
      if (root && isModelessDialog_(root) && IsDialogMessageA(root, &msg)) continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace win32
