#include "devicemanager/dialogs/DeviceSettingsDlg.h"

#include "common/SettingsKey.h"
#include "devicemanager/app/ManagerSettings.h"
#include "resources/devicemanager/resource.h"

namespace devicemanager {
namespace {

constexpr std::uint32_t kCbnDropDown = 7;
constexpr std::uint32_t kWmNcDestroy = 0x0082;
constexpr std::uint32_t kWmCtlColorEdit = 0x0133;
constexpr std::uint32_t kWmCtlColorStatic = 0x0138;
constexpr std::uint32_t kPlatformNt = 2;

// One side's list: the stored device first when present, then every other device in index order.
template <typename NameOf>
void FillList(platform::DialogControls& controls, int list, std::uint32_t count, const std::string& stored,
              NameOf nameOf) {
  controls.ListClear(list);
  if (!stored.empty()) {
    for (std::uint32_t i = 0; i < count; ++i) {
      if (nameOf(i) == stored) {
        controls.ListAdd(list, stored);
        break;
      }
    }
  }
  if (count == 0) controls.SetEnabled(list, false);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::string name = nameOf(i);
    if (name != stored) controls.ListAdd(list, name);
  }
  controls.ListSelect(list, 0);
}

}  // namespace

void CDeviceSettingsDlg::SetClientNames(const std::string& input, const std::string& output) {
  clientInput_ = input.substr(0, kClientNameCapacity);
  clientOutput_ = output.substr(0, kClientNameCapacity);
}

bool CDeviceSettingsDlg::IsNtFamily() { return ports_.desktop.Version().platformId == kPlatformNt; }

bool CDeviceSettingsDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam,
                                   std::intptr_t lParam, std::intptr_t& result) {
  switch (msg) {
    case platform::kWmInitDialog:
      window_ = &window;
      OnInitDialog(window);
      result = 1;
      return true;
    case kWmNcDestroy:
      window_ = nullptr;
      return false;
    case kWmCtlColorEdit:
    case kWmCtlColorStatic: {
      const int id = window.Controls().IdOf(static_cast<std::uintptr_t>(lParam));
      if (id != IDC_CLIENT_SPEAKER && id != IDC_CLIENT_MIC) return false;
      result = window.WhiteBackground(wParam);
      return true;
    }
    case platform::kWmCommand:
      break;
    default:
      return false;
  }
  const int id = static_cast<int>(wParam & 0xFFFF);
  const auto notification = static_cast<std::uint32_t>(wParam >> 16);
  auto& controls = window.Controls();
  switch (id) {
    case IDC_SETTINGS_OK:
      OnOk(window);
      return true;
    case IDC_SETTINGS_CANCEL:
      window.End(0);
      return true;
    case platform::kIdOk:
    case platform::kIdCancel:
      window.End(id);
      return true;
    case IDC_DO_NOTHING:
      EnableChoices(controls, !controls.IsChecked(IDC_DO_NOTHING));
      return true;
    case IDC_PLAYBACK_LIST:
      if (notification != kCbnDropDown) return false;
      FillOutputList(controls);
      return true;
    case IDC_RECORDING_LIST:
      if (notification != kCbnDropDown) return false;
      FillInputList(controls);
      return true;
    default:
      return false;
  }
}

void CDeviceSettingsDlg::EnableChoices(platform::DialogControls& controls, bool enabled) {
  controls.SetEnabled(IDC_AUTOMATIC, enabled);
  controls.SetEnabled(IDC_RECORDING_LIST, enabled);
  controls.SetEnabled(IDC_PLAYBACK_LIST, enabled);
}

void CDeviceSettingsDlg::OnInitDialog(platform::DialogWindow& window) {
  auto& controls = window.Controls();
  const std::string windowsDefault = ports_.ui.LoadText(IDS_WINDOWS_DEFAULT_DEVICE);
  controls.SetText(IDC_CLIENT_MIC, clientInput_.empty() ? windowsDefault : clientInput_);
  controls.SetText(IDC_CLIENT_SPEAKER, clientOutput_.empty() ? windowsDefault : clientOutput_);
  ports_.audio.UpdateAudioDevice(kManagerKey);
  if (IsNtFamily()) {
    CSettingsKey key(ports_.registry);
    if (key.Create(platform::kHkeyCurrentUser, kManagerKey)) {
      controls.SetChecked(IDC_AUTOMATIC, key.ReadFlag(kWizardAutomatic, 0) == 1);
      const bool watching = key.ReadFlag(kDeviceWizard, 0) == 1;
      controls.SetChecked(IDC_DO_NOTHING, !watching);
      EnableChoices(controls, watching);
      key.Close();
    }
    FillInputList(controls);
    FillOutputList(controls);
  } else {
    controls.SetEnabled(IDC_DO_NOTHING, false);
    EnableChoices(controls, false);
  }
  window.CenterOnOwner();
  window.MakeTopmost();
}

void CDeviceSettingsDlg::FillOutputList(platform::DialogControls& controls) {
  auto& audio = ports_.audio;
  FillList(controls, IDC_PLAYBACK_LIST, audio.WaveOutGetNumDevs(), ReadManagerName(ports_.registry, kDeviceOut),
           [&audio](std::uint32_t i) { return PlaybackName(audio, i); });
}

void CDeviceSettingsDlg::FillInputList(platform::DialogControls& controls) {
  auto& audio = ports_.audio;
  FillList(controls, IDC_RECORDING_LIST, audio.WaveInGetNumDevs(), ReadManagerName(ports_.registry, kDeviceIn),
           [&audio](std::uint32_t i) { return RecordingName(audio, i); });
}

void CDeviceSettingsDlg::OnOk(platform::DialogWindow& window) {
  auto& controls = window.Controls();
  CSettingsKey key(ports_.registry);
  if (IsNtFamily() && key.Create(platform::kHkeyCurrentUser, kManagerKey)) {
    const bool doNothing = controls.IsChecked(IDC_DO_NOTHING);
    key.WriteDword(kDeviceWizard, doNothing ? 0 : 1);
    key.WriteDword(kWizardAutomatic, controls.IsChecked(IDC_AUTOMATIC) ? 1 : 0);
    if (!doNothing && ports_.audio.WaveInGetNumDevs() >= 1 && ports_.audio.WaveOutGetNumDevs() >= 1) {
      const std::string input = controls.ListItem(IDC_RECORDING_LIST, controls.ListSelection(IDC_RECORDING_LIST));
      const std::string output = controls.ListItem(IDC_PLAYBACK_LIST, controls.ListSelection(IDC_PLAYBACK_LIST));
      key.WriteString(kDeviceIn, input.c_str());
      key.WriteString(kDeviceOut, output.c_str());
    }
    key.Close();
  }
  window.End(kResultOk);
}

}  // namespace devicemanager
