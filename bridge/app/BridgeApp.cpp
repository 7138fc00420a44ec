#include "bridge/app/BridgeApp.h"

#include "bridge/app/AudioManagerLink.h"
#include "bridge/app/Settings.h"
#include "resources/bridge/resource.h"

namespace bridge {

bool CBridgeApp::InitInstance() {
  const Language language = CurrentLanguage(ports_.registry, ports_.desktop, true);

  if (const char* library = LanguageLibrary(language)) {
    if (const auto module = ports_.ui.LoadLanguageLibrary(library)) ports_.ui.SetResourceModule(module);
    // Told even when the library is missing: the manager has its own resources.
    AudioManagerLink(ports_.desktop, ports_.registry, ports_.clock).SendLanguageToAudioManager(language);
  }

  // After the language step, so a second start still tells the manager before it ends.
  if (ports_.ui.CreateSingleInstanceMutex(kSingleInstanceMutex)) {
    mainWindow_ = std::make_unique<CBridgeDlg>(ports_);
    // Without its main window the program could never be ended: it ends at once instead.
    if (ports_.ui.CreateModeless(IDD_BRIDGE_MAIN, *mainWindow_, nullptr)) ports_.ui.RunMessageLoop();
  }
  return false;
}

}  // namespace bridge
