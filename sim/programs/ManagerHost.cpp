#include "sim/programs/ManagerHost.h"

#include <algorithm>
#include <variant>

#include "platform/Window.h"
#include "resources/devicemanager/resource.h"

namespace sim {

ManagerHost::ManagerHost(World& world, const ResourceCatalogue& resources)
    : world_(world),
      program_(world.Desktop().AddProgram("manager", World::kManagerExe)),
      clock_(world.Clock()),
      desktop_(world.Desktop().DesktopFor(program_)) {
  ui_ = std::make_unique<SimUi>("manager", world.Desktop(), program_, clock_, resources,
                                [&world] { return world.TakeAnswer(); });
  ports_ = std::make_unique<devicemanager::ManagerPorts>(
      devicemanager::ManagerPorts{world.Registry(), clock_, *desktop_, *ui_, world.Audio()});
  app_ = std::make_unique<devicemanager::CAudioManagerApp>(*ports_);
  world.Log().Add("proc", "manager id " + std::to_string(program_.ProcessId()));
  ui_->StartUiThread([this] {
    app_->InitInstance();
    // InitInstance is over: the process ends with exit code 0.
    world_.Log().Add("exit", "manager 0");
    ended_ = true;
  });
}

ManagerHost::~ManagerHost() { Shutdown(); }

void ManagerHost::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  ui_->KillAndJoin();
  ended_ = true;
  app_.reset();
  ui_.reset();
  world_.Desktop().RemoveProgram(program_);
}

Result ManagerHost::Perform(const Directive& directive) {
  auto& desktop = world_.Desktop();
  const auto fromUi = [](std::optional<std::string> error) { return error ? Result::Failed(*error) : Result::Ok(); };
  const auto& args = directive.args;
  if (std::holds_alternative<scenario::Answer>(args)) {
    ui_->AnswerQueued();
    return Result::Ok();
  }
  if (const auto* act = std::get_if<scenario::Act>(&args)) return fromUi(ui_->Act(act->window, act->action));
  if (const auto* deactivate = std::get_if<scenario::Deactivate>(&args)) {
    return fromUi(ui_->Deactivate(deactivate->window));
  }
  if (const auto* snapshot = std::get_if<scenario::Snapshot>(&args)) {
    std::optional<int> window;
    if (snapshot->window) window = *snapshot->window;
    return fromUi(ui_->Snapshot(window));
  }

  const auto facts = ui_->Window(IDD_MANAGER_MAIN);
  const platform::WindowHandle main = facts ? facts->handle : 0;
  if (!main) return Result::Failed("the manager has no main window");
  if (const auto* command = std::get_if<scenario::Command>(&args)) {
    desktop.PostTo(main, platform::kWmCommand, command->id, 0);
    return Result::Ok();
  }
  if (const auto* message = std::get_if<scenario::Message>(&args)) {
    const auto msg = message->registeredName ? desktop.RegisterMessage(*message->registeredName) : message->msg;
    desktop.PostTo(main, msg, static_cast<std::uintptr_t>(message->wParam),
                   static_cast<std::intptr_t>(message->lParam));
    return Result::Ok();
  }
  if (const auto* copy = std::get_if<scenario::CopyData>(&args)) {
    // `bytes` may claim fewer bytes than the text (no terminator within them) or more.
    std::string text = copy->text;
    const auto size = copy->bytes.value_or(static_cast<std::uint32_t>(text.size() + 1));
    text.resize(std::max<std::size_t>(text.size() + 1, size), '\0');
    platform::CopyData record{0, size, text.data()};
    desktop.SendFrom(nullptr, main, platform::kWmCopyData, static_cast<std::uintptr_t>(copy->wParam),
                     reinterpret_cast<std::intptr_t>(&record));
    return Result::Ok();
  }
  return Result::Failed("the manager does not take " + directive.verb);
}

}  // namespace sim
