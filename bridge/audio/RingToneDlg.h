// CRingToneDlg: chooses between silent ringing and the handset's ten ring tones, and can preview
// the choice on the handset. The choice goes to the main window's ApplyRingSelection.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/DialogPresenter.h"

namespace bridge {

inline constexpr int kIdcRingSilent = 1099;
inline constexpr int kIdcRingFirstTone = 1100;  // 1100..1109: tones 0..9
inline constexpr int kIdcRingPlay = 1087;

class CRingToneDlg final : public platform::DialogPresenter {
 public:
  // (mode, tone, preview) as ApplyRingSelection takes them.
  using Apply = std::function<void(std::uint32_t mode, std::uint32_t tone, std::uint32_t preview)>;

  CRingToneDlg(Apply apply, std::uint32_t startMode, std::uint32_t startTone)
      : apply_(std::move(apply)), startMode_(startMode), startTone_(startTone) {}

  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                 std::intptr_t& result) override;

  // 0 silent, 1..10 tone 0..9; none while nothing is chosen.
  std::optional<std::uint32_t> Selection() const { return selection_; }

 private:
  void ApplySelection(std::uint32_t preview);

  Apply apply_;
  std::uint32_t startMode_;
  std::uint32_t startTone_;
  std::optional<std::uint32_t> selection_;
};

}  // namespace bridge
