// One simulated dialog: a SimDesktop window owned by the program, its control store and the
// presenter that handles its messages. Internal to SimUi, which does the work.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/DialogPresenter.h"
#include "sim/SimDesktop.h"
#include "sim/ui/ResourceScript.h"
#include "sim/ui/SimDialogControls.h"
#include "sim/ui/SimUi.h"

namespace sim {

class SimDialog final : public platform::DialogWindow, public std::enable_shared_from_this<SimDialog> {
 public:
  SimDialog(SimUi& ui, const DialogTemplate& dialog, platform::DialogPresenter& presenter, bool modal,
            std::uintptr_t firstControlHandle, std::set<int> programBitmaps)
      : ui(ui),
        templateId(dialog.id),
        modal(modal),
        caption(dialog.caption),
        hasFont(dialog.fontSize != 0),
        presenter(presenter),
        controls(dialog, firstControlHandle, std::move(programBitmaps)) {}

  platform::DialogControls& Controls() override { return controls; }
  std::uintptr_t Handle() override { return handle; }
  void Show(bool visible) override { ui.ShowDialog(*this, visible); }
  void ShowCommand(int command) override { ui.ShowDialog(*this, command != platform::kSwHide); }
  void CenterOnOwner() override { ui.CenterDialog(*this); }
  void MakeTopmost() override { ui.MakeDialogTopmost(*this); }
  void Activate() override { ui.ActivateDialog(*this); }
  // The focus goes to a control of the window, which activates it.
  void Focus() override { ui.ActivateDialog(*this); }
  void End(std::intptr_t result) override;
  void Destroy() override;
  bool SetTimer(std::uintptr_t id, std::uint32_t ms) override;
  void KillTimer(std::uintptr_t id) override;
  void KeepHidden() override { keepHidden = true; }
  // The brush has no meaning here: any non-zero answer.
  std::intptr_t WhiteBackground(std::uintptr_t) override { return 1; }

  SimUi& ui;
  const int templateId;
  const bool modal;
  const std::string caption;
  const bool hasFont;
  platform::DialogPresenter& presenter;
  SimDialogControls controls;
  WindowHandle handle = 0;
  WindowHandle owner = 0;  // the parent or owner, which takes the dialog along when destroyed

  // Written on the user-interface thread, read by the host's.
  std::atomic<bool> ended{false};       // a modal dialog's End came
  std::atomic<bool> destroying{false};  // WM_DESTROY is on its way
  std::atomic<bool> gone{false};        // detached: the presenter hears nothing more
  std::atomic<bool> keepHidden{false};  // never shown, whoever asks
  std::intptr_t result = 0;

  // Guarded by the SimUi's mutex.
  bool visible = false;
  int icon = 0;
  std::optional<std::pair<int, int>> bottomRight;
  std::vector<std::pair<std::uint32_t, std::string>> systemMenu;
};

}  // namespace sim
