// CBridgeDlg: the bridge program's hidden main window. Its initialisation starts the client
// library, the worker threads and the audio device manager; it owns the tray icon and menu; every
// message the client library, the handset threads, the other dialogs and other programs send to
// the bridge arrives here. Destroying it ends the program.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "bridge/app/AudioManagerLink.h"
#include "bridge/app/BridgePorts.h"
#include "bridge/app/BridgeState.h"
#include "bridge/app/SimpleDialog.h"
#include "bridge/handset/HandsetLink.h"
#include "bridge/softphone/SoftphoneLink.h"
#include "platform/DialogPresenter.h"

namespace bridge {

// Resource identifiers the main window uses.
inline constexpr int kIddAbout = 100;
inline constexpr int kIddMainWindow = 102;
inline constexpr int kIddVolumePopup = 136;
inline constexpr int kIddVolume = 145;
inline constexpr int kIddRingTone = 159;
inline constexpr int kIdrTrayMenu = 152;
inline constexpr int kIdiMain = 128;
inline constexpr int kIdiHandsetOffClientOn = 129;
inline constexpr int kIdiHandsetOnClientOff = 146;
inline constexpr int kIdiHandsetOnClientOn = 147;
inline constexpr int kIdiHandsetOffClientOff = 148;
inline constexpr int kIdsOnline = 4;
inline constexpr int kIdsOffline = 5;
inline constexpr int kIdsFactoryResetQuestion = 13;
inline constexpr int kIdsAboutMenuItem = 101;

// Tray menu and test panel commands.
inline constexpr std::uint16_t kCmdClose = 32777;
inline constexpr std::uint16_t kCmdAbout = 32785;
inline constexpr std::uint16_t kCmdRingSettings = 32810;
inline constexpr std::uint16_t kCmdVolumeSettings = 32791;
inline constexpr std::uint16_t kCmdSoundDevices = 32792;
inline constexpr std::uint16_t kCmdFactoryReset = 32812;
inline constexpr std::uint16_t kCmdLanguage[] = {32796, 32797, 32814, 32815, 32816};  // languages 1..5
inline constexpr std::uint16_t kCmdEventModeFull = 32781;
inline constexpr std::uint16_t kCmdEventModeVolume = 32784;
inline constexpr std::uint32_t kSysCommandAbout = 0x10;
// The hidden test panel's diagnostic lists and their Clear buttons.
inline constexpr int kIdcTarvoDebug = 1000;
inline constexpr int kIdcHidDebug = 1003;
inline constexpr std::uint16_t kIdcTestYes = 1001;
inline constexpr std::uint16_t kIdcTestNo = 1002;
inline constexpr std::uint16_t kIdcTestVolumeUp = 1004;
inline constexpr std::uint16_t kIdcTestHold = 1008;
inline constexpr std::uint16_t kIdcTestVolumeDown = 1009;
inline constexpr std::uint16_t kIdcTestRing = 1005;
inline constexpr std::uint16_t kIdcTestStop = 1006;
inline constexpr std::uint16_t kIdcTestCommand = 1007;
inline constexpr std::uint16_t kIdcClearTarvoDebug = 1038;
inline constexpr std::uint16_t kIdcClearHidDebug = 1039;

// Private messages.
inline constexpr std::uint32_t kMsgRingTypeAccepted = 0x800;
inline constexpr std::uint32_t kMsgVoicemailClosed = 0x801;
inline constexpr std::uint32_t kMsgTrayNotify = 0x8001;   // WM_APP + 1
inline constexpr std::uint32_t kMsgKeyToneLevel = 0x8004;  // WM_APP + 4
inline constexpr char kCloseMessageName[] = "PX_CloseApplication";
inline constexpr std::uintptr_t kCloseRequest = 0xA0;
inline constexpr std::uintptr_t kCloseRequestAlso = 0xA2;

// Ring preview timers.
inline constexpr std::uintptr_t kTimerPreviewRing = 10223;
inline constexpr std::uintptr_t kTimerPreviewRingEnd = 10224;
inline constexpr std::uintptr_t kTimerPreviewSilent = 10225;
inline constexpr std::uintptr_t kTimerPreviewSilentEnd = 10226;

// The volume dialog ends with this code when the user changed the key-tone level.
inline constexpr std::intptr_t kVolumeDialogKeyToneChanged = 168;

inline constexpr char kAppTitle[] = "Teliox";
// The tray tip field holds 63 characters and a terminator.
inline constexpr std::size_t kTrayTipMax = 63;

// The parameter bytes of ring tones 0..9.
using RingParameters = std::array<std::uint8_t, 5>;
std::optional<RingParameters> RingToneParameters(std::uint32_t tone);

class CBridgeDlg final : public platform::DialogPresenter {
 public:
  CBridgeDlg(BridgePorts& ports, BridgeState& state);
  ~CBridgeDlg() override;

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

  // Operations other parts of the program call.
  void UpdateTrayIcon();
  void ShowTrayMenu();
  void ApplyRingSelection(std::uint32_t mode, std::uint32_t tone, std::uint32_t preview);
  void OnRingTypeAccepted();
  void FactoryReset();
  void SwitchLanguage(std::uint32_t language);
  bool IsClientWindowInBackground();

  // Handset reports (message 0x464).
  void OnHandsetEvent(std::uintptr_t wParam, std::intptr_t lParam);
  void LogHandsetReport(const std::uint8_t* bytes, int count);

 private:
  void OnInitDialog(platform::DialogWindow& window);
  void DispatchKey(std::uint8_t code);
  bool VoicemailListShown() const;
  void OnVoicemailKey();
  void PlayKeyTone(char tone);
  void OnDestroy();
  bool OnCommand(std::uint16_t id);
  void OnTimer(std::uintptr_t id);
  void OnTrayNotify(std::intptr_t mouseMessage);
  void OpenAbout();
  void OpenRingDialog();
  void OpenVolumeDialog();
  void OpenSoundDevices();
  // "LANGUAGE", derived from the system when 0; `write` stores a derived number.
  std::uint32_t CurrentLanguage(bool write);
  void SelectRingParameters(std::uint32_t tone);
  void Tray(platform::TrayAction action, int icon, const std::string& tip);
  // Hardware steps of the factory reset; the handset audio arrives with the audio devices.
  bool HandsetAudioPresent();
  void ResetHandsetVolumes();

  BridgePorts& ports_;
  BridgeState& state_;
  AudioManagerLink audioManager_;
  CHandsetLink handset_;
  CSoftphoneLink softphone_;
  platform::DialogWindow* window_ = nullptr;
  std::uint32_t closeMessage_ = 0;
  std::atomic<std::uint32_t> keyToneVolume_{1};
  // b2 of the last handset report handled; 100 at start, so a first report numbered 100 counts
  // as a repeat.
  std::uint32_t lastReportSequence_ = 100;
  bool ringDialogOpen_ = false;
  bool volumeDialogOpen_ = false;
  SimpleDialog volumePopupPresenter_;
  platform::DialogWindow* volumePopup_ = nullptr;
};

}  // namespace bridge
