// The application object's message loop. No idle processing; the only pre-translation is the
// dialog keyboard handling (Tab, Enter, Escape, arrows) of the program's modeless dialogs.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>

namespace win32 {

class AppShell {
 public:
  // Answers whether a top-level window is one of the program's modeless dialogs.
  using DialogTest = std::function<bool(HWND)>;

  explicit AppShell(DialogTest isModelessDialog = {}) : isModelessDialog_(std::move(isModelessDialog)) {}

  // Pumps the calling thread's queue until WM_QUIT and returns its exit code.
  int Run();

 private:
  DialogTest isModelessDialog_;
};

}  // namespace win32
