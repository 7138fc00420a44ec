// The handset's reports as they arrive at the main window: repeats dropped, acknowledgements and
// version answers taken here, keys handed back for dispatch.
#include "bridge/handset/HandsetLink.h"

namespace bridge {

HandsetReport CHandsetLink::OnHandsetReport(std::uintptr_t wParam, std::intptr_t lParam) {
  HandsetReport report;
  // -1 in the 32 bits the library fills carries no report.
  if (static_cast<std::uint32_t>(lParam) == 0xFFFFFFFFu) return report;
  report.present = true;
  auto& b = report.bytes;
  platform::UnpackReport(wParam, lParam, b.data());
  if (b[2] != lastReportSequence_) {
    const std::uint8_t code = b[1];
    if (code == kHandsetAck && ackEvent_) ackEvent_->Set();
    // The version exchange comes before keys: a key pressed while both flags are clear is taken
    // for the first version byte.
    if (!state_.versionFirstReceived && !state_.versionSecondReceived) {
      state_.firmwareMajor = code;
      RequestFirmwareVersionSecond();
    } else if (state_.versionFirstReceived && !state_.versionSecondReceived) {
      // Written before the event is set: the monitor reads them once it wakes.
      state_.firmwareMinor = code;
      state_.versionSecondReceived = true;
      if (versionEvent_) versionEvent_->Set();
    } else {
      report.key = code;
      report.mode = state_.handsetEventMode;
    }
  }
  lastReportSequence_ = b[2];
  return report;
}

}  // namespace bridge
