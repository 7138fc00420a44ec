// The version resource of a simulated program: its own file holds the block the resource compiler
// makes of its script's VERSIONINFO, read by the portable reader as the system reads the real one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Desktop.h"
#include "platform/VersionResource.h"
#include "sim/ui/ResourceScript.h"

namespace sim {

// VS_VERSIONINFO as the resource compiler lays it out: the fixed file information, then the
// blocks in script order; blocks are text nodes without a value, a text value counts its UTF-16
// units with the terminator, numbers are words; every node starts on a 32-bit boundary and a
// node's length ends with its last child, without the padding after it.
std::vector<std::uint8_t> CompileVersionInfo(const VersionResource& version);

class SimVersionResources final : public platform::VersionResources {
 public:
  // The program's own file is `programFile`; `block` is its version resource (empty: it has none).
  // The user's language is the system's (`system langid` in a scenario).
  SimVersionResources(std::string programFile, std::vector<std::uint8_t> block, platform::Desktop& desktop)
      : programFile_(std::move(programFile)), block_(std::move(block)), desktop_(desktop) {}

  std::string ModuleFileName(platform::ModuleHandle module) override;
  std::unique_ptr<platform::VersionBlock> Read(const std::string& path) override;
  std::uint16_t UserDefaultLangId() override { return desktop_.SystemDefaultLangId(); }

 private:
  std::string programFile_;
  std::vector<std::uint8_t> block_;
  platform::Desktop& desktop_;
};

}  // namespace sim
