#include "sim/MemoryRegistry.h"

#include <algorithm>
#include <cstring>

namespace sim {

using platform::RegKey;

namespace {

constexpr std::int32_t kErrorKeyDeleted = 1018;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Key and value names compare without regard to case, as Windows does.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return Lower(x) == Lower(y);
         });
}

std::vector<std::string_view> Components(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    const auto cut = path.find('\\');
    const auto part = path.substr(0, cut);
    if (!part.empty()) parts.push_back(part);
    if (cut == std::string_view::npos) break;
    path.remove_prefix(cut + 1);
  }
  return parts;
}

}  // namespace

struct MemoryRegistry::Node {
  std::string name;
  Node* parent = nullptr;
  bool deleted = false;
  std::vector<std::shared_ptr<Node>> children;
  std::vector<std::pair<std::string, RegistryValue>> values;  // in creation order, as enumerated

  std::pair<std::string, RegistryValue>* FindValue(std::string_view valueName) {
    for (auto& entry : values) {
      if (SameName(entry.first, valueName)) return &entry;
    }
    return nullptr;
  }
  Node* FindChild(std::string_view childName) const {
    for (const auto& child : children) {
      if (SameName(child->name, childName)) return child.get();
    }
    return nullptr;
  }
  void MarkDeleted() {
    deleted = true;
    for (auto& child : children) child->MarkDeleted();
  }
};

MemoryRegistry::MemoryRegistry()
    : currentUser_(std::make_shared<Node>(Node{"HKCU", nullptr, false, {}, {}})),
      localMachine_(std::make_shared<Node>(Node{"HKLM", nullptr, false, {}, {}})) {}

MemoryRegistry::~MemoryRegistry() = default;

std::optional<std::pair<RegKey, std::string>> MemoryRegistry::SplitRoot(std::string_view keyPath) {
  const auto cut = keyPath.find('\\');
  const auto root = keyPath.substr(0, cut);
  const std::string rest(cut == std::string_view::npos ? std::string_view{} : keyPath.substr(cut + 1));
  if (SameName(root, "HKCU") || SameName(root, "HKEY_CURRENT_USER")) {
    return std::make_pair(platform::kHkeyCurrentUser, rest);
  }
  if (SameName(root, "HKLM") || SameName(root, "HKEY_LOCAL_MACHINE")) {
    return std::make_pair(platform::kHkeyLocalMachine, rest);
  }
  return std::nullopt;
}

MemoryRegistry::Node* MemoryRegistry::Resolve(RegKey key, const Handle** handle) const {
  static const Handle kRootHandle{nullptr, platform::RegAccess::All};
  if (handle) *handle = &kRootHandle;
  if (key == platform::kHkeyCurrentUser) return currentUser_.get();
  if (key == platform::kHkeyLocalMachine) return localMachine_.get();
  const auto it = handles_.find(key);
  if (it == handles_.end()) return nullptr;
  if (handle) *handle = &it->second;
  return it->second.node.get();
}

MemoryRegistry::Node* MemoryRegistry::Find(Node* from, std::string_view subKey) const {
  Node* node = from;
  for (const auto part : Components(subKey)) {
    node = node->FindChild(part);
    if (!node) return nullptr;
  }
  return node;
}

MemoryRegistry::Node* MemoryRegistry::FindOrCreate(Node* from, std::string_view subKey) {
  Node* node = from;
  for (const auto part : Components(subKey)) {
    Node* child = node->FindChild(part);
    if (!child) {
      auto created = std::make_shared<Node>();
      created->name = std::string(part);
      created->parent = node;
      child = created.get();
      node->children.push_back(std::move(created));
    }
    node = child;
  }
  return node;
}

MemoryRegistry::Node* MemoryRegistry::FindPath(std::string_view keyPath) const {
  const auto split = SplitRoot(keyPath);
  if (!split) return nullptr;
  return Find(Resolve(split->first, nullptr), split->second);
}

MemoryRegistry::Node* MemoryRegistry::CreatePath(std::string_view keyPath) {
  const auto split = SplitRoot(keyPath);
  if (!split) return nullptr;
  return FindOrCreate(Resolve(split->first, nullptr), split->second);
}

std::string MemoryRegistry::PathOf(const Node* node) const {
  std::string path = node->name;
  for (const Node* up = node->parent; up; up = up->parent) path = up->name + "\\" + path;
  return path;
}

RegKey MemoryRegistry::NewHandle(Node* node, platform::RegAccess access) {
  // Keep the node alive through the handle even if its key is removed meanwhile.
  std::shared_ptr<Node> owner;
  if (node->parent) {
    for (auto& child : node->parent->children) {
      if (child.get() == node) owner = child;
    }
  } else {
    owner = node == currentUser_.get() ? currentUser_ : localMachine_;
  }
  const RegKey key = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(key, Handle{std::move(owner), access});
  return key;
}

std::int32_t MemoryRegistry::CreateKey(RegKey parent, const char* subKey, platform::RegAccess access,
                                       RegKey* result) {
  if (!result) return platform::kErrorInvalidParameter;
  std::lock_guard lock(mutex_);
  Node* base = Resolve(parent, nullptr);
  if (!base) return platform::kErrorInvalidHandle;
  if (base->deleted) return kErrorKeyDeleted;
  const std::string_view path = subKey ? subKey : "";
  Node* node = Find(base, path);
  if (!node) {
    if (readOnly_) return platform::kErrorAccessDenied;
    node = FindOrCreate(base, path);
  }
  *result = NewHandle(node, access);
  return platform::kErrorSuccess;
}

std::int32_t MemoryRegistry::OpenKey(RegKey parent, const char* subKey, platform::RegAccess access, RegKey* result) {
  if (!result) return platform::kErrorInvalidParameter;
  std::lock_guard lock(mutex_);
  Node* base = Resolve(parent, nullptr);
  if (!base) return platform::kErrorInvalidHandle;
  if (base->deleted) return kErrorKeyDeleted;
  Node* node = Find(base, subKey ? subKey : "");
  if (!node) return platform::kErrorFileNotFound;
  *result = NewHandle(node, access);
  return platform::kErrorSuccess;
}

std::int32_t MemoryRegistry::CloseKey(RegKey key) {
  std::lock_guard lock(mutex_);
  if (platform::IsPredefinedKey(key)) return platform::kErrorSuccess;
  return handles_.erase(key) ? platform::kErrorSuccess : platform::kErrorInvalidHandle;
}

std::int32_t MemoryRegistry::QueryValue(RegKey key, const char* name, std::uint32_t* type, std::uint8_t* data,
                                        std::uint32_t* size) {
  if (data && !size) return platform::kErrorInvalidParameter;
  std::lock_guard lock(mutex_);
  Node* node = Resolve(key, nullptr);
  if (!node) return platform::kErrorInvalidHandle;
  if (node->deleted) return kErrorKeyDeleted;
  const auto* entry = node->FindValue(name ? name : "");
  if (!entry) return platform::kErrorFileNotFound;
  const RegistryValue& value = entry->second;
  const auto needed = static_cast<std::uint32_t>(value.data.size());
  if (type) *type = value.type;
  if (!data) {
    if (size) *size = needed;
    return platform::kErrorSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return platform::kErrorMoreData;
  }
  std::copy(value.data.begin(), value.data.end(), data);
  *size = needed;
  return platform::kErrorSuccess;
}

std::int32_t MemoryRegistry::SetValue(RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                                      std::uint32_t size) {
  if (!data && size) return platform::kErrorInvalidParameter;
  RegistryChange change;
  {
    std::lock_guard lock(mutex_);
    const Handle* handle = nullptr;
    Node* node = Resolve(key, &handle);
    if (!node) return platform::kErrorInvalidHandle;
    if (node->deleted) return kErrorKeyDeleted;
    if (readOnly_ || handle->access == platform::RegAccess::Read) return platform::kErrorAccessDenied;
    RegistryValue value{type, std::vector<std::uint8_t>(data, data + size)};
    const std::string valueName = name ? name : "";
    if (auto* entry = node->FindValue(valueName)) {
      entry->second = value;
    } else {
      node->values.emplace_back(valueName, value);
    }
    change = RegistryChange{RegistryChange::Kind::Set, PathOf(node), valueName, std::move(value)};
  }
  Report(std::move(change));
  return platform::kErrorSuccess;
}

std::int32_t MemoryRegistry::DeleteValue(RegKey key, const char* name) {
  RegistryChange change;
  {
    std::lock_guard lock(mutex_);
    const Handle* handle = nullptr;
    Node* node = Resolve(key, &handle);
    if (!node) return platform::kErrorInvalidHandle;
    if (node->deleted) return kErrorKeyDeleted;
    if (readOnly_ || handle->access == platform::RegAccess::Read) return platform::kErrorAccessDenied;
    const std::string valueName = name ? name : "";
    auto& values = node->values;
    const auto it = std::find_if(values.begin(), values.end(),
                                 [&](const auto& entry) { return SameName(entry.first, valueName); });
    if (it == values.end()) return platform::kErrorFileNotFound;
    change = RegistryChange{RegistryChange::Kind::Delete, PathOf(node), it->first, {}};
    values.erase(it);
  }
  Report(std::move(change));
  return platform::kErrorSuccess;
}

std::int32_t MemoryRegistry::EnumValue(RegKey key, std::uint32_t index, char* name, std::uint32_t* nameSize,
                                       std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) {
  if (!name || !nameSize) return platform::kErrorInvalidParameter;
  if (data && !dataSize) return platform::kErrorInvalidParameter;
  std::lock_guard lock(mutex_);
  Node* node = Resolve(key, nullptr);
  if (!node) return platform::kErrorInvalidHandle;
  if (node->deleted) return kErrorKeyDeleted;
  if (index >= node->values.size()) return platform::kErrorNoMoreItems;
  const auto& [valueName, value] = node->values[index];
  const auto needed = static_cast<std::uint32_t>(value.data.size());
  if (valueName.size() + 1 > *nameSize) return platform::kErrorMoreData;
  if (data && *dataSize < needed) {
    *dataSize = needed;
    return platform::kErrorMoreData;
  }
  std::memcpy(name, valueName.c_str(), valueName.size() + 1);
  *nameSize = static_cast<std::uint32_t>(valueName.size());
  if (type) *type = value.type;
  if (data) std::copy(value.data.begin(), value.data.end(), data);
  if (dataSize) *dataSize = needed;
  return platform::kErrorSuccess;
}

void MemoryRegistry::Put(std::string_view keyPath, std::string_view name, RegistryValue value) {
  std::lock_guard lock(mutex_);
  Node* node = CreatePath(keyPath);
  if (!node) return;
  if (auto* entry = node->FindValue(name)) {
    entry->second = std::move(value);
  } else {
    node->values.emplace_back(std::string(name), std::move(value));
  }
}

void MemoryRegistry::PutDword(std::string_view keyPath, std::string_view name, std::uint32_t value) {
  RegistryValue v{platform::kRegDword, std::vector<std::uint8_t>(4)};
  for (int i = 0; i < 4; ++i) v.data[i] = static_cast<std::uint8_t>(value >> (8 * i));
  Put(keyPath, name, std::move(v));
}

void MemoryRegistry::PutString(std::string_view keyPath, std::string_view name, std::string_view text) {
  RegistryValue v{platform::kRegSz, std::vector<std::uint8_t>(text.begin(), text.end())};
  v.data.push_back(0);
  Put(keyPath, name, std::move(v));
}

void MemoryRegistry::PutKey(std::string_view keyPath) {
  std::lock_guard lock(mutex_);
  CreatePath(keyPath);
}

bool MemoryRegistry::Remove(std::string_view keyPath, std::optional<std::string_view> name) {
  std::lock_guard lock(mutex_);
  Node* node = FindPath(keyPath);
  if (!node) return false;
  if (name) {
    auto& values = node->values;
    const auto it = std::find_if(values.begin(), values.end(),
                                 [&](const auto& entry) { return SameName(entry.first, *name); });
    if (it == values.end()) return false;
    values.erase(it);
    return true;
  }
  if (!node->parent) {  // a root stays; it loses its contents
    node->children.clear();
    node->values.clear();
    return true;
  }
  auto& siblings = node->parent->children;
  const auto it = std::find_if(siblings.begin(), siblings.end(), [&](const auto& child) { return child.get() == node; });
  (*it)->MarkDeleted();
  siblings.erase(it);
  return true;
}

std::optional<RegistryValue> MemoryRegistry::Get(std::string_view keyPath, std::string_view name) const {
  std::lock_guard lock(mutex_);
  Node* node = FindPath(keyPath);
  if (!node) return std::nullopt;
  const auto* entry = node->FindValue(name);
  if (!entry) return std::nullopt;
  return entry->second;
}

bool MemoryRegistry::KeyExists(std::string_view keyPath) const {
  std::lock_guard lock(mutex_);
  return FindPath(keyPath) != nullptr;
}

void MemoryRegistry::SetObserver(std::function<void(const RegistryChange&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void MemoryRegistry::SetReadOnly(bool readOnly) {
  std::lock_guard lock(mutex_);
  readOnly_ = readOnly;
}

std::size_t MemoryRegistry::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

void MemoryRegistry::Report(RegistryChange change) {
  std::function<void(const RegistryChange&)> observer;
  {
    std::lock_guard lock(mutex_);
    observer = observer_;
  }
  if (observer) observer(change);
}

}  // namespace sim
