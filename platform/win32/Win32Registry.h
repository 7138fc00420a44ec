// The registry port on advapi32's ANSI functions.
#pragma once

#include "platform/Registry.h"

namespace win32 {

class Win32Registry : public platform::Registry {
 public:
  std::int32_t CreateKey(platform::RegKey parent, const char* subKey, platform::RegAccess access,
                         platform::RegKey* result) override;
  std::int32_t OpenKey(platform::RegKey parent, const char* subKey, platform::RegAccess access,
                       platform::RegKey* result) override;
  std::int32_t CloseKey(platform::RegKey key) override;
  std::int32_t QueryValue(platform::RegKey key, const char* name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* size) override;
  std::int32_t SetValue(platform::RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t size) override;
  std::int32_t DeleteValue(platform::RegKey key, const char* name) override;
  std::int32_t EnumValue(platform::RegKey key, std::uint32_t index, char* name, std::uint32_t* nameSize,
                         std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) override;
};

}  // namespace win32
