// What SimUi's two source files share.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Window.h"
#include "sim/scenario/Scenario.h"
#include "sim/ui/ResourceScript.h"
#include "sim/ui/SimDialog.h"
#include "sim/ui/SimUi.h"

namespace sim {

// The private message that wakes the user-interface thread for queued tasks and answers.
inline constexpr std::uint32_t kAgentWake = platform::kWmUser + 1;

// An open modal dialog, message box or tray menu, with what ends it.
struct SimUi::ModalFrame {
  enum class Kind { kDialog, kBox, kMenu };
  Kind kind = Kind::kDialog;
  std::shared_ptr<SimDialog> dialog;
  // A message box.
  std::string text;
  std::uint32_t flags = 0;
  std::optional<int> answer;
  // A menu.
  bool closed = false;
  std::optional<int> chosen;

  bool Done() const {
    switch (kind) {
      case Kind::kDialog:
        return dialog->ended || dialog->gone;
      case Kind::kBox:
        return answer.has_value();
      case Kind::kMenu:
        return closed;
    }
    return true;
  }
};

// The tray menu while it is open: its items with the edits applied.
struct SimUi::OpenMenu {
  std::vector<MenuItem> items;
};

// "ok", "click 1005", "slider 1010 4 code 8": an action as the scenario writes it.
std::string ActionText(const scenario::Action& action);

}  // namespace sim
