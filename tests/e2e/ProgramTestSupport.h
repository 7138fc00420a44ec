// Shared by the tests that start the real programs from the build's sim folders: a started
// program that a failing test cannot leave behind, the programs' hidden main windows, and the
// vendor's registry key put back as it was, whatever the programs wrote meanwhile.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/Handles.h"
#include "tests/e2e/PortTestSupport.h"

namespace e2e {

// Everything either program writes under HKEY_CURRENT_USER lies below this key.
inline constexpr wchar_t kVendorKey[] = L"SOFTWARE\\VORLANE";
inline constexpr char kRegisterKey[] = "SOFTWARE\\VORLANE\\AUDIO_MANAGER\\REGISTER";

// Teliox.exe with the sim Hidmar.dll and both simulators; SNDWD.exe with the sim Sonvane.dll.
inline std::string SimDemoFolder() { return ProgramFolder() + "\\..\\..\\sim-demo"; }
inline std::string ManagerSimFolder() { return ProgramFolder() + "\\..\\..\\sndwd-sim"; }

// A started program; ended by force, and waited for, if a test leaves it running.
class StartedProgram {
 public:
  StartedProgram() = default;
  ~StartedProgram() { Kill(); }
  StartedProgram(const StartedProgram&) = delete;
  StartedProgram& operator=(const StartedProgram&) = delete;

  bool Start(const std::string& commandLine) {
    Kill();
    std::string line = commandLine;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      return false;
    }
    win32::UniqueHandle(info.hThread).reset();
    process_.reset(info.hProcess);
    id_ = info.dwProcessId;
    return true;
  }

  void Kill() {
    if (!process_) return;
    if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.get(), 1);
      WaitForSingleObject(process_.get(), 10000);
    }
  }

  DWORD Id() const { return id_; }
  bool Running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

  // The exit code once ended within `ms`, or STILL_ACTIVE.
  DWORD WaitExit(DWORD ms) const {
    DWORD code = STILL_ACTIVE;
    if (process_ && WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0) GetExitCodeProcess(process_.get(), &code);
    return code;
  }

 private:
  win32::UniqueHandle process_;
  DWORD id_ = 0;
};

// Runs a command line to its end: its exit code, or -1 when it could not start or did not end
// within `timeoutMs` (it is then ended by force).
inline int RunToEnd(const std::string& commandLine, DWORD timeoutMs) {
  StartedProgram program;
  if (!program.Start(commandLine)) return -1;
  const DWORD code = program.WaitExit(timeoutMs);
  return code == STILL_ACTIVE ? -1 : static_cast<int>(code);
}

struct TopWindowSearch {
  DWORD process;
  std::string windowClass;
  bool unownedOnly;
  HWND found;
};

inline BOOL CALLBACK VisitTopWindowOf(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TopWindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char cls[64] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (owner != search->process || search->windowClass != cls) return TRUE;
  if (search->unownedOnly && GetWindow(window, GW_OWNER)) return TRUE;
  search->found = window;
  return FALSE;
}

// A top-level window of `process` by class; a program's hidden main window is its unowned dialog.
inline HWND TopWindowOf(DWORD process, const std::string& windowClass, bool unownedOnly = false) {
  TopWindowSearch search{process, windowClass, unownedOnly, nullptr};
  EnumWindows(VisitTopWindowOf, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline HWND MainDialogOf(DWORD process) { return TopWindowOf(process, "#32770", true); }

inline std::optional<DWORD> ReadRegisteredId(const char* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, kRegisterKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

inline bool WriteDword(const char* path, const char* name, DWORD value) {
  win32::UniqueKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.receive(), nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

inline bool WriteText(const char* path, const char* name, const std::string& text) {
  win32::UniqueKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.receive(), nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

// A registry key with everything below it, read on construction and written back exactly on
// destruction: values and keys the run added go, changed and removed ones come back.
class RegistrySnapshot {
 public:
  explicit RegistrySnapshot(std::wstring path) : path_(std::move(path)), before_(Read(HKEY_CURRENT_USER, path_)) {}
  ~RegistrySnapshot() { Restore(HKEY_CURRENT_USER, path_, before_); }
  RegistrySnapshot(const RegistrySnapshot&) = delete;
  RegistrySnapshot& operator=(const RegistrySnapshot&) = delete;

 private:
  struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
  };
  struct Tree {
    std::vector<Value> values;
    std::map<std::wstring, Tree> keys;
  };

  static bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
  }

  static const Value* Find(const Tree& tree, const std::wstring& name) {
    for (const auto& value : tree.values) {
      if (SameName(value.name, name)) return &value;
    }
    return nullptr;
  }

  static std::optional<Tree> Read(HKEY parent, const std::wstring& path) {
    win32::UniqueKey key;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, key.receive()) != ERROR_SUCCESS) return std::nullopt;
    Tree tree;
    DWORD maxKey = 0, maxName = 0, maxData = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, &maxKey, nullptr, nullptr, &maxName, &maxData,
                     nullptr, nullptr);
    for (DWORD i = 0;; ++i) {
      std::wstring name(maxName + 2, L'\0');
      DWORD nameLength = maxName + 2;
      std::vector<BYTE> data(maxData + 2);
      DWORD dataSize = maxData + 2;
      DWORD type = 0;
      if (RegEnumValueW(key.get(), i, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) !=
          ERROR_SUCCESS) {
        break;
      }
      name.resize(nameLength);
      data.resize(dataSize);
      tree.values.push_back({name, type, data});
    }
    for (DWORD i = 0;; ++i) {
      std::wstring name(maxKey + 2, L'\0');
      DWORD nameLength = maxKey + 2;
      if (RegEnumKeyExW(key.get(), i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        break;
      }
      name.resize(nameLength);
      if (auto sub = Read(key.get(), name)) tree.keys.emplace(name, std::move(*sub));
    }
    return tree;
  }

  static void Restore(HKEY parent, const std::wstring& path, const std::optional<Tree>& before) {
    if (!before) {
      RegDeleteTreeW(parent, path.c_str());
      return;
    }
    const auto now = Read(parent, path);
    win32::UniqueKey key;
    if (RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.receive(), nullptr) !=
        ERROR_SUCCESS) {
      return;
    }
    if (now) {
      for (const auto& value : now->values) {
        if (!Find(*before, value.name)) RegDeleteValueW(key.get(), value.name.c_str());
      }
      for (const auto& [name, tree] : now->keys) {
        if (before->keys.find(name) == before->keys.end()) RegDeleteTreeW(key.get(), name.c_str());
      }
    }
    for (const auto& value : before->values) {
      const Value* current = now ? Find(*now, value.name) : nullptr;
      if (current && current->type == value.type && current->data == value.data) continue;
      RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                     static_cast<DWORD>(value.data.size()));
    }
    for (const auto& [name, tree] : before->keys) Restore(key.get(), name, tree);
  }

  std::wstring path_;
  std::optional<Tree> before_;
};

}  // namespace e2e
