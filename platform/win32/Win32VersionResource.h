// The version resource port on version.dll's wide functions. Paths and texts cross the port as
// UTF-8: the version texts may be in any language (the program's own are Chinese), and the ANSI
// query turns what the code page lacks into question marks.
#pragma once

#include "platform/VersionResource.h"

namespace win32 {

class Win32VersionResources final : public platform::VersionResources {
 public:
  std::string ModuleFileName(platform::ModuleHandle module) override;
  std::unique_ptr<platform::VersionBlock> Read(const std::string& path) override;
  std::uint16_t UserDefaultLangId() override;
};

}  // namespace win32
