// The application object's message loop. No idle processing and no pre-translation, so modeless
// dialogs get no dialog keyboard navigation (no IsDialogMessage).
#pragma once

namespace win32 {

class AppShell {
 public:
  // Pumps the calling thread's queue until WM_QUIT and returns its exit code.
  int Run();
};

}  // namespace win32
