// Owners for the Win32 handles the shell keeps: one close call each, movable, never copied.
#pragma once

#include <windows.h>

#include <utility>

namespace win32 {

template <typename Traits>
class UniqueHandleOf {
 public:
  using Type = typename Traits::Type;

  UniqueHandleOf() = default;
  explicit UniqueHandleOf(Type handle) : handle_(handle) {}
  ~UniqueHandleOf() { reset(); }

  UniqueHandleOf(const UniqueHandleOf&) = delete;
  UniqueHandleOf& operator=(const UniqueHandleOf&) = delete;
  UniqueHandleOf(UniqueHandleOf&& other) noexcept : handle_(other.release()) {}
  UniqueHandleOf& operator=(UniqueHandleOf&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const { return handle_; }
  bool valid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return valid(); }

  // Gives up ownership without closing.
  Type release() { return std::exchange(handle_, Traits::Empty()); }

  void reset(Type handle = Traits::Empty()) {
    const Type old = std::exchange(handle_, handle);
    if (Traits::IsValid(old) && old != handle) Traits::Close(old);
  }

  // For out parameters (RegCreateKeyExA(..., key.receive(), ...)): closes what is held first.
  Type* receive() {
    reset();
    return &handle_;
  }

 private:
  Type handle_ = Traits::Empty();
};

struct KeyTraits {
  using Type = HKEY;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type key) { return key != nullptr; }
  static void Close(Type key) { RegCloseKey(key); }
};

// Kernel handles: some calls fail with NULL, others (CreateFile, snapshots) with INVALID_HANDLE_VALUE.
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(Type handle) { CloseHandle(handle); }
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type module) { return module != nullptr; }
  static void Close(Type module) { FreeLibrary(module); }
};

struct MenuTraits {
  using Type = HMENU;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type menu) { return menu != nullptr; }
  static void Close(Type menu) { DestroyMenu(menu); }
};

// Only for icons the program created or loaded without LR_SHARED; shared icons are never destroyed.
struct IconTraits {
  using Type = HICON;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type icon) { return icon != nullptr; }
  static void Close(Type icon) { DestroyIcon(icon); }
};

using UniqueKey = UniqueHandleOf<KeyTraits>;
using UniqueHandle = UniqueHandleOf<KernelHandleTraits>;
using UniqueModule = UniqueHandleOf<ModuleTraits>;
using UniqueMenu = UniqueHandleOf<MenuTraits>;
using UniqueIcon = UniqueHandleOf<IconTraits>;

}  // namespace win32
