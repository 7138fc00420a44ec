// The tray icon, its menu and the language switch of the main window.
#include "bridge/app/BridgeDlg.h"
#include "bridge/app/Settings.h"

namespace bridge {

void CBridgeDlg::UpdateTrayIcon() {
  const bool handset = state_.handsetOpen;
  const bool client = state_.clientAttached;
  const int icon = handset ? (client ? kIdiHandsetOnClientOn : kIdiHandsetOnClientOff)
                           : (client ? kIdiHandsetOffClientOn : kIdiHandsetOffClientOff);
  const auto online = ports_.ui.LoadText(kIdsOnline);
  const auto offline = ports_.ui.LoadText(kIdsOffline);
  Tray(platform::TrayAction::Modify, icon,
       std::string(kAppTitle) + ": " + (handset ? online : offline) + "\nTarvo: " + (client ? online : offline));
}

void CBridgeDlg::ShowTrayMenu() {
  if (!window_) return;
  using Kind = platform::MenuEdit::Kind;
  const Kind settings = state_.handsetOpen ? Kind::Enable : Kind::Gray;
  std::vector<platform::MenuEdit> edits = {{{0, 0}, settings}, {{0, 1}, settings}, {{0, 4}, settings}};
  const auto language = CurrentLanguage(true);
  edits.push_back({{1, static_cast<int>(language) - 1}, Kind::Check});
  ports_.ui.ShowPopupMenu(*window_, kIdrTrayMenu, edits);
}

void CBridgeDlg::SwitchLanguage(std::uint32_t language) {
  platform::ModuleHandle module = platform::kProgramResources;
  if (language != kLanguageChinese) {
    const char* library = LanguageLibrary(language);
    if (!library) return;
    module = ports_.ui.LoadLanguageLibrary(library);
    if (module == 0) return;  // nothing changes
  }
  ports_.ui.SetResourceModule(module);
  WriteSetting(ports_.registry, kValueLanguage, language);
  audioManager_.SendLanguageToAudioManager(language);
  UpdateTrayIcon();
}

}  // namespace bridge
