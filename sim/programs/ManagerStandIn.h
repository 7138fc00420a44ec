// A stand-in for the audio device manager until its own program is part of the build: a hidden
// window titled "SNDWD" that takes the bridge's messages (the desktop logs them) and ends on the
// registered close message with 99, as the manager does.
#pragma once

#include <atomic>
#include <thread>

#include "sim/runner/World.h"

namespace sim {

class ManagerStandIn final : public ProgramHost {
 public:
  explicit ManagerStandIn(World& world);
  ~ManagerStandIn() override;

  Result Perform(const Directive& directive) override;
  bool Ended() const override { return ended_; }
  void Shutdown() override;

 private:
  World& world_;
  SimProgram& program_;
  platform::WindowHandle window_ = 0;
  std::uint32_t closeMessage_ = 0;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

}  // namespace sim
