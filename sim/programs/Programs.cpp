#include "sim/programs/Programs.h"

#include "sim/programs/BridgeHost.h"
#include "sim/programs/ManagerStandIn.h"

#ifndef TELIOX_SOURCE_DIR
#define TELIOX_SOURCE_DIR "."
#endif

namespace sim {

std::string DefaultSourceDir() { return TELIOX_SOURCE_DIR; }

SimPrograms::SimPrograms(std::string sourceDir) {
  const std::string bridgeDir = sourceDir + "/resources/bridge";
  auto builtin = LoadResourceScript(bridgeDir + "/bridge.rc");
  auto english = LoadResourceScript(sourceDir + "/resources/lang/eng/T40ENG_VL.rc", {bridgeDir});
  if (!builtin.Ok()) error_ = builtin.error;
  if (!english.Ok()) error_ = english.error;
  bridgeResources_.builtin = builtin.script;
  if (english.script) bridgeResources_.libraries["T40ENG_VL.dll"] = english.script;
}

bool SimPrograms::Builds(Program program) const {
  return program == Program::kManager || (program == Program::kBridge && bridgeResources_.builtin);
}

std::unique_ptr<ProgramHost> SimPrograms::Start(World& world, Program program) {
  if (program == Program::kManager) return std::make_unique<ManagerStandIn>(world);
  if (!bridgeResources_.builtin) return nullptr;
  return std::make_unique<BridgeHost>(world, bridgeResources_);
}

}  // namespace sim
