#include "bridge/about/AboutDlg.h"

#include <cstdio>

#include "bridge/about/VersionResource.h"
#include "platform/Ui.h"
#include "platform/Window.h"
#include "resources/bridge/resource.h"

namespace bridge {
namespace {

// Bytes the display cannot show as two digits.
constexpr std::uint8_t kFirmwareByteLimit = 100;

}  // namespace

std::string CAboutDlg::FirmwareText(const Firmware& firmware) {
  if (!firmware.handsetOpen) return "x.x.x.x";
  if (firmware.major >= kFirmwareByteLimit || firmware.minor >= kFirmwareByteLimit) return "0.1.1.1";
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", firmware.major / 10, firmware.major % 10, firmware.minor / 10,
                firmware.minor % 10);
  return text;
}

std::optional<std::string> CAboutDlg::SoftwareText(platform::VersionResources& versions) {
  CVersionResource version(versions);
  if (!version.ReadFromModule()) return std::nullopt;
  char text[32];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", version.FileVersionPart(3), version.FileVersionPart(2),
                version.FileVersionPart(1), version.FileVersionPart(0));
  return text;
}

void CAboutDlg::OnInitDialog(platform::DialogWindow& window) {
  auto& controls = window.Controls();
  // Without a version resource the field keeps the template's text.
  if (const auto software = SoftwareText(versions_)) controls.SetText(IDC_SOFTWARE_VERSION, *software);
  controls.SetText(IDC_FIRMWARE_VERSION, FirmwareText(shown_));
}

bool CAboutDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t,
                          std::intptr_t& result) {
  switch (msg) {
    case platform::kWmInitDialog:
      OnInitDialog(window);
      result = 1;  // the default focus
      return true;
    case platform::kWmCommand: {
      const auto id = static_cast<int>(wParam & 0xFFFF);
      if (id != platform::kIdOk && id != platform::kIdCancel) return false;
      window.End(id);
      result = 0;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace bridge
