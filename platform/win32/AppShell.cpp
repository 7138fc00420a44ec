#include "platform/win32/AppShell.h"

#include <windows.h>

namespace win32 {

int AppShell::Run() {
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) break;
    // -1 only reports a bad argument for this one message; the loop goes on.
    if (got == -1) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace win32
