// An in-memory registry with both hives, answering with the same result codes as advapi32. The
// simulation kit builds its world in it directly; the programs reach it through the port, and
// every write and delete they make is reported to the observer.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"

namespace sim {

struct RegistryValue {
  std::uint32_t type = platform::kRegNone;
  std::vector<std::uint8_t> data;
};

struct RegistryChange {
  enum class Kind { Set, Delete };
  Kind kind = Kind::Set;
  std::string keyPath;  // "HKCU\SOFTWARE\..." with the key names as created
  std::string name;
  RegistryValue value;  // empty for a delete
};

class MemoryRegistry : public platform::Registry {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;

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

  // World set-up and inspection, by full path ("HKCU\A\B" or "HKEY_LOCAL_MACHINE\A"). These do
  // not reach the observer: only what the programs do through the port is reported.
  void Put(std::string_view keyPath, std::string_view name, RegistryValue value);
  void PutDword(std::string_view keyPath, std::string_view name, std::uint32_t value);
  void PutString(std::string_view keyPath, std::string_view name, std::string_view text);  // with terminator
  void PutKey(std::string_view keyPath);
  // Removes one value, or with no name the key and everything under it. False if absent.
  bool Remove(std::string_view keyPath, std::optional<std::string_view> name = std::nullopt);
  std::optional<RegistryValue> Get(std::string_view keyPath, std::string_view name) const;
  bool KeyExists(std::string_view keyPath) const;

  void SetObserver(std::function<void(const RegistryChange&)> observer);
  // While read-only, every create, set and delete through the port answers access denied.
  void SetReadOnly(bool readOnly);
  std::size_t OpenHandleCount() const;

  // "HKCU" or "HKLM" followed by the path, or nullopt for a path with no known root.
  static std::optional<std::pair<platform::RegKey, std::string>> SplitRoot(std::string_view keyPath);

 private:
  struct Node;
  struct Handle {
    std::shared_ptr<Node> node;
    platform::RegAccess access;
  };

  Node* Resolve(platform::RegKey key, const Handle** handle) const;
  Node* Find(Node* from, std::string_view subKey) const;
  Node* FindOrCreate(Node* from, std::string_view subKey);
  Node* FindPath(std::string_view keyPath) const;
  Node* CreatePath(std::string_view keyPath);
  std::string PathOf(const Node* node) const;
  platform::RegKey NewHandle(Node* node, platform::RegAccess access);
  void Report(RegistryChange change);

  mutable std::mutex mutex_;
  std::shared_ptr<Node> currentUser_;
  std::shared_ptr<Node> localMachine_;
  std::map<platform::RegKey, Handle> handles_;
  platform::RegKey nextHandle_ = 0x1000;
  bool readOnly_ = false;
  std::function<void(const RegistryChange&)> observer_;
};

}  // namespace sim
