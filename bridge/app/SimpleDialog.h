// A dialog with nothing to decide: OK and Cancel end it with their own ids. The stand-in for
// dialogs whose own behaviour lives elsewhere in the program or arrives later.
#pragma once

#include "platform/DialogPresenter.h"
#include "platform/Window.h"

namespace bridge {

class SimpleDialog : public platform::DialogPresenter {
 public:
  bool OnMessage(platform::DialogWindow& window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t,
                 std::intptr_t& result) override {
    if (msg != platform::kWmCommand) return false;
    const auto id = static_cast<std::uint16_t>(wParam & 0xFFFF);
    if (id != 1 && id != 2) return false;  // IDOK, IDCANCEL
    window.End(id);
    result = 0;
    return true;
  }
};

}  // namespace bridge
