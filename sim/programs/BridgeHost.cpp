#include "sim/programs/BridgeHost.h"

#include <variant>

#include "bridge/app/BridgeDlg.h"
#include "platform/Window.h"
#include "resources/bridge/resource.h"

namespace sim {
namespace {

// A message parameter of -1 has every bit set in the parameter's full width.
std::uintptr_t WParamOf(std::int64_t value) { return static_cast<std::uintptr_t>(value); }
std::intptr_t LParamOf(std::int64_t value) { return static_cast<std::intptr_t>(value); }

}  // namespace

BridgeHost::BridgeHost(World& world, const ResourceCatalogue& resources)
    : world_(world),
      program_(world.Desktop().AddProgram("bridge", World::kBridgeExe)),
      clock_(world.Clock()),
      desktop_(world.Desktop().DesktopFor(program_)) {
  ui_ = std::make_unique<SimUi>("bridge", world.Desktop(), program_, clock_, resources,
                                [&world] { return world.TakeAnswer(); });
  versions_ = std::make_unique<SimVersionResources>(
      World::kBridgeExe,
      resources.builtin->version ? CompileVersionInfo(*resources.builtin->version) : std::vector<std::uint8_t>{},
      *desktop_);
  ports_ = std::make_unique<bridge::BridgePorts>(bridge::BridgePorts{
      world.Registry(), clock_, *desktop_, *ui_, world.Client(), world.Handset(), world.Audio(), *versions_});
  app_ = std::make_unique<bridge::CBridgeApp>(*ports_);
  world.Log().Add("proc", "bridge id " + std::to_string(program_.ProcessId()));
  ui_->StartUiThread([this] {
    app_->InitInstance();
    // InitInstance is over: the process ends with exit code 0.
    world_.Log().Add("exit", "bridge 0");
    ended_ = true;
  });
}

BridgeHost::~BridgeHost() { Shutdown(); }

void BridgeHost::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  ui_->KillAndJoin();
  ended_ = true;
  app_.reset();
  ui_.reset();
  world_.Desktop().RemoveProgram(program_);
}

platform::WindowHandle BridgeHost::MainWindow() {
  const auto facts = ui_->Window(IDD_BRIDGE_MAIN);
  return facts ? facts->handle : 0;
}

Result BridgeHost::Perform(const Directive& directive) {
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
  if (const auto* click = std::get_if<scenario::TrayClick>(&args)) {
    constexpr SimDesktop::TrayInput kInputs[] = {SimDesktop::TrayInput::LeftClick, SimDesktop::TrayInput::RightClick,
                                                 SimDesktop::TrayInput::ContextKey};
    if (!desktop.TrayIconInput("bridge", kInputs[static_cast<int>(click->click)])) {
      return Result::Failed("the bridge has no tray icon");
    }
    return Result::Ok();
  }

  const auto main = MainWindow();
  if (!main) return Result::Failed("the bridge has no main window");
  if (const auto* command = std::get_if<scenario::Command>(&args)) {
    desktop.PostTo(main, platform::kWmCommand, command->id, 0);
    return Result::Ok();
  }
  if (const auto* message = std::get_if<scenario::Message>(&args)) {
    const auto msg = message->registeredName ? desktop.RegisterMessage(*message->registeredName) : message->msg;
    desktop.PostTo(main, msg, WParamOf(message->wParam), LParamOf(message->lParam));
    return Result::Ok();
  }
  if (const auto* copy = std::get_if<scenario::CopyData>(&args)) {
    std::string text = copy->text;
    const auto size = copy->bytes.value_or(static_cast<std::uint32_t>(text.size() + 1));
    text.resize(std::max<std::size_t>(text.size() + 1, size), '\0');
    platform::CopyData record{0, size, text.data()};
    desktop.SendFrom(nullptr, main, platform::kWmCopyData, WParamOf(copy->wParam),
                     reinterpret_cast<std::intptr_t>(&record));
    return Result::Ok();
  }
  return Result::Failed("the bridge does not take " + directive.verb);
}

}  // namespace sim
