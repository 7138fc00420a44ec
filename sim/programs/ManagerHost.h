// The audio device manager in the simulated world: its real portable code on a program clock,
// the simulated user interface and the world's models (the audio world as its audio control
// library) as its ports.
#pragma once

#include <atomic>
#include <memory>

#include "devicemanager/app/AudioManagerApp.h"
#include "sim/ProgramClock.h"
#include "sim/runner/World.h"
#include "sim/ui/SimUi.h"

namespace sim {

class ManagerHost final : public ProgramHost {
 public:
  ManagerHost(World& world, const ResourceCatalogue& resources);
  ~ManagerHost() override;

  Result Perform(const Directive& directive) override;
  bool Ended() const override { return ended_; }
  void Shutdown() override;
  std::vector<std::string> TakeFailures() override { return ui_->TakeFailures(); }
  bool Ping(std::function<void()> pong) override {
    if (ended_ || shutDown_) return false;
    ui_->Ping(std::move(pong));
    return true;
  }

 private:
  World& world_;
  SimProgram& program_;
  ProgramClock clock_;
  std::unique_ptr<platform::Desktop> desktop_;
  std::unique_ptr<SimUi> ui_;
  std::unique_ptr<devicemanager::ManagerPorts> ports_;
  std::unique_ptr<devicemanager::CAudioManagerApp> app_;
  std::atomic<bool> ended_{false};
  bool shutDown_ = false;
};

}  // namespace sim
