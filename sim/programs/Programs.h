// The programs of this build, as the scenario runner starts them: the bridge and the audio device
// manager, each on its portable code with the simulated user interface.
#pragma once

#include <memory>
#include <string>

#include "sim/runner/World.h"
#include "sim/ui/SimUi.h"

namespace sim {

class SimPrograms final : public ProgramFactory {
 public:
  // `sourceDir` is where the resource scripts are (the project's source folder).
  explicit SimPrograms(std::string sourceDir);

  bool Builds(Program program) const override;
  std::unique_ptr<ProgramHost> Start(World& world, Program program) override;

  // Empty when the resource scripts parsed; else what went wrong.
  const std::string& Error() const { return error_; }

 private:
  ResourceCatalogue bridgeResources_;
  ResourceCatalogue managerResources_;
  std::string error_;
};

// The source folder this build was made from.
std::string DefaultSourceDir();

}  // namespace sim
