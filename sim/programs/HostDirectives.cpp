#include "sim/programs/HostDirectives.h"

#include <algorithm>
#include <string>
#include <variant>

namespace sim {
namespace {

Result FromUi(const std::optional<std::string>& error) { return error ? Result::Failed(*error) : Result::Ok(); }

}  // namespace

std::optional<Result> PerformUiDirective(SimUi& ui, const Directive& directive) {
  const auto& args = directive.args;
  if (std::holds_alternative<scenario::Answer>(args)) {
    ui.AnswerQueued();
    return Result::Ok();
  }
  if (const auto* act = std::get_if<scenario::Act>(&args)) return FromUi(ui.Act(act->window, act->action));
  if (const auto* deactivate = std::get_if<scenario::Deactivate>(&args))
    return FromUi(ui.Deactivate(deactivate->window));
  if (const auto* snapshot = std::get_if<scenario::Snapshot>(&args)) {
    std::optional<int> window;
    if (snapshot->window) window = *snapshot->window;
    return FromUi(ui.Snapshot(window));
  }
  return std::nullopt;
}

std::optional<Result> PerformMainWindowDirective(SimDesktop& desktop, platform::WindowHandle main,
                                                 const Directive& directive) {
  // A message parameter of -1 has every bit set in the parameter's full width.
  const auto wParamOf = [](std::int64_t value) { return static_cast<std::uintptr_t>(value); };
  const auto lParamOf = [](std::int64_t value) { return static_cast<std::intptr_t>(value); };
  const auto& args = directive.args;
  if (const auto* command = std::get_if<scenario::Command>(&args)) {
    desktop.PostTo(main, platform::kWmCommand, command->id, 0);
    return Result::Ok();
  }
  if (const auto* message = std::get_if<scenario::Message>(&args)) {
    const auto msg = message->registeredName ? desktop.RegisterMessage(*message->registeredName) : message->msg;
    desktop.PostTo(main, msg, wParamOf(message->wParam), lParamOf(message->lParam));
    return Result::Ok();
  }
  if (const auto* copy = std::get_if<scenario::CopyData>(&args)) {
    // `bytes` may claim fewer bytes than the text (no terminator within them) or more.
    std::string text = copy->text;
    const auto size = copy->bytes.value_or(static_cast<std::uint32_t>(text.size() + 1));
    text.resize(std::max<std::size_t>(text.size() + 1, size), '\0');
    platform::CopyData record{0, size, text.data()};
    desktop.SendFrom(nullptr, main, platform::kWmCopyData, wParamOf(copy->wParam),
                     reinterpret_cast<std::intptr_t>(&record));
    return Result::Ok();
  }
  return std::nullopt;
}

}  // namespace sim
