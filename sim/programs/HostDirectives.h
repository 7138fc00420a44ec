// The directives every hosted program takes alike: the user's actions on its windows, and
// commands, messages and WM_COPYDATA sent to its main window.
#pragma once

#include <optional>

#include "platform/Window.h"
#include "sim/SimDesktop.h"
#include "sim/runner/World.h"
#include "sim/ui/SimUi.h"

namespace sim {

// answer, act, deactivate, snapshot; nothing when the directive is none of them.
std::optional<Result> PerformUiDirective(SimUi& ui, const Directive& directive);
// command, message, copydata to `main`; nothing when the directive is none of them.
std::optional<Result> PerformMainWindowDirective(SimDesktop& desktop, platform::WindowHandle main,
                                                 const Directive& directive);

}  // namespace sim
