#include "bridge/app/BridgeDlg.h"

#include "bridge/about/AboutDlg.h"
#include "bridge/app/Settings.h"
#include "platform/HidLink.h"
#include "platform/Window.h"
#include "resources/bridge/resource.h"

namespace bridge {
namespace {

constexpr std::uint32_t kWmNcDestroy = 0x0082;
constexpr std::uint32_t kWmPaint = 0x000F;
constexpr std::uint32_t kWmQueryDragIcon = 0x0037;
constexpr std::uint32_t kTrayIconId = 1;
constexpr char kClientWindowClass[] = "tTvMainForm.UnicodeClass";

}  // namespace

CBridgeDlg::CBridgeDlg(BridgePorts& ports)
    : ports_(ports),
      audioManager_(ports.desktop, ports.registry, ports.clock),
      softphone_(SoftphoneLinkPorts{ports.client, ports.clock}, ring_, MakeSoftphoneHooks()),
      handset_(HandsetLinkPorts{ports.clock, ports.hid, ports.client}, ring_, softphone_.State(), MakeHandsetHooks()),
      audio_(
          ports.registry, [&desktop = ports.desktop] { return desktop.Version(); }, ports.winmm,
          [this] {
            const auto& state = handset_.State();
            return HandsetAudio::HandsetIdentity{state.handsetOpen, state.handsetProductId};
          }),
      keyTones_(CKeyTonePlayer::Context{audio_, [this] { return mainWindow_.load(); },
                                        [this] { return keyToneVolume_.load(); }}),
      volumePopupPresenter_(audio_, ports.desktop, ports.ui),
      voicemail_(VoicemailPorts{ports.ui, ports.desktop, ports.client}) {}

// The hooks call back into members built later; they run only once the window is initialised.
SoftphoneLinkHooks CBridgeDlg::MakeSoftphoneHooks() {
  SoftphoneLinkHooks hooks;
  hooks.updateTray = [this] { UpdateTrayIcon(); };
  hooks.queueHandsetCommand = [this](std::uint8_t code) { handset_.QueueHandsetCommand(code); };
  hooks.handsetOpen = [this] { return handset_.IsOpen(); };
  hooks.markKeyActivity = [this] { handset_.MarkKeyActivity(); };
  hooks.pointClientAtHandset = [this] { PointClientAtHandset(); };
  hooks.clientWindowInBackground = [this] { return IsClientWindowInBackground(); };
  hooks.playKeyTone = [this](char tone) { PlayKeyTone(tone); };
  hooks.stepSpeakerVolume = [this](bool up) { StepSpeakerVolume(up); };
  hooks.closeVoicemailWindows = [this] { voicemail_.OnClientDetached(); };
  return hooks;
}

HandsetLinkHooks CBridgeDlg::MakeHandsetHooks() {
  HandsetLinkHooks hooks;
  hooks.updateTray = [this] { UpdateTrayIcon(); };
  hooks.ringUploadAccepted = [this] { ports_.desktop.Post(mainWindow_, kMsgRingUploadAccepted, 0, 0); };
  hooks.muteMicrophoneMonitor = [this] { audio_.MuteMicrophoneMonitor(); };
  hooks.pointClientAtHandset = [this] { PointClientAtHandset(); };
  return hooks;
}

CBridgeDlg::~CBridgeDlg() = default;

bool CBridgeDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam,
                           std::intptr_t lParam, std::intptr_t& result) {
  result = 0;
  // The registered close message has no fixed number.
  if (closeMessage_ != 0 && msg == closeMessage_) {
    if (wParam == kCloseRequest || wParam == kCloseRequestAlso) window.Destroy();
    return true;
  }
  if (OnTaskbarMessage(msg)) return true;
  if (softphone_.OnNotification(msg, wParam, lParam)) return true;
  if (keyTones_.OnWaveOutMessage(msg, wParam, lParam)) return true;
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
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        OpenAbout();
        return true;
      }
      return false;
    case kWmPaint:
      return false;  // the window is never shown: the default handling does
    case kWmQueryDragIcon:
      result = static_cast<std::intptr_t>(icon_);
      return true;
    case platform::kWmTimer:
      return OnTimer(wParam);
    case platform::kWmCommand:
      return OnCommand(static_cast<std::uint16_t>(wParam & 0xFFFF));
    case platform::kHandsetReportMessage:
      OnHandsetEvent(wParam, lParam);
      return true;
    case kMsgRingUploadAccepted:
      OnRingTypeAccepted();
      return true;
    case kMsgTrayNotify:
      OnTrayNotify(lParam);
      return true;
    case platform::kClientVoicemailList:
      voicemail_.OnListDelivered(wParam, lParam);
      return true;
    case platform::kClientVoicemailStatus:
      voicemail_.OnStatusChanged(wParam, lParam);
      return true;
    case kMsgVoicemailClosed:
      voicemail_.OnClosedByUser();
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
  mainWindow_ = window.Handle();
  voicemail_.SetParent(&window);
  handset_.SetMainWindow(window.Handle());
  if (const auto about = ports_.ui.LoadText(IDS_ABOUTBOX); !about.empty()) {
    ports_.ui.AddSystemMenuItem(window, IDM_ABOUTBOX, about);
  }
  icon_ = ports_.ui.SetWindowIcon(window, IDI_APP);

  const auto offline = ports_.ui.LoadText(IDS_OFFLINE);
  const bool trayAdded =
      Tray(platform::TrayAction::Add, IDI_TRAY_NONE, std::string(kAppTitle) + ": " + offline + "\nTarvo: " + offline);
  WatchTaskbar(trayAdded);

  // The links start in their initial state: nothing attached, open, ringing or muted, no preview,
  // ring mode 1, the full key mode, "Unknown" device names.
  keyToneVolume_ = 1;
  handset_.CreateEvents();

  closeMessage_ = ports_.desktop.RegisterMessage(kCloseMessageName);

  ring_.ringMode = static_cast<RingMode>(ReadSetting(ports_.registry, kValueRingMode, 1));
  ring_.ringType = ReadSetting(ports_.registry, kValueRingType, 0);
  keyToneVolume_ = ReadSetting(ports_.registry, kValueKeyTone, 1);

  ports_.client.Initialize(window.Handle());

  auto& ui = ports_.ui;
  ui.StartThread("DeviceMonitorThread", [this](std::stop_token stop) { handset_.DeviceMonitorThread(stop); });
  ui.StartThread("IndicatorThread", [this](std::stop_token stop) { handset_.IndicatorThread(stop); });
  ui.StartThread("KeyActivityThread", [this](std::stop_token stop) { handset_.KeyActivityThread(stop); });
  ui.StartThread("MutePollThread", [this](std::stop_token stop) { softphone_.MutePollThread(stop); });
  ui.StartThread("CommandSenderThread", [this](std::stop_token stop) { handset_.CommandSenderThread(stop); });

  volumePopup_ = ui.CreateModeless(IDD_VOLUME_POPUP, volumePopupPresenter_, &window);
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
  Tray(platform::TrayAction::Delete, IDI_TRAY_NONE, "");
  audioManager_.UnregisterFromAudioManager(kBridgeRegistrationName);
  handset_.Close();
}

bool CBridgeDlg::OnCommand(std::uint16_t id) {
  constexpr std::uint16_t kLanguageCommands[] = {ID_LANGUAGE_ENGLISH, ID_LANGUAGE_TRADITIONAL_CHINESE,
                                                 ID_LANGUAGE_JAPANESE, ID_LANGUAGE_FRENCH, ID_LANGUAGE_DUTCH};
  for (std::uint32_t i = 0; i < std::size(kLanguageCommands); ++i) {
    if (id == kLanguageCommands[i]) {
      SwitchLanguage(static_cast<Language>(i + 1));
      return true;
    }
  }
  switch (id) {
    case ID_CLOSE:
      if (window_) window_->Destroy();
      return true;
    case ID_VERSION:
      OpenAbout();
      return true;
    case ID_RING_SETTINGS:
      OpenRingDialog();
      return true;
    case ID_VOLUME_SETTINGS:
      OpenVolumeDialog();
      return true;
    case ID_SOUND_DEVICE_SETTINGS:
      OpenSoundDevices();
      return true;
    case ID_FACTORY_RESET:
      FactoryReset();
      return true;
    case ID_HANDSET_EVENTS_ON:
      handset_.SetEventMode(HandsetEventMode::Full);
      return true;
    case ID_HANDSET_EVENTS_OFF:
      handset_.SetEventMode(HandsetEventMode::VolumeOnly);
      return true;
    case ID_HELP:
      // The application's help handler: the program ships no help file, so there is nothing to show.
      return true;
    // The hidden test panel.
    case IDC_TEST_YES:
      softphone_.OnKeyAnswer();
      return true;
    case IDC_TEST_NO:
      softphone_.OnKeyHangUp();
      return true;
    case IDC_TEST_HOLD:
      ports_.client.UpdateContactList1();
      return true;
    case IDC_TEST_VOLUME_UP:
    case IDC_TEST_VOLUME_DOWN:
      softphone_.OnTestVolume(id == IDC_TEST_VOLUME_UP);
      return true;
    case IDC_TEST_UP:  // "^" rings
      handset_.QueueHandsetCommand(kHandsetRing);
      return true;
    case IDC_TEST_DOWN:  // "v" stops
      handset_.QueueHandsetCommand(kHandsetStopRing);
      return true;
    case IDC_TEST_TARVO:  // the handset's test command
      handset_.QueueHandsetCommand(kHandsetTestCommand);
      return true;
    case IDC_TEST_REDIAL:  // mixer test: the speaker's first source
      MixerTestSourceLine();
      return true;
    case IDC_TEST_MUTE:  // mixer test: the microphone paths
      MixerTestMicrophone();
      return true;
    case IDC_CLEAR_TARVO_DEBUG:
    case IDC_CLEAR_HID_DEBUG:
      if (window_) window_->Controls().ListClear(id == IDC_CLEAR_TARVO_DEBUG ? IDC_TARVO_DEBUG : IDC_HID_DEBUG);
      return true;
    case platform::kIdOk:  // Enter and Escape do nothing: the hidden window ends only when destroyed
    case platform::kIdCancel:
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
  const auto& state = handset_.State();
  CAboutDlg::Firmware shown{state.handsetOpen, 255, 255};
  // The version bytes count only once an exchange is complete; meanwhile 255 shows as "0.1.1.1".
  if (state.versionFirstReceived && state.versionSecondReceived) {
    shown.major = state.firmwareMajor;
    shown.minor = state.firmwareMinor;
  }
  CAboutDlg about(ports_.versions, shown);
  ports_.ui.RunModal(IDD_ABOUTBOX, about, window_);
}

void CBridgeDlg::OpenVolumeDialog() {
  if (volumeDialogOpen_) return;
  volumeDialogOpen_ = true;
  CVolumeDlg volume(audio_, ports_.desktop, keyToneVolume_, mainWindow_);
  const auto result = ports_.ui.RunModal(IDD_VOLUME, volume, window_);
  volumeDialogOpen_ = false;
  // Each change has reached the main window already; OK confirms the last one.
  if (result == kVolumeDialogOk) keyToneVolume_ = volume.KeyToneLevel();
}

void CBridgeDlg::StepSpeakerVolume(bool up) {
  if (!audio_.StepSpeakerVolume(up ? HandsetAudio::Step::Up : HandsetAudio::Step::Down)) return;
  volumePopupPresenter_.RefreshFromMixer();
  volumePopupPresenter_.RestartHideCountdown();
  if (volumePopup_) volumePopup_->ShowCommand(up ? platform::kSwShow : platform::kSwShowNormal);
}

void CBridgeDlg::PlayKeyTone(char tone) { keyTones_.PlayKeyTone(tone); }

bool CBridgeDlg::HandsetAudioPresent() { return audio_.HandsetAudioPresent(); }

void CBridgeDlg::ResetHandsetVolumes() { audio_.ResetHandsetVolumes(); }

void CBridgeDlg::MixerTestSourceLine() {
  const auto line = MixerLineRef::Source(0, 0);
  audio_.MixerTestStep(line, platform::kControlVolume, 0);
  audio_.MixerTestStep(line, platform::kControlMute, 1);
}

void CBridgeDlg::MixerTestMicrophone() {
  const auto monitor = MixerLineRef::MicrophoneMonitor();
  audio_.MixerTestStep(monitor, platform::kControlMute, 1);
  audio_.MixerTestStep(monitor, platform::kControlVolume, 0xFFFF);
  audio_.MixerTestStep(kSpeakerByIndex, platform::kControlVolume, 0);
  audio_.MixerTestStep(kMicrophoneLine, platform::kControlVolume, 0);
  audio_.MixerTestStep(kSpeakerByIndex, platform::kControlMute, 0);
  audio_.MixerTestStep(kMicrophoneLine, platform::kControlMute, 0);
}

void CBridgeDlg::OpenSoundDevices() {
  const auto& client = softphone_.State();
  audioManager_.OpenAudioManagerDevices(client.ClientAudioIn(), client.ClientAudioOut(),
                                        CurrentLanguage(ports_.registry, ports_.desktop, false),
                                        window_ ? window_->Handle() : 0);
}

bool CBridgeDlg::IsClientWindowInBackground() {
  auto& desktop = ports_.desktop;
  const auto client = desktop.FindTopWindow(kClientWindowClass, nullptr);
  // "In the background" means visible but not the window the user works with: the foreground
  // window, desktop-wide (the thread-local active window would never be the client's).
  return client != 0 && desktop.ForegroundWindow() != client && desktop.IsVisible(client);
}

void CBridgeDlg::PointClientAtHandset() {
  // The mixer whose product name is the handset's device name; the client takes that name.
  const auto name = audio_.FindMixerName(handset_.State().handsetProductId);
  if (!name || !softphone_.State().clientAttached) return;
  ports_.client.SendStringCommand(("SET AUDIO_IN " + *name).c_str());
  ports_.client.SendStringCommand(("SET AUDIO_OUT " + *name).c_str());
}

bool CBridgeDlg::Tray(platform::TrayAction action, int icon, const std::string& tip) {
  platform::TrayIcon record;
  record.window = mainWindow_;  // atomic: worker threads redraw the tray too
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
  return ports_.desktop.NotifyIcon(action, record);
}

}  // namespace bridge
