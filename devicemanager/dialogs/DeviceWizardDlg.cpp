#include "devicemanager/dialogs/DeviceWizardDlg.h"

#include "common/SettingsKey.h"
#include "devicemanager/app/ManagerSettings.h"
#include "resources/devicemanager/resource.h"

namespace devicemanager {

bool CDeviceWizardDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam,
                                 std::intptr_t, std::intptr_t& result) {
  if (msg == platform::kWmInitDialog) {
    OnInitDialog(window);
    result = 1;
    return true;
  }
  if (msg != platform::kWmCommand) return false;
  switch (static_cast<int>(wParam & 0xFFFF)) {
    case IDC_DIALOG_OK:
      OnOk(window);
      return true;
    case platform::kIdOk:
    case platform::kIdCancel:
      // Enter and Escape close it storing nothing.
      window.End(static_cast<std::intptr_t>(wParam & 0xFFFF));
      return true;
    default:
      return false;
  }
}

void CDeviceWizardDlg::OnInitDialog(platform::DialogWindow& window) {
  auto& audio = ports_.audio;
  auto& controls = window.Controls();
  audio.UpdateAudioDevice(kManagerKey);
  const std::uint32_t playback = audio.WaveOutGetNumDevs();
  if (playback < 2) return window.End(0);
  for (std::uint32_t i = 0; i < playback; ++i) controls.ListAdd(IDC_PLAYBACK_LIST, PlaybackName(audio, i));
  const std::uint32_t recording = audio.WaveInGetNumDevs();
  if (recording < 2) return window.End(0);
  for (std::uint32_t i = 0; i < recording; ++i) controls.ListAdd(IDC_RECORDING_LIST, RecordingName(audio, i));
  controls.ListSelect(IDC_PLAYBACK_LIST, 0);
  controls.ListSelect(IDC_RECORDING_LIST, 0);
  window.CenterOnOwner();
  window.MakeTopmost();
}

void CDeviceWizardDlg::OnOk(platform::DialogWindow& window) {
  auto& controls = window.Controls();
  const std::string input = controls.ListItem(IDC_RECORDING_LIST, controls.ListSelection(IDC_RECORDING_LIST));
  const std::string output = controls.ListItem(IDC_PLAYBACK_LIST, controls.ListSelection(IDC_PLAYBACK_LIST));
  WriteManagerDevices(ports_.registry, input, output);
  ports_.audio.SetDefaultAudioDevice(input.c_str(), output.c_str());
  window.End(1);
}

}  // namespace devicemanager
