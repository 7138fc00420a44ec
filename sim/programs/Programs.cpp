#include "sim/programs/Programs.h"

#include <filesystem>

#include "sim/programs/BridgeHost.h"
#include "sim/programs/ManagerHost.h"

#ifndef TELIOX_SOURCE_DIR
#define TELIOX_SOURCE_DIR "."
#endif

namespace sim {
namespace {

// A program's built-in script and its language libraries by file name.
ResourceCatalogue LoadCatalogue(const std::string& builtinPath, const std::string& includeDir,
                                const std::vector<std::pair<std::string, std::string>>& libraries, std::string& error) {
  ResourceCatalogue catalogue;
  auto builtin = LoadResourceScript(builtinPath);
  if (!builtin.Ok()) error = builtin.error;
  catalogue.builtin = builtin.script;
  for (const auto& [file, path] : libraries) {
    if (!std::filesystem::exists(path)) continue;
    auto library = LoadResourceScript(path, {includeDir});
    if (!library.Ok()) error = library.error;
    if (library.script) catalogue.libraries[file] = library.script;
  }
  return catalogue;
}

}  // namespace

std::string DefaultSourceDir() { return TELIOX_SOURCE_DIR; }

SimPrograms::SimPrograms(std::string sourceDir) {
  const std::string bridgeDir = sourceDir + "/resources/bridge";
  bridgeResources_ = LoadCatalogue(bridgeDir + "/bridge.rc", bridgeDir,
                                   {{"T40ENG_VL.dll", sourceDir + "/resources/lang/eng/T40ENG_VL.rc"}}, error_);
  // A tree without the manager's resources builds only the bridge.
  const std::string managerDir = sourceDir + "/resources/devicemanager";
  if (!std::filesystem::exists(managerDir + "/devicemanager.rc")) return;
  managerResources_ = LoadCatalogue(managerDir + "/devicemanager.rc", managerDir,
                                    {{"Swd_Eng.dll", sourceDir + "/resources/lang/swd_eng/Swd_Eng.rc"}}, error_);
}

bool SimPrograms::Builds(Program program) const {
  return program == Program::kBridge ? bridgeResources_.builtin != nullptr : managerResources_.builtin != nullptr;
}

std::unique_ptr<ProgramHost> SimPrograms::Start(World& world, Program program) {
  if (!Builds(program)) return nullptr;
  if (program == Program::kManager) return std::make_unique<ManagerHost>(world, managerResources_);
  return std::make_unique<BridgeHost>(world, bridgeResources_);
}

}  // namespace sim
