// CRingToneDlg: chooses between silent ringing and the handset's ten ring tones, and can preview
// the choice on the handset. The choice goes to the main window's ApplyRingSelection.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "bridge/app/RingState.h"
#include "platform/DialogPresenter.h"

namespace bridge {

class CRingToneDlg final : public platform::DialogPresenter {
 public:
  // (mode, tone, preview) as ApplyRingSelection takes them.
  using Apply = std::function<void(RingMode mode, std::uint32_t tone, RingPreview preview)>;

  CRingToneDlg(Apply apply, RingMode startMode, std::uint32_t startTone)
      : apply_(std::move(apply)), startMode_(startMode), startTone_(startTone) {}

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

  // 0 silent, 1..10 tone 0..9; none while nothing is chosen.
  std::optional<std::uint32_t> Selection() const { return selection_; }

 private:
  void ApplySelection(RingPreview preview);

  Apply apply_;
  RingMode startMode_;
  std::uint32_t startTone_;
  std::optional<std::uint32_t> selection_;
};

}  // namespace bridge
