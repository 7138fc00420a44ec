// The tray icon, its menu and the language switch of the main window; the icon coming back when
// the shell's taskbar starts again.
#include "bridge/app/BridgeDlg.h"
#include "bridge/app/Settings.h"
#include "resources/bridge/resource.h"

namespace bridge {
namespace {

// A taskbar that starts (the shell restarted, or came up after the programs of the log-on) holds
// no icons; it broadcasts this registered message to every top-level window so that programs
// add theirs again (Windows' "Taskbar Creation Notification"; Wine's tray never restarts). A
// process running elevated would not hear it from the shell (UIPI drops registered messages from
// a lower integrity level); Teliox runs with the user's rights.
constexpr char kTaskbarCreatedName[] = "TaskbarCreated";
// Shell_NotifyIcon fails while there is no taskbar yet, or when the shell does not answer in
// time. The tray has no "ready" signal besides the broadcast, which a program that started in
// between can miss, so a refused icon is tried again every few seconds until the tray takes it.
constexpr std::uint32_t kTrayRetryMs = 3000;

}  // namespace

CBridgeDlg::TrayLook CBridgeDlg::CurrentTrayLook() {
  const bool handset = handset_.IsOpen();
  const bool client = softphone_.State().clientAttached;
  const int icon =
      handset ? (client ? IDI_TRAY_BOTH : IDI_TRAY_HANDSET_ONLY) : (client ? IDI_TRAY_CLIENT_ONLY : IDI_TRAY_NONE);
  const auto online = ports_.ui.LoadText(IDS_ONLINE);
  const auto offline = ports_.ui.LoadText(IDS_OFFLINE);
  return {icon,
          std::string(kAppTitle) + ": " + (handset ? online : offline) + "\nTarvo: " + (client ? online : offline)};
}

void CBridgeDlg::UpdateTrayIcon() {
  // The worker threads and the user-interface thread both redraw the icon. Reading the state and
  // handing it to the shell is one step under the lock, so an older look can never reach the tray
  // after a newer one (a handset open racing a client attach once left "client offline" showing).
  std::lock_guard lock(trayMutex_);
  const auto look = CurrentTrayLook();
  Tray(platform::TrayAction::Modify, look.icon, look.tip);
}

void CBridgeDlg::WatchTaskbar(bool iconAdded) {
  taskbarCreated_ = ports_.desktop.RegisterMessage(kTaskbarCreatedName);
  if (!iconAdded && window_) window_->SetTimer(kTimerTrayRetry, kTrayRetryMs);
}

bool CBridgeDlg::OnTaskbarMessage(std::uint32_t msg) {
  // Registered, so it has no fixed number.
  if (taskbarCreated_ == 0 || msg != taskbarCreated_) return false;
  ShowTrayIconAgain();
  return true;
}

bool CBridgeDlg::OnTrayRetryTimer() {
  ShowTrayIconAgain();
  return true;
}

void CBridgeDlg::ShowTrayIconAgain() {
  if (!window_) return;
  std::lock_guard lock(trayMutex_);
  // With what the icon shows now: the state may have changed while there was no tray.
  const auto look = CurrentTrayLook();
  // An add the shell answered too late may have been made all the same, and a taskbar that comes
  // back for other reasons may still hold the icon: then it is there to be modified.
  if (Tray(platform::TrayAction::Add, look.icon, look.tip) || Tray(platform::TrayAction::Modify, look.icon, look.tip)) {
    window_->KillTimer(kTimerTrayRetry);
  } else {
    window_->SetTimer(kTimerTrayRetry, kTrayRetryMs);
  }
}

void CBridgeDlg::ShowTrayMenu() {
  if (!window_) return;
  using Kind = platform::MenuEdit::Kind;
  const Kind settings = handset_.IsOpen() ? Kind::Enable : Kind::Gray;
  std::vector<platform::MenuEdit> edits = {{{0, 0}, settings}, {{0, 1}, settings}, {{0, 4}, settings}};
  const auto language = CurrentLanguage(ports_.registry, ports_.desktop, true);
  edits.push_back({{1, static_cast<int>(common::LanguageNumber(language)) - 1}, Kind::Check});
  ports_.ui.ShowPopupMenu(*window_, IDR_TRAY_MENU, edits);
}

void CBridgeDlg::SwitchLanguage(Language language) {
  platform::ModuleHandle module = platform::kProgramResources;
  if (language != Language::TraditionalChinese) {
    const char* library = LanguageLibrary(language);
    if (!library) return;
    module = ports_.ui.LoadLanguageLibrary(library);
    if (module == 0) return;  // nothing changes
  }
  ports_.ui.SetResourceModule(module);
  WriteSetting(ports_.registry, kValueLanguage, common::LanguageNumber(language));
  audioManager_.SendLanguageToAudioManager(language);
  UpdateTrayIcon();
}

}  // namespace bridge
