#include "bridge/app/BridgeDlg.h"

#include "bridge/app/Settings.h"
#include "platform/HidLink.h"
#include "platform/Window.h"

namespace bridge {
namespace {

constexpr std::uint32_t kWmNcDestroy = 0x0082;
constexpr std::uint32_t kWmPaint = 0x000F;
constexpr std::uint32_t kWmQueryDragIcon = 0x0037;
constexpr std::uint32_t kTrayIconId = 1;

}  // namespace

CBridgeDlg::CBridgeDlg(BridgePorts& ports, BridgeState& state)
    : ports_(ports),
      state_(state),
      audioManager_(ports.desktop, ports.registry, ports.clock),
      handset_(ports, state,
               HandsetLinkHooks{[this] { UpdateTrayIcon(); }, [this](std::uint32_t tone) { SelectRingParameters(tone); },
                                nullptr, nullptr}),
      softphone_(ports, state,
                 SoftphoneLinkHooks{[this] { UpdateTrayIcon(); },
                                    [this](std::uint8_t code) { handset_.QueueHandsetCommand(code); },
                                    [this] { handset_.PointClientAtHandset(); },
                                    [this] { return IsClientWindowInBackground(); },
                                    [this](char tone) { PlayKeyTone(tone); }, nullptr, nullptr}) {}

CBridgeDlg::~CBridgeDlg() = default;

bool CBridgeDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam,
                           std::intptr_t lParam, std::intptr_t& result) {
  result = 0;
  // The registered close message has no fixed number.
  if (closeMessage_ != 0 && msg == closeMessage_) {
    if (wParam == kCloseRequest || wParam == kCloseRequestAlso) window.Destroy();
    return true;
  }
  if (softphone_.OnNotification(msg, wParam, lParam)) return true;
  switch (msg) {
    case platform::kWmInitDialog:
      OnInitDialog(window);
      result = 1;
      return true;
    case platform::kWmDestroy:
      OnDestroy();
      return true;
    case kWmNcDestroy:
      window_ = nullptr;
      // The application's main window is gone: the program's message loop ends.
      ports_.ui.PostQuit(0);
      return true;
    case platform::kWmSysCommand:
      if ((wParam & 0xFFF0) == kSysCommandAbout) {
        OpenAbout();
        return true;
      }
      return false;
    case kWmPaint:
    case kWmQueryDragIcon:
      return false;  // the window is never shown: the default handling does
    case platform::kWmTimer:
      OnTimer(wParam);
      return true;
    case platform::kWmCommand:
      return OnCommand(static_cast<std::uint16_t>(wParam & 0xFFFF));
    case platform::kHandsetReportMessage:
      OnHandsetEvent(wParam, lParam);
      return true;
    case kMsgRingTypeAccepted:
      OnRingTypeAccepted();
      return true;
    case kMsgTrayNotify:
      OnTrayNotify(lParam);
      return true;
    case kMsgKeyToneLevel:
      keyToneVolume_ = static_cast<std::uint32_t>(wParam);
      WriteSetting(ports_.registry, kValueKeyTone, keyToneVolume_);
      return true;
    default:
      return false;
  }
}

void CBridgeDlg::OnInitDialog(platform::DialogWindow& window) {
  window_ = &window;
  // Recorded first: the tray record names it, and worker threads read it from here.
  state_.mainWindow = window.Handle();
  if (const auto about = ports_.ui.LoadText(kIdsAboutMenuItem); !about.empty()) {
    ports_.ui.AddSystemMenuItem(window, kSysCommandAbout, about);
  }
  ports_.ui.SetWindowIcon(window, kIdiMain);

  const auto offline = ports_.ui.LoadText(kIdsOffline);
  Tray(platform::TrayAction::Add, kIdiHandsetOffClientOff,
       std::string(kAppTitle) + ": " + offline + "\nTarvo: " + offline);

  state_.callRinging = false;
  state_.clientAttached = false;
  state_.handsetOpen = false;
  state_.clientMuted = false;
  state_.ringPreviewActive = false;
  state_.ringMode = 1;
  state_.handsetEventMode = 1;
  state_.appliedRingType = 0;
  state_.SetClientAudioIn("Unknown");
  state_.SetClientAudioOut("Unknown");
  state_.keyActivityOn = false;
  state_.keyActivitySeconds = 0;
  state_.ringingCallId = 0;
  keyToneVolume_ = 1;
  handset_.CreateEvents();

  closeMessage_ = ports_.desktop.RegisterMessage(kCloseMessageName);

  state_.ringMode = ReadSetting(ports_.registry, kValueRingMode, 1);
  state_.ringType = ReadSetting(ports_.registry, kValueRingType, 0);
  keyToneVolume_ = ReadSetting(ports_.registry, kValueKeyTone, 1);

  ports_.client.Initialize(window.Handle());

  auto& ui = ports_.ui;
  ui.StartThread("DeviceMonitorThread", [this](std::stop_token stop) { handset_.DeviceMonitorThread(stop); });
  ui.StartThread("IndicatorThread", [this](std::stop_token stop) { handset_.IndicatorThread(stop); });
  ui.StartThread("KeyActivityThread", [this](std::stop_token stop) { handset_.KeyActivityThread(stop); });
  ui.StartThread("MutePollThread", [this](std::stop_token stop) { softphone_.MutePollThread(stop); });
  ui.StartThread("CommandSenderThread", [this](std::stop_token stop) { handset_.CommandSenderThread(stop); });

  volumePopup_ = ui.CreateModeless(kIddVolumePopup, volumePopupPresenter_, &window);
  if (volumePopup_) {
    const auto area = ports_.desktop.GetWorkArea();
    ui.MoveTopmostTo(*volumePopup_, area.right, area.bottom);
  }

  audioManager_.StartAudioManager();
  audioManager_.RegisterWithAudioManager(kBridgeRegistrationName);
}

void CBridgeDlg::OnDestroy() {
  // The client goes back to its own choice of devices.
  ports_.client.SendCommandDirect("set audio_in");
  ports_.client.SendCommandDirect("set audio_out");
  ports_.clock.Sleep(100);
  Tray(platform::TrayAction::Delete, kIdiHandsetOffClientOff, "");
  audioManager_.UnregisterFromAudioManager(kBridgeRegistrationName);
  handset_.Close();
}

bool CBridgeDlg::OnCommand(std::uint16_t id) {
  for (std::uint32_t language = 1; language <= kLanguageCount; ++language) {
    if (id == kCmdLanguage[language - 1]) {
      SwitchLanguage(language);
      return true;
    }
  }
  switch (id) {
    case kCmdClose:
      if (window_) window_->Destroy();
      return true;
    case kCmdAbout:
      OpenAbout();
      return true;
    case kCmdRingSettings:
      OpenRingDialog();
      return true;
    case kCmdVolumeSettings:
      OpenVolumeDialog();
      return true;
    case kCmdSoundDevices:
      OpenSoundDevices();
      return true;
    case kCmdFactoryReset:
      FactoryReset();
      return true;
    case kCmdEventModeFull:
      state_.handsetEventMode = 1;
      return true;
    case kCmdEventModeVolume:
      state_.handsetEventMode = 0;
      return true;
    case kIdcTestYes:
      softphone_.OnKeyAnswer();
      return true;
    case kIdcTestNo:
      softphone_.OnKeyHangUp();
      return true;
    case kIdcTestHold:
      ports_.client.UpdateContactList1();
      return true;
    case kIdcTestVolumeUp:
    case kIdcTestVolumeDown:
      softphone_.OnTestVolume(id == kIdcTestVolumeUp);
      return true;
    case kIdcTestRing:
      handset_.QueueHandsetCommand(kHandsetRing);
      return true;
    case kIdcTestStop:
      handset_.QueueHandsetCommand(kHandsetStopRing);
      return true;
    case kIdcTestCommand:
      handset_.QueueHandsetCommand(kHandsetTestCommand);
      return true;
    case kIdcClearTarvoDebug:
    case kIdcClearHidDebug:
      if (window_) window_->Controls().ListClear(id == kIdcClearTarvoDebug ? kIdcTarvoDebug : kIdcHidDebug);
      return true;
    case 1:  // Enter and Escape do nothing: the hidden window ends only when destroyed
    case 2:
      return true;
    default:
      return false;
  }
}

void CBridgeDlg::OnTrayNotify(std::intptr_t mouseMessage) {
  if (mouseMessage != platform::kWmRButtonDown && mouseMessage != platform::kWmContextMenu) return;
  softphone_.RequestClientAudioDevices();
  ShowTrayMenu();
}

void CBridgeDlg::OpenAbout() {
  SimpleDialog about;
  ports_.ui.RunModal(kIddAbout, about, window_);
}

void CBridgeDlg::OpenVolumeDialog() {
  if (volumeDialogOpen_) return;
  volumeDialogOpen_ = true;
  SimpleDialog volume;
  const auto result = ports_.ui.RunModal(kIddVolume, volume, window_);
  volumeDialogOpen_ = false;
  (void)result;  // the key-tone level comes back with code 168 once the dialog has its slider
}

void CBridgeDlg::OpenSoundDevices() {
  audioManager_.OpenAudioManagerDevices(state_.ClientAudioIn(), state_.ClientAudioOut(), CurrentLanguage(false),
                                        window_ ? window_->Handle() : 0);
}

std::uint32_t CBridgeDlg::CurrentLanguage(bool write) {
  CSettingsKey key(ports_.registry);
  const bool open = OpenSettings(key);
  std::uint32_t language = open ? key.ReadDword(kValueLanguage, 0) : 0;
  if (language == 0) {
    language = LanguageForLangId(ports_.desktop.SystemDefaultLangId());
    if (write && open) key.WriteDword(kValueLanguage, language);
  }
  return language;
}

bool CBridgeDlg::IsClientWindowInBackground() {
  auto& desktop = ports_.desktop;
  const auto client = desktop.FindTopWindow("tTvMainForm.UnicodeClass", nullptr);
  return client != 0 && desktop.ActiveWindow() != client && desktop.IsVisible(client);
}

void CBridgeDlg::Tray(platform::TrayAction action, int icon, const std::string& tip) {
  platform::TrayIcon record;
  record.window = state_.mainWindow;  // atomic: worker threads redraw the tray too
  record.id = kTrayIconId;
  record.callbackMessage = kMsgTrayNotify;
  record.iconResource = icon;
  // Cut to the tip field by characters, never inside one.
  std::size_t end = 0, characters = 0;
  while (end < tip.size() && characters < kTrayTipMax) {
    ++end;
    while (end < tip.size() && (static_cast<unsigned char>(tip[end]) & 0xC0) == 0x80) ++end;
    ++characters;
  }
  record.tip = tip.substr(0, end);
  ports_.desktop.NotifyIcon(action, record);
}

}  // namespace bridge
