// The volume dialog (three vertical sliders: the handset's speaker and microphone, and the
// key-tone level) and the volume pop-up (the speaker slider the volume keys show for a few
// seconds at the bottom-right corner of the screen).
#pragma once

#include <cstdint>

#include "bridge/audio/HandsetAudio.h"
#include "platform/Desktop.h"
#include "platform/DialogPresenter.h"
#include "platform/Ui.h"

namespace bridge {

// The volume dialog ends with this code when its OK button closed it.
inline constexpr std::intptr_t kVolumeDialogOk = 168;
// Sent to the main window with each new key-tone level (WM_APP + 4), wParam the level.
inline constexpr std::uint32_t UWM_KEYTONE_LEVEL = 0x8004;
inline constexpr std::uintptr_t kVolumeTimer = 100;

// The slider operations the two windows use, on one track bar of a dialog.
class CVolumeSlider {
 public:
  CVolumeSlider(platform::DialogControls& controls, int id) : controls_(controls), id_(id) {}
  void SetPageSize(int page) { controls_.SliderSetPage(id_, page); }
  int GetPos() { return controls_.SliderPos(id_); }
  void SetPos(int position) { controls_.SliderSetPos(id_, position); }
  void SetTicFreq(int frequency) { controls_.SliderSetTicFrequency(id_, frequency); }
  // Range, page size and tick frequency for a volume control, and the position of `value`.
  void ShowControl(const platform::MixerControl& control, std::uint32_t value);

 private:
  platform::DialogControls& controls_;
  int id_;
};

class CVolumeDlg final : public platform::DialogPresenter {
 public:
  CVolumeDlg(HandsetAudio& audio, platform::Desktop& desktop, std::uint32_t keyToneLevel,
             platform::WindowHandle ownerWindow)
      : audio_(audio), desktop_(desktop), keyToneLevel_(keyToneLevel), ownerWindow_(ownerWindow) {}

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

  std::uint32_t KeyToneLevel() const { return keyToneLevel_; }

 private:
  void OnInitDialog(platform::DialogWindow& window);
  bool OnVScroll(platform::DialogWindow& window, std::uint32_t code, std::intptr_t control);
  void OnTimer(platform::DialogWindow& window);
  void EnableVolumeSliders(platform::DialogWindow& window, bool enabled);

  HandsetAudio& audio_;
  platform::Desktop& desktop_;
  std::uint32_t keyToneLevel_;
  platform::WindowHandle ownerWindow_;
};

class CVolumePopup final : public platform::DialogPresenter {
 public:
  CVolumePopup(HandsetAudio& audio, platform::Desktop& desktop, platform::Ui& ui)
      : audio_(audio), desktop_(desktop), ui_(ui) {}

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

  // Sets the slider from the speaker's volume on the handset's mixer.
  void RefreshFromMixer();
  void RestartHideCountdown() { hideCountdown_ = kHideSeconds; }
  int HideCountdown() const { return hideCountdown_; }

 private:
  static constexpr int kHideSeconds = 5;

  HandsetAudio& audio_;
  platform::Desktop& desktop_;
  platform::Ui& ui_;
  platform::DialogWindow* window_ = nullptr;
  int hideCountdown_ = kHideSeconds;
};

}  // namespace bridge
