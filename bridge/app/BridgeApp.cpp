#include "bridge/app/BridgeApp.h"

#include "bridge/app/AudioManagerLink.h"
#include "bridge/app/Settings.h"
#include "common/SettingsKey.h"

namespace bridge {

bool CBridgeApp::InitInstance() {
  CSettingsKey settings(ports_.registry);
  const bool settingsOpen = OpenSettings(settings);
  std::uint32_t language = settingsOpen ? settings.ReadDword(kValueLanguage, 0) : 0;
  if (language == 0) {
    language = LanguageForLangId(ports_.desktop.SystemDefaultLangId());
    if (settingsOpen) settings.WriteDword(kValueLanguage, language);
  }

  if (const char* library = LanguageLibrary(language)) {
    if (const auto module = ports_.ui.LoadLanguageLibrary(library)) ports_.ui.SetResourceModule(module);
    // Told even when the library is missing: the manager has its own resources.
    AudioManagerLink(ports_.desktop, ports_.registry, ports_.clock).SendLanguageToAudioManager(language);
  }

  // After the language step, so a second start still tells the manager before it ends.
  if (ports_.ui.CreateSingleInstanceMutex(kSingleInstanceMutex)) {
    mainWindow_ = std::make_unique<CBridgeDlg>(ports_, state_);
    // Without its main window the program could never be ended: it ends at once instead.
    if (ports_.ui.CreateModeless(kIddMainWindow, *mainWindow_, nullptr)) ports_.ui.RunMessageLoop();
  }
  settings.Close();
  return false;
}

}  // namespace bridge
