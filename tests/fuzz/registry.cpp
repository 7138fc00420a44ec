// Registry values of every type and size, written into the simulation's in-memory registry, then
// read by the settings key class (CSettingsKey: dwords, flags and strings into buffers of any
// size, each a heap block of exactly that size so AddressSanitizer sees a write past it) and by
// the audio device manager: its flags and device names, the start of its main window, its
// client-registration scan of the REGISTER key, and its settings dialog confirmed with OK. What
// each reader should come back with is worked out from the registry itself; no handle may be
// left open at the end.
//
// Input:
//   byte 0, flags: bit 0 the REGISTER key exists even when no value goes there; bit 1 the
//     manager's window starts (WM_INITDIALOG); bit 2 its registration check runs; bit 3 its
//     settings dialog opens and is confirmed; bit 4 the registry is read-only for the programs
//     once the values are written; bit 5 the values of the input's own key are written back
//     through CSettingsKey at the end.
//   bytes 1-4: the id of the one other process running (little-endian).
//   bytes 5-6: length p, then p bytes: a key path of the input's own, below HKCU (cut at a zero
//     byte, as the port's strings are).
//   then value records until the input ends:
//     key and name: a byte, key = its low 2 bits (the manager's key, its REGISTER key, the
//       input's own key, HKCU itself); name = byte >> 2: below 32 one of eight known names,
//       else 2 bytes length m and m bytes of name (cut at a zero byte);
//     type: a byte, that type; 0xFF: 4 more bytes of type;
//     data: 2 bytes length n, n bytes;
//     2 bytes: the size of the buffer ReadString is given for this value.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/SettingsKey.h"
#include "devicemanager/app/AudioManagerDlg.h"
#include "devicemanager/app/ManagerSettings.h"
#include "platform/Desktop.h"
#include "resources/devicemanager/resource.h"
#include "sim/MemoryRegistry.h"
#include "sim/VirtualClock.h"
#include "tests/fuzz/FakeDialogs.h"
#include "tests/fuzz/FakeManagerPorts.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using devicemanager::kManagerKey;
using fuzz::FakeAudio;
using fuzz::FakeControls;
using fuzz::FakeDesktop;
using fuzz::FakeWindow;
using fuzz::Input;
using fuzz::kMic;
using fuzz::kSpeakers;
using fuzz::kWmNcDestroy;
using fuzz::QuietUi;

constexpr const char* kNames[] = {devicemanager::kDeviceWizard,
                                  devicemanager::kWizardAutomatic,
                                  devicemanager::kDeviceIn,
                                  devicemanager::kDeviceOut,
                                  "",
                                  "Client",
                                  "default_device_in",
                                  "LANGUAGE"};

// --- the manager's ports --------------------------------------------------------------------

// A modal dialog is created, initialised, confirmed with the command `confirm` and closed at
// once; what its controls showed is kept. Threads are never started.
class FakeUi final : public QuietUi {
 public:
  int confirm = 0;
  std::map<int, FakeControls> shown;  // by template id, as initialised

  std::string LoadText(int) override { return "text"; }
  std::intptr_t RunModal(int templateId, platform::DialogPresenter& presenter, platform::DialogWindow*) override {
    FakeWindow window(0x2000 + static_cast<std::uintptr_t>(templateId));
    std::intptr_t result = 0;
    presenter.OnMessage(window, platform::kWmInitDialog, 0, 0, result);
    shown[templateId] = window.controls;
    if (confirm && !window.ended) presenter.OnMessage(window, platform::kWmCommand, confirm, 0, result);
    presenter.OnMessage(window, kWmNcDestroy, 0, 0, result);
    return window.ended.value_or(0);
  }
};

// --- what the readers should find -----------------------------------------------------------

struct Target {
  std::string path;  // below HKCU; empty: HKCU itself
  std::string name;
  std::uint32_t readSize = 0;
};

std::string FullPath(const std::string& path) { return "HKCU\\" + path; }

std::optional<sim::RegistryValue> Stored(const sim::MemoryRegistry& registry, const std::string& path,
                                         const std::string& name) {
  return registry.Get(FullPath(path), name);
}

bool IsDword(const std::optional<sim::RegistryValue>& value) {
  return value && value->type == platform::kRegDword && value->data.size() == 4;
}

std::uint32_t DwordOf(const sim::RegistryValue& value) {
  return value.data[0] | static_cast<std::uint32_t>(value.data[1]) << 8 |
         static_cast<std::uint32_t>(value.data[2]) << 16 | static_cast<std::uint32_t>(value.data[3]) << 24;
}

std::uint32_t ExpectedFlag(const std::optional<sim::RegistryValue>& value, std::uint32_t fallback) {
  return IsDword(value) ? (DwordOf(*value) != 0 ? 1 : 0) : fallback;
}

// ReadString's text for a buffer of `size` bytes: a REG_SZ that fits, up to its first zero
// byte (without one it needs room for the terminator), else the fallback cut to fit.
std::string ExpectedString(const std::optional<sim::RegistryValue>& value, const std::string& fallback,
                           std::size_t size) {
  if (size == 0) return {};
  if (value && value->type == platform::kRegSz && value->data.size() <= size) {
    const auto& data = value->data;
    const auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
    if (end != data.end() || data.size() < size) return std::string(data.begin(), end);
  }
  return fallback.substr(0, size - 1);
}

constexpr char kFallback[] = "Unknown device";

void ReadThrough(sim::MemoryRegistry& registry, const Target& target) {
  CSettingsKey key(registry);
  const bool root = target.path.empty();
  const bool open = root ? key.Create(platform::kHkeyCurrentUser, nullptr)
                         : key.OpenRead(platform::kHkeyCurrentUser, target.path.c_str());
  CHECK(std::strlen(key.Path()) <= CSettingsKey::kMaxPath);
  CHECK(std::string(target.path, 0, CSettingsKey::kMaxPath) == key.Path());
  const auto value = Stored(registry, target.path, target.name);
  if (!open) {
    CHECK(!registry.KeyExists(FullPath(target.path)));
    return;
  }
  const char* name = target.name.c_str();
  const std::uint32_t dword = key.ReadDword(name, 0xDEADBEEF);
  CHECK(dword == (IsDword(value) ? DwordOf(*value) : 0xDEADBEEF));
  CHECK(key.ReadFlag(name, 7) == ExpectedFlag(value, 7));

  // Exactly the size asked for; nothing at all for size 0.
  const std::size_t size = target.readSize;
  const std::unique_ptr<char[]> buffer(new char[size]);
  const int length = key.ReadString(name, kFallback, buffer.get(), static_cast<int>(size));
  const std::string expected = ExpectedString(value, kFallback, size);
  CHECK(length == static_cast<int>(expected.size()));
  if (size > 0) {
    CHECK(buffer[static_cast<std::size_t>(length)] == '\0');
    CHECK(std::memcmp(buffer.get(), expected.data(), expected.size()) == 0);
  }
}

// The registrations the manager's check should find: REGISTER's values in order, as many as it
// looks at, each a 4-byte REG_DWORD whose name fits its 512-byte buffer.
std::vector<std::uint32_t> ExpectedRegistrations(sim::MemoryRegistry& registry) {
  std::vector<std::uint32_t> ids;
  const std::string path = std::string(kManagerKey) + devicemanager::kRegisterSubKey;
  platform::RegKey key = 0;
  if (registry.OpenKey(platform::kHkeyCurrentUser, path.c_str(), platform::RegAccess::Read, &key) !=
      platform::kErrorSuccess) {
    return ids;
  }
  std::vector<char> name(0x10002);
  for (std::uint32_t index = 0; index < devicemanager::CAudioManagerDlg::kMaxRegistrationValues; ++index) {
    auto nameSize = static_cast<std::uint32_t>(name.size());
    std::uint32_t type = 0;
    std::uint32_t dataSize = 0;
    if (registry.EnumValue(key, index, name.data(), &nameSize, &type, nullptr, &dataSize) != platform::kErrorSuccess) {
      break;
    }
    if (nameSize > 511 || type != platform::kRegDword || dataSize != 4) continue;
    std::uint8_t data[4];
    nameSize = static_cast<std::uint32_t>(name.size());
    dataSize = sizeof data;
    CHECK(registry.EnumValue(key, index, name.data(), &nameSize, &type, data, &dataSize) == platform::kErrorSuccess);
    ids.push_back(data[0] | static_cast<std::uint32_t>(data[1]) << 8 | static_cast<std::uint32_t>(data[2]) << 16 |
                  static_cast<std::uint32_t>(data[3]) << 24);
  }
  registry.CloseKey(key);
  return ids;
}

void RunManager(sim::MemoryRegistry& registry, std::uint8_t flags, std::uint32_t otherProcess) {
  const bool readOnly = flags & 0x10;
  const std::string managerKey = kManagerKey;
  sim::VirtualClock clock;
  FakeDesktop desktop;
  desktop.processes = {{100, "SNDWD.exe"}, {otherProcess, "Client.exe"}};
  FakeUi ui;
  FakeAudio audio;
  devicemanager::ManagerPorts ports{registry, clock, desktop, ui, audio};
  devicemanager::CAudioManagerDlg manager(ports);
  FakeWindow window(0x157);
  std::intptr_t result = 0;

  if (flags & 2) {
    const auto wizard = ExpectedFlag(Stored(registry, managerKey, devicemanager::kDeviceWizard), 1);
    const auto automatic = ExpectedFlag(Stored(registry, managerKey, devicemanager::kWizardAutomatic), 0);
    manager.OnMessage(window, platform::kWmInitDialog, 0, 0, result);
    // Both flags are left as clean 4-byte values.
    if (!readOnly) {
      const auto storedWizard = Stored(registry, managerKey, devicemanager::kDeviceWizard);
      const auto storedAutomatic = Stored(registry, managerKey, devicemanager::kWizardAutomatic);
      CHECK(IsDword(storedWizard) && DwordOf(*storedWizard) == wizard);
      CHECK(IsDword(storedAutomatic) && DwordOf(*storedAutomatic) == automatic);
    }
    CHECK(window.timers.count(devicemanager::CAudioManagerDlg::kRegistrationTimer) == 1);
  }

  if (flags & 4) {
    const auto ids = ExpectedRegistrations(registry);
    const bool running = std::find(ids.begin(), ids.end(), otherProcess) != ids.end() ||
                         std::find(ids.begin(), ids.end(), 100u) != ids.end();
    window.ended.reset();
    manager.OnMessage(window, platform::kWmTimer, devicemanager::CAudioManagerDlg::kRegistrationTimer, 0, result);
    CHECK(window.ended.has_value() == !running);
    CHECK(window.timers.count(devicemanager::CAudioManagerDlg::kRegistrationTimer) == (running ? 1u : 0u));
    CHECK(window.controls.ListCount(IDC_MAIN_LOG_LIST) <= devicemanager::CAudioManagerDlg::kMaxLogLines);
  }

  if (flags & 8) {
    const auto watching = Stored(registry, managerKey, devicemanager::kDeviceWizard);
    const auto automatic = Stored(registry, managerKey, devicemanager::kWizardAutomatic);
    const std::string storedIn = ExpectedString(Stored(registry, managerKey, devicemanager::kDeviceIn), "", 256);
    const std::string storedOut = ExpectedString(Stored(registry, managerKey, devicemanager::kDeviceOut), "", 256);
    const bool keyThere = registry.KeyExists(FullPath(managerKey));
    ui.confirm = IDC_SETTINGS_OK;
    manager.OpenSettingsRequest(window);
    auto& shown = ui.shown[IDD_DEVICE_SETTINGS];
    if (keyThere || !readOnly) {
      const bool watch = ExpectedFlag(watching, 0) == 1;
      CHECK(shown.IsChecked(IDC_AUTOMATIC) == (ExpectedFlag(automatic, 0) == 1));
      CHECK(shown.IsChecked(IDC_DO_NOTHING) == !watch);
      // The stored device first when it is present; each device once.
      const std::vector<std::string> in{kMic};
      const std::vector<std::string> out{kSpeakers};
      CHECK(shown.controls[IDC_RECORDING_LIST].items == in);
      CHECK(shown.controls[IDC_PLAYBACK_LIST].items == out);
      if (!readOnly) {
        const auto wizard = Stored(registry, managerKey, devicemanager::kDeviceWizard);
        CHECK(IsDword(wizard) && DwordOf(*wizard) == (watch ? 1u : 0u));
        if (watch) {
          CHECK(devicemanager::ReadManagerName(registry, devicemanager::kDeviceIn) == kMic);
          CHECK(devicemanager::ReadManagerName(registry, devicemanager::kDeviceOut) == kSpeakers);
        } else {
          CHECK(devicemanager::ReadManagerName(registry, devicemanager::kDeviceIn) == storedIn);
          CHECK(devicemanager::ReadManagerName(registry, devicemanager::kDeviceOut) == storedOut);
        }
      }
    }
  }
}

// CSettingsKey's writes on the input's own key: what is written reads back as written.
void WriteBack(sim::MemoryRegistry& registry, const std::string& path, const std::vector<Target>& targets,
               bool readOnly) {
  CSettingsKey key(registry);
  if (!key.Create(platform::kHkeyCurrentUser, path.c_str())) {
    CHECK(readOnly);
    return;
  }
  std::uint32_t counter = 0;
  for (const auto& target : targets) {
    if (target.path != path) continue;
    const char* name = target.name.c_str();
    const auto before = Stored(registry, path, target.name);
    const std::int32_t dword = key.WriteDword(name, ++counter);
    CHECK((dword == platform::kErrorSuccess) == !readOnly);
    CHECK(key.ReadDword(name, 0) == (readOnly ? (IsDword(before) ? DwordOf(*before) : 0) : counter));
    if (readOnly) continue;
    const std::string text = target.name + std::to_string(counter);
    CHECK(key.WriteString(name, text.c_str()) == platform::kErrorSuccess);
    // Read back whole when it fits with its terminator, otherwise not at all.
    char buffer[512];
    const int length = key.ReadString(name, "", buffer, sizeof buffer);
    const bool fits = text.size() < sizeof buffer;
    CHECK(length == (fits ? static_cast<int>(text.size()) : 0));
    CHECK(buffer == (fits ? text : std::string()));
    CHECK(key.DeleteValue(name) == platform::kErrorSuccess);
    CHECK(!Stored(registry, path, target.name));
    CHECK(key.ReadFlag(name, 3) == 3);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const std::uint8_t flags = input.Byte();
  const std::uint32_t otherProcess = input.U32();
  const std::string ownPath = input.Text(input.U16());
  const std::string registerPath = std::string(kManagerKey) + devicemanager::kRegisterSubKey;
  const std::string paths[4] = {kManagerKey, registerPath, ownPath, ""};

  sim::MemoryRegistry registry;
  if (flags & 1) registry.PutKey(FullPath(registerPath));

  std::vector<Target> targets;
  while (!input.Empty()) {
    const std::uint8_t keyAndName = input.Byte();
    Target target;
    target.path = paths[keyAndName & 3];
    const unsigned nameIndex = keyAndName >> 2;
    target.name = nameIndex < 32 ? kNames[nameIndex % 8] : input.Text(input.U16());
    std::uint32_t type = input.Byte();
    if (type == 0xFF) type = input.U32();
    const auto bytes = input.Bytes(input.U16());
    target.readSize = input.U16();
    // The data in a block of exactly its size, written as a program would write it.
    const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[bytes.size()]);
    if (!bytes.empty()) std::memcpy(block.get(), bytes.data(), bytes.size());
    platform::RegKey key = 0;
    CHECK(registry.CreateKey(platform::kHkeyCurrentUser, target.path.c_str(), platform::RegAccess::All, &key) ==
          platform::kErrorSuccess);
    CHECK(registry.SetValue(key, target.name.c_str(), type, block.get(), static_cast<std::uint32_t>(bytes.size())) ==
          platform::kErrorSuccess);
    CHECK(registry.CloseKey(key) == platform::kErrorSuccess);
    targets.push_back(std::move(target));
  }
  registry.SetReadOnly(flags & 0x10);

  for (const auto& target : targets) ReadThrough(registry, target);
  // Each key once more, there or not.
  for (std::size_t i = 0; i < 4; ++i) ReadThrough(registry, {paths[i], kNames[(flags + i) % 8], 256});
  // The manager's own readers of its key.
  for (const char* name : kNames) {
    const auto value = Stored(registry, kManagerKey, name);
    const bool keyThere = registry.KeyExists(FullPath(kManagerKey));
    const bool readable = keyThere || !(flags & 0x10);
    CHECK(devicemanager::ReadManagerFlag(registry, name, 9) == (readable ? ExpectedFlag(value, 9) : 9));
    CHECK(devicemanager::ReadManagerName(registry, name) == (readable ? ExpectedString(value, "", 256) : ""));
  }

  RunManager(registry, flags, otherProcess);
  if (flags & 0x20) WriteBack(registry, ownPath, targets, flags & 0x10);
  CHECK(registry.OpenHandleCount() == 0);
  return 0;
}
