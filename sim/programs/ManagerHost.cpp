#include "sim/programs/ManagerHost.h"

#include "platform/Window.h"
#include "resources/devicemanager/resource.h"
#include "sim/programs/HostDirectives.h"

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
  if (auto result = PerformUiDirective(*ui_, directive)) return *result;
  const auto facts = ui_->Window(IDD_MANAGER_MAIN);
  const platform::WindowHandle main = facts ? facts->handle : 0;
  if (!main) return Result::Failed("the manager has no main window");
  if (auto result = PerformMainWindowDirective(world_.Desktop(), main, directive)) return *result;
  return Result::Failed("the manager does not take " + directive.verb);
}

}  // namespace sim
