// CAudioManagerApp: the audio device manager's application object. InitInstance runs the
// program's whole life: language, single instance, and the hidden main window run modally.
#pragma once

#include <memory>

#include "devicemanager/app/AudioManagerDlg.h"
#include "devicemanager/app/ManagerPorts.h"

namespace devicemanager {

inline constexpr char kSingleInstanceMutex[] = "AUDIO_MANAGER";

// The language library the system's language id selects; null for the built-in resources.
const char* ManagerLanguageLibrary(std::uint16_t langId);

class CAudioManagerApp {
 public:
  explicit CAudioManagerApp(ManagerPorts& ports) : ports_(ports) {}

  // Returns false once the program is over; the process then ends with exit code 0.
  bool InitInstance();

 private:
  ManagerPorts& ports_;
  // Kept past InitInstance so that threads still running until the process ends never see it go.
  std::unique_ptr<CAudioManagerDlg> mainWindow_;
};

}  // namespace devicemanager
