// CAudioManagerDlg: the manager's hidden main window (template 157, title "SNDWD"). It takes the
// bridge's messages, checks every 5 s that a registered client process still runs, hosts the
// dialogs the watcher asks for, and runs the settings request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devicemanager/app/ManagerPorts.h"
#include "devicemanager/dialogs/DeviceSettingsDlg.h"
#include "devicemanager/watcher/DeviceWatcher.h"
#include "platform/DialogPresenter.h"

namespace devicemanager {

class CAudioManagerDlg final : public platform::DialogPresenter {
 public:
  static constexpr std::uintptr_t kRegistrationTimer = 1000;
  static constexpr std::uint32_t kRegistrationPeriodMs = 5000;
  // The values one check looks at, and the log lines list box 1072 keeps: a key with thousands
  // of values is scanned in bounded time and the log cannot grow without end.
  static constexpr std::uint32_t kMaxRegistrationValues = 4096;
  static constexpr int kMaxLogLines = 500;

  explicit CAudioManagerDlg(ManagerPorts& ports);

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

  // WM_TIMER 1000: ends the main window when no registered process runs; otherwise re-arms.
  void CheckClientRegistrations(platform::DialogWindow& window);
  // UWM_OPEN_SETTINGS; true when the request stopped early (no default processing).
  bool OpenSettingsRequest(platform::DialogWindow& window);

  const std::string& ClientMicName() const { return clientMicName_; }
  const std::string& ClientSpeakerName() const { return clientSpeakerName_; }

 private:
  void OnInitDialog(platform::DialogWindow& window);
  void OnCopyData(std::uintptr_t code, std::intptr_t lParam);
  void OnSetLanguage(std::uintptr_t language);
  void Log(platform::DialogWindow& window, const std::string& line);
  // Starts a watcher; `afterCurrent` makes it wait until the current one has ended.
  void StartWatcher(platform::DialogWindow& window, bool afterCurrent);

  ManagerPorts& ports_;
  bool settingsOpen_ = false;
  std::uint32_t closeMessage_ = 0;
  std::string clientMicName_;
  std::string clientSpeakerName_;
  CDeviceSettingsDlg settings_;
  std::shared_ptr<DeviceWatcherProc> watcher_;
};

}  // namespace devicemanager
