#include "devicemanager/dialogs/DeviceChangedDlg.h"

#include "common/SettingsKey.h"
#include "devicemanager/app/ManagerSettings.h"
#include "resources/devicemanager/resource.h"

namespace devicemanager {
namespace {

constexpr std::uint32_t kWmCtlColorEdit = 0x0133;
constexpr std::uint32_t kWmCtlColorStatic = 0x0138;

bool IsReadOnlyEdit(int id) {
  return id == IDC_CURRENT_SPEAKER || id == IDC_CURRENT_MIC || id == IDC_STORED_SPEAKER || id == IDC_STORED_MIC;
}

}  // namespace

bool CDeviceChangedDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam,
                                  std::intptr_t lParam, std::intptr_t& result) {
  switch (msg) {
    case platform::kWmInitDialog:
      OnInitDialog(window);
      result = 1;
      return true;
    case kWmCtlColorEdit:
    case kWmCtlColorStatic:
      if (!IsReadOnlyEdit(window.Controls().IdOf(static_cast<std::uintptr_t>(lParam)))) return false;
      result = window.WhiteBackground(wParam);
      return true;
    case platform::kWmCommand:
      break;
    default:
      return false;
  }
  switch (static_cast<int>(wParam & 0xFFFF)) {
    case IDC_DIALOG_OK:
      OnOk(window);
      return true;
    case platform::kIdOk:
    case platform::kIdCancel:
      window.End(static_cast<std::intptr_t>(wParam & 0xFFFF));
      return true;
    default:
      return false;
  }
}

void CDeviceChangedDlg::OnInitDialog(platform::DialogWindow& window) {
  auto& audio = ports_.audio;
  auto& controls = window.Controls();
  audio.UpdateAudioDevice(kManagerKey);
  if (audio.WaveInGetNumDevs() < 2 || audio.WaveOutGetNumDevs() < 2) return window.End(1);
  std::string currentIn;
  std::string currentOut;
  if (!DefaultDevices(audio, currentIn, currentOut)) return window.End(1);
  controls.SetText(IDC_CURRENT_SPEAKER, currentOut);
  controls.SetText(IDC_CURRENT_MIC, currentIn);
  controls.SetChecked(IDC_KEEP_MINE, true);
  controls.SetChecked(IDC_ACCEPT_WINDOWS, false);
  controls.SetChecked(IDC_AUTOMATIC, true);
  const std::string storedIn = ReadManagerName(ports_.registry, kDeviceIn);
  const std::string storedOut = ReadManagerName(ports_.registry, kDeviceOut);
  controls.SetText(IDC_STORED_MIC, storedIn);
  controls.SetText(IDC_STORED_SPEAKER, storedOut);
  if (storedIn.empty() || storedOut.empty()) return window.End(1);
  if (currentIn == storedIn && currentOut == storedOut) return window.End(0);
  window.CenterOnOwner();
  window.MakeTopmost();
}

void CDeviceChangedDlg::OnOk(platform::DialogWindow& window) {
  auto& controls = window.Controls();
  CSettingsKey key(ports_.registry);
  if (controls.IsChecked(IDC_KEEP_MINE)) {
    const std::string storedIn = ReadManagerName(ports_.registry, kDeviceIn);
    const std::string storedOut = ReadManagerName(ports_.registry, kDeviceOut);
    ports_.audio.SetDefaultAudioDevice(storedIn.c_str(), storedOut.c_str());
  } else {
    std::string currentIn;
    std::string currentOut;
    if (DefaultDevices(ports_.audio, currentIn, currentOut))
      WriteManagerDevices(ports_.registry, currentIn, currentOut);
  }
  if (key.Create(platform::kHkeyCurrentUser, kManagerKey)) {
    key.WriteDword(kWizardAutomatic, controls.IsChecked(IDC_AUTOMATIC) ? 1 : 0);
  }
  window.End(1);
}

}  // namespace devicemanager
