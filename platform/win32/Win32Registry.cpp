#include "platform/win32/Win32Registry.h"

#include <windows.h>

namespace win32 {

namespace {

HKEY ToHkey(platform::RegKey key) { return reinterpret_cast<HKEY>(key); }

REGSAM ToSam(platform::RegAccess access) { return access == platform::RegAccess::Read ? KEY_READ : KEY_ALL_ACCESS; }

// The port's sizes are 32-bit on every target; DWORD is too, but keep the copy explicit.
class SizeArg {
 public:
  explicit SizeArg(std::uint32_t* size) : size_(size), value_(size ? *size : 0) {}
  ~SizeArg() {
    if (size_) *size_ = value_;
  }
  SizeArg(const SizeArg&) = delete;
  SizeArg& operator=(const SizeArg&) = delete;
  DWORD* get() { return size_ ? &value_ : nullptr; }

 private:
  std::uint32_t* size_;
  DWORD value_;
};

}  // namespace

std::int32_t Win32Registry::CreateKey(platform::RegKey parent, const char* subKey, platform::RegAccess access,
                                      platform::RegKey* result) {
  HKEY key = nullptr;
  const LONG status =
      RegCreateKeyExA(ToHkey(parent), subKey ? subKey : "", 0, nullptr, REG_OPTION_NON_VOLATILE, ToSam(access),
                      nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS && result) *result = reinterpret_cast<platform::RegKey>(key);
  return status;
}

std::int32_t Win32Registry::OpenKey(platform::RegKey parent, const char* subKey, platform::RegAccess access,
                                    platform::RegKey* result) {
  HKEY key = nullptr;
  const LONG status = RegOpenKeyExA(ToHkey(parent), subKey, 0, ToSam(access), &key);
  if (status == ERROR_SUCCESS && result) *result = reinterpret_cast<platform::RegKey>(key);
  return status;
}

std::int32_t Win32Registry::CloseKey(platform::RegKey key) { return RegCloseKey(ToHkey(key)); }

std::int32_t Win32Registry::QueryValue(platform::RegKey key, const char* name, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* size) {
  DWORD valueType = 0;
  SizeArg sizeArg(size);
  const LONG status = RegQueryValueExA(ToHkey(key), name, nullptr, &valueType, data, sizeArg.get());
  if (type) *type = valueType;
  return status;
}

std::int32_t Win32Registry::SetValue(platform::RegKey key, const char* name, std::uint32_t type,
                                     const std::uint8_t* data, std::uint32_t size) {
  return RegSetValueExA(ToHkey(key), name, 0, type, data, size);
}

std::int32_t Win32Registry::DeleteValue(platform::RegKey key, const char* name) {
  return RegDeleteValueA(ToHkey(key), name);
}

std::int32_t Win32Registry::EnumValue(platform::RegKey key, std::uint32_t index, char* name,
                                      std::uint32_t* nameSize, std::uint32_t* type, std::uint8_t* data,
                                      std::uint32_t* dataSize) {
  DWORD valueType = 0;
  SizeArg nameArg(nameSize);
  SizeArg dataArg(dataSize);
  const LONG status =
      RegEnumValueA(ToHkey(key), index, name, nameArg.get(), nullptr, &valueType, data, dataArg.get());
  if (type) *type = valueType;
  return status;
}

}  // namespace win32
