#include "common/SettingsKey.h"

#include <algorithm>
#include <cstring>

namespace {

// Copies at most size - 1 bytes and always terminates; returns the copied length.
int CopyTerminated(const char* text, std::size_t length, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  const std::size_t n = std::min(length, static_cast<std::size_t>(size - 1));
  if (n) std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

}  // namespace

CSettingsKey::CSettingsKey(platform::Registry& registry) : registry_(registry) {}

CSettingsKey::~CSettingsKey() { Close(); }

bool CSettingsKey::Acquire(platform::RegKey root, const char* path, bool create, platform::RegAccess access) {
  Close();
  root_ = root;
  if (!path) {
    path_[0] = '\0';
    key_ = root;
    return true;
  }
  CopyTerminated(path, std::strlen(path), path_, sizeof path_);
  platform::RegKey key = 0;
  const std::int32_t status =
      create ? registry_.CreateKey(root, path, access, &key) : registry_.OpenKey(root, path, access, &key);
  if (status != platform::kErrorSuccess) return false;
  key_ = key;
  return true;
}

bool CSettingsKey::Create(platform::RegKey root, const char* path) {
  return Acquire(root, path, true, platform::RegAccess::All);
}

bool CSettingsKey::Open(platform::RegKey root, const char* path) {
  return Acquire(root, path, false, platform::RegAccess::All);
}

bool CSettingsKey::OpenRead(platform::RegKey root, const char* path) {
  return Acquire(root, path, false, platform::RegAccess::Read);
}

std::uint32_t CSettingsKey::ReadDword(const char* name, std::uint32_t defaultValue) {
  if (!key_) return defaultValue;
  std::uint8_t data[4] = {};
  std::uint32_t size = sizeof data;
  std::uint32_t type = platform::kRegNone;
  if (registry_.QueryValue(key_, name, &type, data, &size) != platform::kErrorSuccess) return defaultValue;
  if (type != platform::kRegDword || size != sizeof data) return defaultValue;
  return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
         static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

std::int32_t CSettingsKey::WriteDword(const char* name, std::uint32_t value) {
  if (!key_) return platform::kErrorInvalidHandle;
  const std::uint8_t data[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return registry_.SetValue(key_, name, platform::kRegDword, data, sizeof data);
}

int CSettingsKey::ReadString(const char* name, const char* defaultValue, char* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  if (key_) {
    std::uint32_t type = platform::kRegNone;
    auto capacity = static_cast<std::uint32_t>(size);
    const std::int32_t status =
        registry_.QueryValue(key_, name, &type, reinterpret_cast<std::uint8_t*>(buffer), &capacity);
    if (status == platform::kErrorSuccess && type == platform::kRegSz) {
      // The stored bytes need not hold a terminator; the text ends at the first one inside the
      // data. Without one it must still leave room to add it, or it does not fit.
      const auto* end = static_cast<const char*>(std::memchr(buffer, '\0', capacity));
      if (end) return static_cast<int>(end - buffer);
      if (capacity < static_cast<std::uint32_t>(size)) {
        buffer[capacity] = '\0';
        return static_cast<int>(capacity);
      }
    }
  }
  const char* text = defaultValue ? defaultValue : "";
  return CopyTerminated(text, std::strlen(text), buffer, size);
}

std::uint32_t CSettingsKey::ReadFlag(const char* name, std::uint32_t defaultValue) {
  if (!key_) return defaultValue;
  std::uint8_t data[4] = {};
  std::uint32_t size = sizeof data;
  std::uint32_t type = platform::kRegNone;
  if (registry_.QueryValue(key_, name, &type, data, &size) != platform::kErrorSuccess) return defaultValue;
  if (type != platform::kRegDword || size != sizeof data) return defaultValue;
  return (data[0] | data[1] | data[2] | data[3]) ? 1 : 0;
}

std::int32_t CSettingsKey::WriteString(const char* name, const char* text) {
  if (!key_) return platform::kErrorInvalidHandle;
  const char* value = text ? text : "";
  return registry_.SetValue(key_, name, platform::kRegSz, reinterpret_cast<const std::uint8_t*>(value),
                            static_cast<std::uint32_t>(std::strlen(value) + 1));
}

std::int32_t CSettingsKey::DeleteValue(const char* name) {
  if (!key_) return platform::kErrorInvalidHandle;
  return registry_.DeleteValue(key_, name);
}

bool CSettingsKey::Close() {
  if (key_ && key_ != root_ && !platform::IsPredefinedKey(key_)) registry_.CloseKey(key_);
  key_ = 0;
  return true;
}
