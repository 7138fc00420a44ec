#include "devicemanager/app/AudioManagerDlg.h"

#include <cstring>

#include "common/SettingsKey.h"
#include "devicemanager/app/ManagerSettings.h"
#include "devicemanager/dialogs/DeviceChangedDlg.h"
#include "devicemanager/dialogs/DeviceWizardDlg.h"
#include "resources/devicemanager/resource.h"

namespace devicemanager {
namespace {

constexpr std::uint32_t kPlatformNt = 2;

// A language number's resources: a library, or null for the built-in ones.
struct LanguageResources {
  std::uintptr_t language;
  const char* library;
};
constexpr LanguageResources kLanguages[] = {
    {1, "Swd_Eng.dll"}, {2, nullptr}, {3, "Swd_Jpn.dll"}, {4, "Swd_Fra.dll"}, {5, "Swd_Dut.dll"},
};

}  // namespace

CAudioManagerDlg::CAudioManagerDlg(ManagerPorts& ports) : ports_(ports), settings_(ports) {}

bool CAudioManagerDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam,
                                 std::intptr_t lParam, std::intptr_t& result) {
  result = 0;
  if (msg == closeMessage_ && closeMessage_ != 0) {
    if (wParam == kCloseCode) window.Destroy();
    return true;
  }
  switch (msg) {
    case platform::kWmInitDialog:
      OnInitDialog(window);
      result = 1;
      return true;
    case platform::kWmCopyData:
      OnCopyData(wParam, lParam);
      return true;
    case kUwmOpenSettings:
      OpenSettingsRequest(window);
      return true;
    case kUwmSetLanguage:
      OnSetLanguage(wParam);
      return true;
    case kUwmShowWizard: {
      CDeviceWizardDlg wizard(ports_);
      ports_.ui.RunModal(IDD_DEVICE_WIZARD, wizard, &window);
      return true;
    }
    case kUwmDeviceChanged: {
      CDeviceChangedDlg changed(ports_);
      result = ports_.ui.RunModal(IDD_DEVICE_CHANGED, changed, &window);
      return true;
    }
    case kUwmWatcherGaveUp:
      window.End(0);
      return true;
    case platform::kWmTimer:
      if (wParam != kRegistrationTimer) return false;
      CheckClientRegistrations(window);
      return true;
    case platform::kWmCommand:
      switch (static_cast<int>(wParam & 0xFFFF)) {
        case platform::kIdOk:
          window.End(platform::kIdOk);
          return true;
        case platform::kIdCancel:
        case IDC_MAIN_BUTTON1:
          // Escape must never end the program.
          return true;
        case IDC_MAIN_OPEN_SETTINGS:
          OpenSettingsRequest(window);
          return true;
        case IDC_MAIN_NEW_WATCHER:
          StartWatcher(window, false);
          return true;
        default:
          return false;
      }
    default:
      return false;
  }
}

void CAudioManagerDlg::OnInitDialog(platform::DialogWindow& window) {
  window.KeepHidden();
  ports_.ui.SetWindowIcon(window, IDI_APP);
  if (ports_.desktop.Version().platformId == kPlatformNt) {
    settingsOpen_ = false;
    CSettingsKey key(ports_.registry);
    if (key.Create(platform::kHkeyCurrentUser, kManagerKey)) {
      key.WriteDword(kDeviceWizard, key.ReadFlag(kDeviceWizard, 1));
      key.WriteDword(kWizardAutomatic, key.ReadFlag(kWizardAutomatic, 0));
      key.Close();
      StartWatcher(window, false);
    }
  } else {
    // No watcher, and settings requests do nothing, for the whole run.
    settingsOpen_ = true;
  }
  closeMessage_ = ports_.desktop.RegisterMessage(kCloseMessageName);
  window.SetTimer(kRegistrationTimer, kRegistrationPeriodMs);
}

void CAudioManagerDlg::StartWatcher(platform::DialogWindow& window, bool afterCurrent) {
  auto watcher = std::make_shared<DeviceWatcherProc>(ports_, window.Handle(), afterCurrent ? watcher_ : nullptr);
  watcher_ = watcher;
  ports_.ui.StartThread("device watcher", [watcher](std::stop_token) { watcher->Run(); });
}

void CAudioManagerDlg::OnCopyData(std::uintptr_t code, std::intptr_t lParam) {
  if ((code != 1 && code != 2) || lParam == 0) return;
  const auto* record = reinterpret_cast<const platform::CopyData*>(lParam);
  // A name is cut at 255 characters and at its terminator, whatever size the record claims.
  std::string name;
  if (record->data) {
    const auto* text = static_cast<const char*>(record->data);
    const std::size_t limit = std::min<std::size_t>(record->size, kNameCapacity);
    name.assign(text, strnlen(text, limit));
  }
  (code == 1 ? clientMicName_ : clientSpeakerName_) = std::move(name);
}

void CAudioManagerDlg::OnSetLanguage(std::uintptr_t language) {
  for (const auto& entry : kLanguages) {
    if (entry.language != language) continue;
    if (!entry.library) {
      ports_.ui.SetResourceModule(platform::kProgramResources);
    } else if (const auto module = ports_.ui.LoadLanguageLibrary(entry.library)) {
      ports_.ui.SetResourceModule(module);
    }
    return;
  }
}

void CAudioManagerDlg::Log(platform::DialogWindow& window, const std::string& line) {
  auto& controls = window.Controls();
  while (controls.ListCount(IDC_MAIN_LOG_LIST) >= kMaxLogLines) controls.ListDelete(IDC_MAIN_LOG_LIST, 0);
  controls.ListAdd(IDC_MAIN_LOG_LIST, line);
}

void CAudioManagerDlg::CheckClientRegistrations(platform::DialogWindow& window) {
  window.KillTimer(kRegistrationTimer);
  auto& registry = ports_.registry;
  const std::string path = std::string(kManagerKey) + kRegisterSubKey;
  platform::RegKey key = 0;
  if (registry.OpenKey(platform::kHkeyCurrentUser, path.c_str(), platform::RegAccess::Read, &key) !=
      platform::kErrorSuccess) {
    return window.End(0);
  }
  std::vector<std::uint32_t> ids;
  for (std::uint32_t index = 0; index < kMaxRegistrationValues; ++index) {
    char name[512];
    std::uint32_t nameSize = sizeof name;
    std::uint32_t type = 0;
    std::uint8_t data[4] = {};
    std::uint32_t dataSize = sizeof data;
    const std::int32_t status = registry.EnumValue(key, index, name, &nameSize, &type, data, &dataSize);
    Log(window, "RegEnumValue => " + std::to_string(status));
    if (status == platform::kErrorNoMoreItems) break;
    // A name over 511 characters or data over 4 bytes is no registration: step past it. Any
    // other failure would repeat for every index, so the scan ends there.
    if (status == platform::kErrorMoreData) continue;
    if (status != platform::kErrorSuccess) break;
    if (type == platform::kRegDword && dataSize == sizeof data) {
      ids.push_back(static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
                    static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24);
    }
  }
  registry.CloseKey(key);
  if (ids.empty()) return window.End(0);

  bool found = false;
  for (const auto& process : ports_.desktop.Processes()) {
    if (std::find(ids.begin(), ids.end(), process.id) != ids.end()) {
      Log(window, "Find Process");
      found = true;
      break;
    }
  }
  if (!found) return window.End(0);
  window.SetTimer(kRegistrationTimer, kRegistrationPeriodMs);
}

bool CAudioManagerDlg::OpenSettingsRequest(platform::DialogWindow& window) {
  if (settingsOpen_) {
    if (auto* open = settings_.Window()) open->Activate();
    return false;
  }
  auto& audio = ports_.audio;
  audio.UpdateAudioDevice(kManagerKey);
  if (audio.WaveInGetNumDevs() >= 1 && audio.WaveOutGetNumDevs() >= 1) {
    if (IsRemoteDesktopAudio(audio)) {
      ports_.ui.ShowMessageBox(nullptr, ports_.ui.LoadText(IDS_REMOTE_DESKTOP_NOTICE), "", platform::kMbOk);
      return true;
    }
    if (!DeviceNamesReady(audio)) return true;
  }
  settings_.SetClientNames(clientMicName_, clientSpeakerName_);
  // The watcher stops at its next step; the dialog opens at once without waiting for it.
  if (watcher_) watcher_->RequestStop();
  settingsOpen_ = true;
  ports_.ui.RunModal(IDD_DEVICE_SETTINGS, settings_, &window);
  if (ReadManagerFlag(ports_.registry, kDeviceWizard, 0) == 1) StartWatcher(window, true);
  settingsOpen_ = false;
  return false;
}

}  // namespace devicemanager
