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

namespace {

#define CHECK(condition)                \
  do {                                  \
    if (!(condition)) __builtin_trap(); \
  } while (0)

using devicemanager::kManagerKey;

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t U16() { return Byte() | static_cast<std::uint32_t>(Byte()) << 8; }
  std::uint32_t U32() { return U16() | U16() << 16; }
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    std::vector<std::uint8_t> bytes(data_ + at_, data_ + at_ + n);
    at_ += n;
    return bytes;
  }
  std::string Text(std::size_t n) {
    const auto bytes = Bytes(n);
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return std::string(bytes.begin(), end);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

constexpr const char* kNames[] = {devicemanager::kDeviceWizard,
                                  devicemanager::kWizardAutomatic,
                                  devicemanager::kDeviceIn,
                                  devicemanager::kDeviceOut,
                                  "",
                                  "Client",
                                  "default_device_in",
                                  "LANGUAGE"};

// --- the manager's ports --------------------------------------------------------------------

class FakeControls final : public platform::DialogControls {
 public:
  struct Control {
    std::string text;
    bool checked = false, enabled = true, visible = true;
    std::vector<std::string> items;
    int selection = -1;
  };
  std::map<int, Control> controls;

  bool HasControl(int id) override { return controls.count(id) != 0; }
  int IdOf(std::uintptr_t handle) override { return static_cast<int>(handle); }
  std::string GetText(int id) override { return controls[id].text; }
  void SetText(int id, std::string_view text) override { controls[id].text = text; }
  bool IsChecked(int id) override { return controls[id].checked; }
  void SetChecked(int id, bool checked) override { controls[id].checked = checked; }
  bool IsEnabled(int id) override { return controls[id].enabled; }
  void SetEnabled(int id, bool enabled) override { controls[id].enabled = enabled; }
  bool IsVisible(int id) override { return controls[id].visible; }
  void SetVisible(int id, bool visible) override { controls[id].visible = visible; }
  int ListAdd(int id, std::string_view text) override {
    auto& items = controls[id].items;
    items.emplace_back(text);
    return static_cast<int>(items.size()) - 1;
  }
  void ListClear(int id) override {
    controls[id].items.clear();
    controls[id].selection = -1;
  }
  void ListDelete(int id, int index) override {
    auto& items = controls[id].items;
    if (index >= 0 && index < static_cast<int>(items.size())) items.erase(items.begin() + index);
  }
  int ListCount(int id) override { return static_cast<int>(controls[id].items.size()); }
  std::string ListItem(int id, int index) override {
    const auto& items = controls[id].items;
    return index >= 0 && index < static_cast<int>(items.size()) ? items[static_cast<std::size_t>(index)] : "";
  }
  int ListSelection(int id) override { return controls[id].selection; }
  void ListSelect(int id, int index) override {
    controls[id].selection = index >= 0 && index < ListCount(id) ? index : -1;
  }
  void ListSetTopIndex(int, int) override {}
  void SliderSetRange(int, int, int) override {}
  void SliderSetPos(int, int) override {}
  int SliderPos(int) override { return 0; }
  void SliderSetPage(int, int) override {}
  void SliderSetTicFrequency(int, int) override {}
  int ControlWidth(int) override { return 0; }
  void ListViewSetExtendedStyle(int, std::uint32_t) override {}
  void ListViewSetColors(int, std::uint32_t, std::uint32_t) override {}
  int ListViewInsertColumn(int, int column, std::string_view, int) override { return column; }
  bool ListViewSetImageList(int, int, int, std::uint32_t) override { return true; }
  int ListViewInsertRow(int, int, std::string_view) override { return -1; }
  bool ListViewSetText(int, int, int, std::string_view) override { return false; }
  bool ListViewSetImage(int, int, int) override { return false; }
  bool ListViewSetData(int, int, std::intptr_t) override { return false; }
  std::intptr_t ListViewData(int, int) override { return 0; }
  int ListViewCount(int) override { return 0; }
  bool ListViewIsSelected(int, int) override { return false; }
  void ListViewSelect(int, int) override {}
};

class FakeWindow final : public platform::DialogWindow {
 public:
  explicit FakeWindow(std::uintptr_t handle) : handle_(handle) {}
  FakeControls controls;
  std::optional<std::intptr_t> ended;
  std::map<std::uintptr_t, std::uint32_t> timers;

  platform::DialogControls& Controls() override { return controls; }
  std::uintptr_t Handle() override { return handle_; }
  void Show(bool) override {}
  void ShowCommand(int) override {}
  void CenterOnOwner() override {}
  void MakeTopmost() override {}
  void Activate() override {}
  void Focus() override {}
  void End(std::intptr_t result) override { ended = result; }
  void Destroy() override {}
  bool SetTimer(std::uintptr_t id, std::uint32_t ms) override {
    timers[id] = ms;
    return true;
  }
  void KillTimer(std::uintptr_t id) override { timers.erase(id); }

 private:
  std::uintptr_t handle_;
};

constexpr std::uint32_t kWmNcDestroy = 0x0082;

// A modal dialog is created, initialised, confirmed with the command `confirm` and closed at
// once; what its controls showed is kept. Threads are never started.
class FakeUi final : public platform::Ui {
 public:
  int confirm = 0;
  std::map<int, FakeControls> shown;  // by template id, as initialised

  platform::ModuleHandle LoadLanguageLibrary(const char*) override { return 0; }
  void SetResourceModule(platform::ModuleHandle) override {}
  std::string LoadText(int) override { return "text"; }
  platform::DialogWindow* CreateModeless(int, platform::DialogPresenter&, platform::DialogWindow*) override {
    return nullptr;
  }
  std::intptr_t RunModal(int templateId, platform::DialogPresenter& presenter, platform::DialogWindow*) override {
    FakeWindow window(0x2000 + static_cast<std::uintptr_t>(templateId));
    std::intptr_t result = 0;
    presenter.OnMessage(window, platform::kWmInitDialog, 0, 0, result);
    shown[templateId] = window.controls;
    if (confirm && !window.ended) presenter.OnMessage(window, platform::kWmCommand, confirm, 0, result);
    presenter.OnMessage(window, kWmNcDestroy, 0, 0, result);
    return window.ended.value_or(0);
  }
  int ShowMessageBox(platform::DialogWindow*, std::string_view, std::string_view, std::uint32_t) override {
    return platform::kIdOk;
  }
  void ShowPopupMenu(platform::DialogWindow&, int, const std::vector<platform::MenuEdit>&) override {}
  void AddSystemMenuItem(platform::DialogWindow&, std::uint32_t, std::string_view) override {}
  std::uintptr_t SetWindowIcon(platform::DialogWindow&, int) override { return 1; }
  void MoveTopmostTo(platform::DialogWindow&, int, int) override {}
  int RunMessageLoop() override { return 0; }
  void PostQuit(int) override {}
  bool CreateSingleInstanceMutex(const char*) override { return true; }
  void StartThread(const char*, std::function<void(std::stop_token)>) override {}
};

class FakeDesktop final : public platform::Desktop {
 public:
  std::uint32_t otherProcess = 0;

  platform::WindowHandle FindTopWindow(const char*, const char*) override { return 0; }
  bool Post(platform::WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override { return true; }
  std::intptr_t Send(platform::WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override { return 0; }
  std::intptr_t SendCopyData(platform::WindowHandle, platform::WindowHandle, std::uintptr_t, std::uintptr_t,
                             const void*, std::uint32_t) override {
    return 0;
  }
  std::uint32_t RegisterMessage(const char*) override { return 0xC123; }
  platform::WindowHandle ForegroundWindow() override { return 0; }
  bool IsVisible(platform::WindowHandle) override { return false; }
  bool BringToForeground(platform::WindowHandle) override { return false; }
  bool StartProcess(const char*, std::uint32_t) override { return false; }
  std::vector<platform::ProcessEntry> Processes() override {
    return {{100, "SNDWD.exe"}, {otherProcess, "Client.exe"}};
  }
  std::uint32_t CurrentProcessId() override { return 100; }
  std::uint16_t SystemDefaultLangId() override { return 0x0409; }
  platform::VersionInfo Version() override { return {}; }
  std::string CommonProgramFilesFolder() override { return "C:\\Program Files\\Common Files"; }
  platform::WorkArea GetWorkArea() override { return {0, 0, 1024, 768}; }
  bool NotifyIcon(platform::TrayAction, const platform::TrayIcon&) override { return true; }
};

constexpr char kMic[] = "Mic";
constexpr char kSpeakers[] = "Speakers";

// One device each side.
class FakeAudio final : public platform::AudioControl {
 public:
  int UpdateAudioDevice(const char*) override { return 1; }
  std::uint32_t WaveInGetNumDevs() override { return 1; }
  std::uint32_t WaveOutGetNumDevs() override { return 1; }
  int WaveInGetDevCaps(std::uint32_t device, char* name, int size) override { return Name(device, kMic, name, size); }
  int WaveOutGetDevCaps(std::uint32_t device, char* name, int size) override {
    return Name(device, kSpeakers, name, size);
  }
  int GetDefaultAudioDevice(char* input, char* output) override {
    std::strcpy(input, kMic);
    std::strcpy(output, kSpeakers);
    return 1;
  }
  int SetDefaultAudioDevice(const char*, const char*) override { return 1; }

 private:
  static int Name(std::uint32_t device, const char* text, char* name, int size) {
    if (device != 0 || size <= 0) return 0;
    const std::size_t n = std::min(std::strlen(text), static_cast<std::size_t>(size - 1));
    std::memcpy(name, text, n);
    name[n] = '\0';
    return 1;
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
  desktop.otherProcess = otherProcess;
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
