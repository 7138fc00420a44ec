#include "bridge/audio/RingToneDlg.h"

#include "platform/Ui.h"
#include "platform/Window.h"

namespace bridge {
namespace {

constexpr std::uint32_t kPreviewOn = 1;
constexpr std::uint32_t kPreviewOff = 2;
constexpr std::uint32_t kToneCount = 10;

}  // namespace

bool CRingToneDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam,
                             std::intptr_t, std::intptr_t& result) {
  result = 0;
  if (msg == platform::kWmInitDialog) {
    auto& controls = window.Controls();
    if (startMode_ == 2) {
      controls.SetChecked(kIdcRingSilent, true);
      selection_ = 0;
    } else if (startMode_ == 1) {
      selection_ = startTone_ + 1;
      if (startTone_ < kToneCount) controls.SetChecked(kIdcRingFirstTone + static_cast<int>(startTone_), true);
    }
    result = 1;
    return true;
  }
  if (msg != platform::kWmCommand) return false;
  const int id = static_cast<int>(wParam & 0xFFFF);
  if (id == kIdcRingSilent) {
    selection_ = 0;
  } else if (id >= kIdcRingFirstTone && id < kIdcRingFirstTone + static_cast<int>(kToneCount)) {
    selection_ = static_cast<std::uint32_t>(id - kIdcRingFirstTone) + 1;
  } else if (id == kIdcRingPlay) {
    ApplySelection(kPreviewOn);
  } else if (id == platform::kIdOk) {
    ApplySelection(kPreviewOff);
    window.End(platform::kIdOk);
  } else if (id == platform::kIdCancel) {
    window.End(platform::kIdCancel);
  } else {
    return false;
  }
  return true;
}

void CRingToneDlg::ApplySelection(std::uint32_t preview) {
  if (!selection_) return;
  if (*selection_ == 0) {
    apply_(2, 0, preview);
  } else {
    apply_(1, *selection_ - 1, preview);
  }
}

}  // namespace bridge
