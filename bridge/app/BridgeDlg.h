// CBridgeDlg: the bridge program's hidden main window. Its initialisation starts the client
// library, the worker threads and the audio device manager; it owns the tray icon and menu; every
// message the client library, the handset threads, the other dialogs and other programs send to
// the bridge arrives here. Destroying it ends the program.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "bridge/app/AudioManagerLink.h"
#include "bridge/app/BridgePorts.h"
#include "bridge/app/RingState.h"
#include "bridge/app/Settings.h"
#include "bridge/audio/HandsetAudio.h"
#include "bridge/audio/KeyTonePlayer.h"
#include "bridge/audio/VolumeDlg.h"
#include "bridge/handset/HandsetLink.h"
#include "bridge/softphone/SoftphoneLink.h"
#include "bridge/softphone/VoicemailDlg.h"
#include "platform/DialogPresenter.h"

namespace bridge {

// Private messages (0x800, the accepted ring tone, is the handset link's kMsgRingUploadAccepted;
// 0x801, the voicemail list closed by the user, is kMsgVoicemailClosed of VoicemailDlg.h).
inline constexpr std::uint32_t kMsgTrayNotify = 0x8001;               // WM_APP + 1
inline constexpr std::uint32_t kMsgKeyToneLevel = UWM_KEYTONE_LEVEL;  // WM_APP + 4
inline constexpr char kCloseMessageName[] = "PX_CloseApplication";
inline constexpr std::uintptr_t kCloseRequest = 0xA0;
inline constexpr std::uintptr_t kCloseRequestAlso = 0xA2;

// Ring preview timers.
inline constexpr std::uintptr_t kTimerPreviewRing = 10223;
inline constexpr std::uintptr_t kTimerPreviewRingEnd = 10224;
inline constexpr std::uintptr_t kTimerPreviewSilent = 10225;
inline constexpr std::uintptr_t kTimerPreviewSilentEnd = 10226;
// A tray icon the shell refused is added again on this timer.
inline constexpr std::uintptr_t kTimerTrayRetry = 10230;

inline constexpr char kAppTitle[] = "Teliox";
// The tray tip field holds 63 characters and a terminator.
inline constexpr std::size_t kTrayTipMax = 63;

class CBridgeDlg final : public platform::DialogPresenter {
 public:
  explicit CBridgeDlg(BridgePorts& ports);
  ~CBridgeDlg() override;

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

  // Operations other parts of the program call.
  void UpdateTrayIcon();
  void ShowTrayMenu();
  void ApplyRingSelection(RingMode mode, std::uint32_t tone, RingPreview preview);
  void OnRingTypeAccepted();
  void FactoryReset();
  void SwitchLanguage(Language language);
  bool IsClientWindowInBackground();

  const CHandsetLink& HandsetLink() const { return handset_; }

  // Handset reports (message 0x464): the handset link takes what is its own, the rest is listed
  // here and its key dispatched.
  void OnHandsetEvent(std::uintptr_t wParam, std::intptr_t lParam);
  void LogHandsetReport(const std::uint8_t* bytes, int count);

 private:
  void OnInitDialog(platform::DialogWindow& window);
  void DispatchKey(std::uint8_t code, HandsetEventMode mode);
  bool VoicemailListShown() const;
  void OnVoicemailKey();
  void PlayKeyTone(char tone);
  void OnDestroy();
  bool OnCommand(std::uint16_t id);
  // False for a timer that is not the main window's own: the default handling takes it.
  bool OnTimer(std::uintptr_t id);
  void OnTrayNotify(std::intptr_t mouseMessage);
  void OpenAbout();
  void OpenRingDialog();
  void OpenVolumeDialog();
  void OpenSoundDevices();
  // Points an attached client's audio at the handset's device when that is found.
  void PointClientAtHandset();
  // One speaker step from the handset's volume keys; the pop-up shows the result.
  void StepSpeakerVolume(bool up);
  // The test panel's mixer tests on the open handset's mixer.
  void MixerTestSourceLine();
  void MixerTestMicrophone();
  SoftphoneLinkHooks MakeSoftphoneHooks();
  HandsetLinkHooks MakeHandsetHooks();
  bool Tray(platform::TrayAction action, int icon, const std::string& tip);
  // The tray icon outlives the shell's taskbar: added again when a new taskbar announces itself
  // (the registered message "TaskbarCreated") and retried on a timer while the tray refuses it.
  struct TrayLook {
    int icon = 0;
    std::string tip;
  };
  TrayLook CurrentTrayLook();
  void WatchTaskbar(bool iconAdded);
  bool OnTaskbarMessage(std::uint32_t msg);
  bool OnTrayRetryTimer();
  void ShowTrayIconAgain();
  // Hardware steps of the factory reset.
  bool HandsetAudioPresent();
  void ResetHandsetVolumes();

  BridgePorts& ports_;
  RingState ring_;
  AudioManagerLink audioManager_;
  // The client link comes first: the handset link keeps a reference to its state.
  CSoftphoneLink softphone_;
  CHandsetLink handset_;
  HandsetAudio audio_;
  CKeyTonePlayer keyTones_;
  platform::DialogWindow* window_ = nullptr;
  // The main window's handle, for the tray record that worker threads redraw too.
  std::atomic<platform::WindowHandle> mainWindow_{0};
  std::uint32_t closeMessage_ = 0;
  // The program's icon as the window's own; also the picture a minimised window is dragged by.
  std::uintptr_t icon_ = 0;
  std::uint32_t taskbarCreated_ = 0;
  // Held while the icon's look is read and handed to the shell (UpdateTrayIcon runs on several
  // threads), and for nothing else.
  std::mutex trayMutex_;
  std::atomic<std::uint32_t> keyToneVolume_{1};
  bool ringDialogOpen_ = false;
  bool volumeDialogOpen_ = false;
  CVolumePopup volumePopupPresenter_;
  platform::DialogWindow* volumePopup_ = nullptr;
  // The voicemail list and the please-wait window.
  CVoicemailWindows voicemail_;
};

}  // namespace bridge
