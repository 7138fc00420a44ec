#include "bridge/audio/RingToneDlg.h"

#include "platform/Ui.h"
#include "platform/Window.h"
#include "resources/bridge/resource.h"

namespace bridge {
namespace {

// The ten tone buttons carry consecutive identifiers, tone 0 first.
constexpr int kFirstToneButton = IDC_RING_TONE_1;
static_assert(IDC_RING_TONE_10 == kFirstToneButton + static_cast<int>(kRingToneCount) - 1);

}  // namespace

bool CRingToneDlg::OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t,
                             std::intptr_t& result) {
  result = 0;
  if (msg == platform::kWmInitDialog) {
    auto& controls = window.Controls();
    if (startMode_ == RingMode::Silent) {
      controls.SetChecked(IDC_RING_SILENT, true);
      selection_ = 0;
    } else if (startMode_ == RingMode::Ring) {
      selection_ = startTone_ + 1;
      if (startTone_ < kRingToneCount) controls.SetChecked(kFirstToneButton + static_cast<int>(startTone_), true);
    }
    result = 1;
    return true;
  }
  if (msg != platform::kWmCommand) return false;
  const int id = static_cast<int>(wParam & 0xFFFF);
  if (id == IDC_RING_SILENT) {
    selection_ = 0;
  } else if (id >= kFirstToneButton && id < kFirstToneButton + static_cast<int>(kRingToneCount)) {
    selection_ = static_cast<std::uint32_t>(id - kFirstToneButton) + 1;
  } else if (id == IDC_RING_PLAY) {
    ApplySelection(RingPreview::AfterUpload);
  } else if (id == platform::kIdOk) {
    ApplySelection(RingPreview::None);
    window.End(platform::kIdOk);
  } else if (id == platform::kIdCancel) {
    window.End(platform::kIdCancel);
  } else {
    return false;
  }
  return true;
}

void CRingToneDlg::ApplySelection(RingPreview preview) {
  if (!selection_) return;
  if (*selection_ == 0) {
    apply_(RingMode::Silent, 0, preview);
  } else {
    apply_(RingMode::Ring, *selection_ - 1, preview);
  }
}

}  // namespace bridge
