// Registry port: the advapi32 key and value calls the programs make, with Win32's result codes.
#pragma once

#include <cstdint>

namespace platform {

// A key handle as Win32 sees it. The two roots carry the values of the predefined handles, so a
// handle can be compared with its root exactly as the Win32 code would.
using RegKey = std::uintptr_t;
inline constexpr RegKey kHkeyCurrentUser = 0x80000001u;
inline constexpr RegKey kHkeyLocalMachine = 0x80000002u;

inline constexpr bool IsPredefinedKey(RegKey key) {
  return key == kHkeyCurrentUser || key == kHkeyLocalMachine;
}

// Result codes (Win32 error numbers).
inline constexpr std::int32_t kErrorSuccess = 0;
inline constexpr std::int32_t kErrorFileNotFound = 2;
inline constexpr std::int32_t kErrorAccessDenied = 5;
inline constexpr std::int32_t kErrorInvalidHandle = 6;
inline constexpr std::int32_t kErrorInvalidParameter = 87;
inline constexpr std::int32_t kErrorMoreData = 234;
inline constexpr std::int32_t kErrorNoMoreItems = 259;

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

enum class RegAccess { All, Read };

class Registry {
 public:
  virtual ~Registry() = default;

  // RegCreateKeyExA: opens the key, creating missing keys on the way.
  virtual std::int32_t CreateKey(RegKey parent, const char* subKey, RegAccess access, RegKey* result) = 0;
  // RegOpenKeyExA.
  virtual std::int32_t OpenKey(RegKey parent, const char* subKey, RegAccess access, RegKey* result) = 0;
  // RegCloseKey.
  virtual std::int32_t CloseKey(RegKey key) = 0;
  // RegQueryValueExA. With data null only the size is reported; a buffer smaller than the value
  // gives kErrorMoreData with the needed size in *size. type may be null.
  virtual std::int32_t QueryValue(RegKey key, const char* name, std::uint32_t* type, std::uint8_t* data,
                                  std::uint32_t* size) = 0;
  // RegSetValueExA.
  virtual std::int32_t SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                                std::uint32_t size) = 0;
  // RegDeleteValueA.
  virtual std::int32_t DeleteValue(RegKey key, const char* name) = 0;
  // RegEnumValueA. *nameSize is the name buffer in characters including the terminator, and
  // comes back as the name length without it; *dataSize likewise for the data buffer in bytes.
  // A name or data buffer that is too small gives kErrorMoreData; past the last value,
  // kErrorNoMoreItems. type, data and dataSize may be null.
  virtual std::int32_t EnumValue(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameSize,
                                 std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) = 0;
};

}  // namespace platform
