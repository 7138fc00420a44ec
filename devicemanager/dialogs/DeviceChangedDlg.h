// CDeviceChangedDlg (template 149): Windows' default devices differ from the user's; the user
// keeps theirs (restored now) or accepts Windows' (they become the user's). Ends with 1, or with
// 0 without showing when the devices agree again; 1 without showing when there is nothing to ask.
#pragma once

#include "devicemanager/app/ManagerPorts.h"
#include "platform/DialogPresenter.h"

namespace devicemanager {

class CDeviceChangedDlg final : public platform::DialogPresenter {
 public:
  explicit CDeviceChangedDlg(ManagerPorts& ports) : ports_(ports) {}

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

 private:
  void OnInitDialog(platform::DialogWindow& window);
  void OnOk(platform::DialogWindow& window);

  ManagerPorts& ports_;
};

}  // namespace devicemanager
