#include "sim/programs/BridgeHost.h"

#include <variant>

#include "bridge/app/BridgeDlg.h"
#include "platform/Window.h"
#include "resources/bridge/resource.h"
#include "sim/programs/HostDirectives.h"

namespace sim {

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

std::optional<std::size_t> BridgeHost::HandsetQueueLength() const {
  if (ended_ || !app_) return std::nullopt;
  const auto* window = app_->MainWindow();
  if (!window) return std::nullopt;
  return window->HandsetLink().QueuedHandsetCommands();
}

platform::WindowHandle BridgeHost::MainWindow() {
  const auto facts = ui_->Window(IDD_BRIDGE_MAIN);
  return facts ? facts->handle : 0;
}

Result BridgeHost::Perform(const Directive& directive) {
  if (auto result = PerformUiDirective(*ui_, directive)) return *result;
  auto& desktop = world_.Desktop();
  if (const auto* click = std::get_if<scenario::TrayClick>(&directive.args)) {
    constexpr SimDesktop::TrayInput kInputs[] = {SimDesktop::TrayInput::LeftClick, SimDesktop::TrayInput::RightClick,
                                                 SimDesktop::TrayInput::ContextKey};
    if (!desktop.TrayIconInput("bridge", kInputs[static_cast<int>(click->click)])) {
      return Result::Failed("the bridge has no tray icon");
    }
    return Result::Ok();
  }
  const auto main = MainWindow();
  if (!main) return Result::Failed("the bridge has no main window");
  if (auto result = PerformMainWindowDirective(desktop, main, directive)) return *result;
  return Result::Failed("the bridge does not take " + directive.verb);
}

}  // namespace sim
