// Version resources of files (VS_VERSIONINFO): the system reads a file's block, and answers
// queries on it by sub-block path, as GetFileVersionInfo and VerQueryValue do.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Ui.h"

namespace platform {

// One file's version resource, read whole. Paths take VerQueryValue's forms: "\\" (the fixed file
// information), "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904B0\\CompanyName"; names
// compare without regard to case.
class VersionBlock {
 public:
  virtual ~VersionBlock() = default;
  // A binary value, its bytes as stored; nullopt when the path is not there.
  virtual std::optional<std::vector<std::uint8_t>> QueryBytes(std::string_view subBlock) = 0;
  // A text value as UTF-8, up to its terminator; nullopt when the path is not there.
  virtual std::optional<std::string> QueryText(std::string_view subBlock) = 0;
};

class VersionResources {
 public:
  virtual ~VersionResources() = default;
  // The file a loaded module was loaded from; kProgramResources names the running program's own
  // file. Empty when it cannot be told.
  virtual std::string ModuleFileName(ModuleHandle module) = 0;
  // The file's version resource; null when the file has none or cannot be read.
  virtual std::unique_ptr<VersionBlock> Read(const std::string& path) = 0;
  // The user's default language id (GetUserDefaultLangID).
  virtual std::uint16_t UserDefaultLangId() = 0;
};

}  // namespace platform
