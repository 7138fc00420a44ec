// CAboutDlg: the About box (dialog 100): the program's own file version and the handset's
// firmware version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/DialogPresenter.h"
#include "platform/VersionResource.h"

namespace bridge {

class CAboutDlg final : public platform::DialogPresenter {
 public:
  // The firmware bytes as the handset link holds them, taken by the creator before the box opens.
  struct Firmware {
    bool handsetOpen = false;
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
  };

  CAboutDlg(platform::VersionResources& versions, Firmware shown) : versions_(versions), shown_(shown) {}

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

  // "x.x.x.x" without a handset; "0.1.1.1" for a byte of 100 or more; otherwise the tens and units
  // digits of the major byte, then of the minor one (12 and 5 read 1.2.0.5).
  static std::string FirmwareText(const Firmware& firmware);
  // The running program's file version, "1.3.0.3" for 1,3,0,3; none when it cannot be read.
  static std::optional<std::string> SoftwareText(platform::VersionResources& versions);

 private:
  void OnInitDialog(platform::DialogWindow& window);

  platform::VersionResources& versions_;
  Firmware shown_;
};

}  // namespace bridge
