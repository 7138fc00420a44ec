#include "bridge/audio/VolumeDlg.h"

#include "platform/Window.h"
#include "resources/bridge/resource.h"

namespace bridge {
namespace {

constexpr std::uint32_t kWmShowWindow = 0x0018;
constexpr std::uint32_t kWmActivate = 0x0006;
constexpr std::uint32_t kWmVScroll = 0x0115;
constexpr std::uint32_t kWaInactive = 0;
// Track bar notification codes (low word of WM_VSCROLL's wParam).
constexpr std::uint32_t kTbPageUp = 2;
constexpr std::uint32_t kTbThumbPosition = 4;
constexpr std::uint32_t kTbThumbTrack = 5;
constexpr std::uint32_t kTbEndTrack = 8;
constexpr std::uint32_t kVolumeTimerMs = 500;
constexpr std::uint32_t kPopupTimerMs = 1000;
constexpr int kKeyToneLevels = 2;  // 0 (loudest, at the top) .. 2

MixerLineRef LineOfSlider(int id) { return id == IDC_SPEAKER_VOLUME ? kSpeakerByIndex : kMicrophoneLine; }

}  // namespace

void CVolumeSlider::ShowControl(const platform::MixerControl& control, std::uint32_t value) {
  controls_.SliderSetRange(id_, static_cast<int>(control.minimum), static_cast<int>(control.maximum));
  const auto page = static_cast<int>(VolumeStep(control));
  SetPageSize(page);
  SetTicFreq(page);
  SetPos(static_cast<int>(SliderPosition(control, value)));
}

bool CVolumeDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam,
                           std::intptr_t lParam, std::intptr_t& result) {
  result = 0;
  switch (msg) {
    case platform::kWmInitDialog:
      OnInitDialog(window);
      result = 1;
      return true;
    case kWmVScroll:
      return OnVScroll(window, static_cast<std::uint32_t>(wParam & 0xFFFF), lParam);
    case platform::kWmTimer:
      if (wParam != kVolumeTimer) return false;
      OnTimer(window);
      return true;
    case platform::kWmCommand: {
      const auto id = static_cast<int>(wParam & 0xFFFF);
      // OK is the default button, so Enter ends the dialog the same way.
      if (id == IDC_VOLUME_OK || id == platform::kIdOk) {
        window.End(kVolumeDialogOk);
        return true;
      }
      if (id == platform::kIdCancel) {
        window.End(platform::kIdCancel);
        return true;
      }
      return false;
    }
    default:
      return false;
  }
}

void CVolumeDlg::OnInitDialog(platform::DialogWindow& window) {
  auto& controls = window.Controls();
  controls.SliderSetRange(IDC_KEYTONE_VOLUME, 0, kKeyToneLevels);
  controls.SliderSetPos(IDC_KEYTONE_VOLUME, static_cast<int>(keyToneLevel_));
  // Centred and on top also without the handset's audio: the owner is the hidden main window, so
  // the template's own position would put the dialog in the screen's corner, behind others.
  window.CenterOnOwner();
  window.MakeTopmost();
  if (!audio_.HandsetAudioPresent()) {
    // No timer: the sliders stay disabled for the dialog's whole life.
    EnableVolumeSliders(window, false);
    return;
  }
  for (const int id : {IDC_SPEAKER_VOLUME, IDC_MIC_VOLUME}) {
    // A control or value that cannot be read leaves the slider as the resource made it.
    const auto volume = audio_.ReadLineVolume(LineOfSlider(id));
    if (volume && volume->value) CVolumeSlider(controls, id).ShowControl(volume->control, *volume->value);
  }
  window.SetTimer(kVolumeTimer, kVolumeTimerMs);
}

bool CVolumeDlg::OnVScroll(platform::DialogWindow& window, std::uint32_t code, std::intptr_t control) {
  // Without the handset's audio the notification is ignored, the default handling too.
  if (!audio_.HandsetAudioPresent()) return true;
  auto& controls = window.Controls();
  const int id = controls.IdOf(static_cast<std::uintptr_t>(control));
  const bool moving = code >= kTbPageUp && code <= kTbThumbTrack;
  if (id == IDC_SPEAKER_VOLUME || id == IDC_MIC_VOLUME) {
    if (moving) {
      // Dragging changes the volume continuously; the refresh waits until the thumb is let go.
      window.KillTimer(kVolumeTimer);
      const int position = CVolumeSlider(controls, id).GetPos();
      if (position >= 0) audio_.SetLineVolumeFromSlider(LineOfSlider(id), static_cast<std::uint32_t>(position));
    } else if (code == kTbEndTrack) {
      window.SetTimer(kVolumeTimer, kVolumeTimerMs);
    }
  } else if (id == IDC_KEYTONE_VOLUME && moving) {
    const int position = CVolumeSlider(controls, id).GetPos();
    keyToneLevel_ = static_cast<std::uint32_t>(position < 0 ? 0 : position);
    desktop_.Send(ownerWindow_, UWM_KEYTONE_LEVEL, keyToneLevel_, 0);
  }
  return false;  // the slider's own handling follows
}

void CVolumeDlg::OnTimer(platform::DialogWindow& window) {
  window.KillTimer(kVolumeTimer);
  const bool present = audio_.HandsetAudioPresent();
  EnableVolumeSliders(window, present);
  if (present) {
    // The microphone follows changes made elsewhere; the speaker is left as the user set it.
    const auto volume = audio_.ReadLineVolume(kMicrophoneLine);
    if (volume && volume->value) {
      CVolumeSlider(window.Controls(), IDC_MIC_VOLUME)
          .SetPos(static_cast<int>(SliderPosition(volume->control, *volume->value)));
    }
  }
  window.SetTimer(kVolumeTimer, kVolumeTimerMs);
}

void CVolumeDlg::EnableVolumeSliders(platform::DialogWindow& window, bool enabled) {
  window.Controls().SetEnabled(IDC_SPEAKER_VOLUME, enabled);
  window.Controls().SetEnabled(IDC_MIC_VOLUME, enabled);
}

bool CVolumePopup::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam,
                             std::intptr_t lParam, std::intptr_t& result) {
  result = 0;
  switch (msg) {
    case platform::kWmInitDialog:
      window_ = &window;
      RefreshFromMixer();
      hideCountdown_ = kHideSeconds;
      result = 1;
      return true;
    case kWmShowWindow:
      if (wParam != 0) {
        // Directly above the taskbar at the right edge, wherever the taskbar is.
        const auto area = desktop_.GetWorkArea();
        ui_.MoveTopmostTo(window, area.right, area.bottom);
        window.Activate();
        hideCountdown_ = kHideSeconds;
        window.SetTimer(kVolumeTimer, kPopupTimerMs);
      }
      return false;
    case platform::kWmTimer:
      if (wParam != kVolumeTimer) return false;
      if (hideCountdown_ > 0) --hideCountdown_;
      if (hideCountdown_ == 0) {
        window.Show(false);
        window.KillTimer(kVolumeTimer);
      }
      return true;
    case kWmActivate:
      if ((wParam & 0xFFFF) == kWaInactive) window.Show(false);
      return false;
    case kWmVScroll: {
      // Once the user takes the slider the pop-up stays until it loses the focus.
      window.KillTimer(kVolumeTimer);
      if (!audio_.ProbedHandsetMixer()) return true;
      const auto code = static_cast<std::uint32_t>(wParam & 0xFFFF);
      // Only when the thumb is let go, never while it is dragged.
      if (code >= kTbPageUp && code <= kTbThumbPosition) {
        const int position = CVolumeSlider(window.Controls(), IDC_POPUP_SPEAKER).GetPos();
        if (position >= 0) audio_.SetSpeakerVolumeFromPopupSlider(static_cast<std::uint32_t>(position));
      }
      (void)lParam;
      return false;
    }
    case platform::kWmDestroy:
      window_ = nullptr;
      return false;
    default:
      return false;
  }
}

void CVolumePopup::RefreshFromMixer() {
  if (!window_) return;
  const auto mixer = audio_.ProbedHandsetMixer();
  if (!mixer) return;
  auto& winmm = audio_.Winmm();
  const auto control = GetLineControl(winmm, *mixer, kSpeakerByType, platform::kControlVolume);
  if (!control) return;
  const auto value = GetControlValue(winmm, *mixer, control->controlId);
  if (!value) return;
  CVolumeSlider(window_->Controls(), IDC_POPUP_SPEAKER).ShowControl(*control, *value);
}

}  // namespace bridge
