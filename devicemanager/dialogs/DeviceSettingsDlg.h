// CDeviceSettingsDlg (template 145): one object for the whole run. Shows the devices the client
// uses, switches the watcher on or off, chooses between restoring automatically and asking, and
// picks the user's devices. OK ends with 168; the watcher started after it applies the choice.
#pragma once

#include <string>

#include "devicemanager/app/ManagerPorts.h"
#include "platform/DialogPresenter.h"

namespace devicemanager {

class CDeviceSettingsDlg final : public platform::DialogPresenter {
 public:
  static constexpr std::intptr_t kResultOk = 168;
  // The client's names shown: at most 254 characters each.
  static constexpr std::size_t kClientNameCapacity = 254;

  explicit CDeviceSettingsDlg(ManagerPorts& ports) : ports_(ports) {}

  void SetClientNames(const std::string& input, const std::string& output);
  // The open dialog's window, null while it is closed.
  platform::DialogWindow* Window() const { return window_; }

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

 private:
  void OnInitDialog(platform::DialogWindow& window);
  void OnOk(platform::DialogWindow& window);
  void EnableChoices(platform::DialogControls& controls, bool enabled);
  void FillOutputList(platform::DialogControls& controls);
  void FillInputList(platform::DialogControls& controls);
  bool IsNtFamily();

  ManagerPorts& ports_;
  std::string clientInput_;
  std::string clientOutput_;
  platform::DialogWindow* window_ = nullptr;
};

}  // namespace devicemanager
