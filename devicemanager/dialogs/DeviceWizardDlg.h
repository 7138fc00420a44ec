// CDeviceWizardDlg (template 144): the user picks the playback and recording devices Windows
// should use; OK stores them and makes them Windows' defaults. Ends with 0 without showing when
// a side has fewer than two devices.
#pragma once

#include "devicemanager/app/ManagerPorts.h"
#include "platform/DialogPresenter.h"

namespace devicemanager {

class CDeviceWizardDlg final : public platform::DialogPresenter {
 public:
  explicit CDeviceWizardDlg(ManagerPorts& ports) : ports_(ports) {}

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

 private:
  void OnInitDialog(platform::DialogWindow& window);
  void OnOk(platform::DialogWindow& window);

  ManagerPorts& ports_;
};

}  // namespace devicemanager
