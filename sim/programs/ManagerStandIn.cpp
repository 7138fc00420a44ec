#include "sim/programs/ManagerStandIn.h"

#include "sim/ProgramClock.h"

namespace sim {
namespace {

constexpr std::uintptr_t kManagerCloseCode = 99;

}  // namespace

ManagerStandIn::ManagerStandIn(World& world)
    : world_(world), program_(world.Desktop().AddProgram("manager", World::kManagerExe)) {
  auto& desktop = world.Desktop();
  closeMessage_ = desktop.RegisterMessage("PX_CloseApplication");
  window_ = desktop.NewWindow(&program_, "SNDWD", "#32770", [this](std::uint32_t msg, std::uintptr_t wParam,
                                                                  std::intptr_t) -> std::intptr_t {
    if (msg == closeMessage_ && wParam == kManagerCloseCode) program_.PostQuit(0);
    return 0;
  });
  world.Log().Add("proc", "manager id " + std::to_string(program_.ProcessId()));
  thread_ = world.Clock().Spawn([this] {
    try {
      program_.BindUiThread();
      SimMessage message;
      while (program_.NextMessage(message)) program_.Dispatch(message);
      world_.Log().Add("exit", "manager 0");
    } catch (const ProcessEnded&) {
    }
    ended_ = true;
    world_.Desktop().EndProgram(program_);
  });
}

ManagerStandIn::~ManagerStandIn() { Shutdown(); }

void ManagerStandIn::Shutdown() {
  if (!thread_.joinable()) return;
  program_.Kill();
  world_.Settle();
  thread_.join();
  world_.Desktop().RemoveProgram(program_);
}

Result ManagerStandIn::Perform(const Directive& directive) {
  auto& desktop = world_.Desktop();
  if (const auto* message = std::get_if<scenario::Message>(&directive.args)) {
    const auto msg = message->registeredName ? desktop.RegisterMessage(*message->registeredName) : message->msg;
    desktop.PostTo(window_, msg, static_cast<std::uintptr_t>(message->wParam),
                   static_cast<std::intptr_t>(message->lParam));
    return Result::Ok();
  }
  if (std::holds_alternative<scenario::Answer>(directive.args)) return Result::Ok();
  return Result::Unsupported("the audio device manager is not built yet; its stand-in takes only messages");
}

}  // namespace sim
