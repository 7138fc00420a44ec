// The registry key class of both programs: open (or create) one key, read or write values with
// defaults for anything absent or mistyped, close it again.
#pragma once

#include <cstdint>

#include "platform/Registry.h"

class CSettingsKey {
 public:
  static constexpr int kMaxPath = 259;

  explicit CSettingsKey(platform::Registry& registry);
  ~CSettingsKey();
  CSettingsKey(const CSettingsKey&) = delete;
  CSettingsKey& operator=(const CSettingsKey&) = delete;

  // Each closes any open key first. A null path means the root itself.
  bool Create(platform::RegKey root, const char* path);
  bool Open(platform::RegKey root, const char* path);
  bool OpenRead(platform::RegKey root, const char* path);

  // The value if it is a REG_DWORD of exactly 4 bytes, otherwise `defaultValue`.
  std::uint32_t ReadDword(const char* name, std::uint32_t defaultValue);
  std::int32_t WriteDword(const char* name, std::uint32_t value);
  // Copies a REG_SZ value that fits into `buffer` (`size` bytes), otherwise `defaultValue`, cut to
  // fit. The buffer always ends up terminated (when size > 0). Returns the length of the copied
  // text without its terminator; 0 when there is no room at all.
  int ReadString(const char* name, const char* defaultValue, char* buffer, int size);
  // 1 for a non-zero 4-byte REG_DWORD, 0 for a zero one, `defaultValue` for anything else.
  std::uint32_t ReadFlag(const char* name, std::uint32_t defaultValue);
  std::int32_t WriteString(const char* name, const char* text);
  std::int32_t DeleteValue(const char* name);
  // Releases the key unless it is the root itself.
  bool Close();

  bool IsOpen() const { return key_ != 0; }
  const char* Path() const { return path_; }

 private:
  bool Acquire(platform::RegKey root, const char* path, bool create, platform::RegAccess access);

  platform::Registry& registry_;
  platform::RegKey root_ = 0;
  platform::RegKey key_ = 0;
  char path_[kMaxPath + 1] = {};
};
