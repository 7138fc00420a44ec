// Teliox's bridge program in the simulated world: its real portable code on a program clock, the
// simulated user interface and the world's models as its ports.
#pragma once

#include <atomic>
#include <memory>

#include "bridge/app/BridgeApp.h"
#include "sim/ProgramClock.h"
#include "sim/programs/SimVersionResource.h"
#include "sim/runner/World.h"
#include "sim/ui/SimUi.h"

namespace sim {

class BridgeHost final : public ProgramHost {
 public:
  BridgeHost(World& world, const ResourceCatalogue& resources);
  ~BridgeHost() override;

  Result Perform(const Directive& directive) override;
  // The handset command queue's length while the program's main window exists. Racy by nature
  // (the window may go at any time): for a caller that knows the program runs, with the world idle.
  std::optional<std::size_t> HandsetQueueLength() const;
  bool Ended() const override { return ended_; }
  void Shutdown() override;
  std::vector<std::string> TakeFailures() override { return ui_->TakeFailures(); }
  bool Ping(std::function<void()> pong) override {
    if (ended_ || shutDown_) return false;
    ui_->Ping(std::move(pong));
    return true;
  }

 private:
  platform::WindowHandle MainWindow();

  World& world_;
  SimProgram& program_;
  ProgramClock clock_;
  std::unique_ptr<platform::Desktop> desktop_;
  std::unique_ptr<SimUi> ui_;
  std::unique_ptr<SimVersionResources> versions_;
  std::unique_ptr<bridge::BridgePorts> ports_;
  std::unique_ptr<bridge::CBridgeApp> app_;
  std::atomic<bool> ended_{false};
  bool shutDown_ = false;
};

}  // namespace sim
