// WM_COPYDATA of any size, content and dwData to the two windows that take it from other
// programs: the audio device manager's main window (CAudioManagerDlg, the client's device names
// under wParam 1 and 2) and the client library's link window (ClientLink::FromClient behind the
// protocol decoder, or Unreadable for a length without data, as Win32LinkSystem hands them on).
// Every payload lies in a heap buffer of exactly its length, so AddressSanitizer sees any read
// past it. The library's notifications are read as the bridge's window reads them, its call
// table is queried as the exports are, and the manager's settings dialog shows the names.
//
// Input: one set-up byte, then records until the input ends.
//   set-up byte: bit 0 the client answers the first attach request at once (the link starts
//     attached); bit 1 the library cannot watch the bridge's window (payloads age out of a ring
//     instead of being released one by one); bit 2 the manager opens its settings dialog at the
//     end; bit 3 the manager's window skips WM_INITDIALOG.
//   record: an op byte; op & 3 says what follows.
//     0  to the manager: 4 bytes dwData, 2 bytes length n, n bytes (all little-endian; the
//        payload is cut to what the input holds). wParam is (op >> 2) & 3; op bit 4: lpData
//        null; op bit 5: lParam 0 (no record at all).
//     1  to the link, from the client's window, and
//     2  to the link, from another window (op bit 5: wParam 0): dwData, length and payload as
//        above; op bit 2: lpData null; op bit 3: dwData is replaced by a client kind, op bit 4
//        choosing the client state over a notification.
//     3  something the library or the system does, (op >> 2) & 7: poll; connect; disconnect;
//        the client's window goes or comes back; the bridge's queue fills or empties; the
//        bridge's window goes; the client's handle is taken by a window of another class or
//        given back; a direct command.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "companions/tarvoapi/Protocol.h"
#include "companions/tarvoapi/real/ClientLink.h"
#include "devicemanager/app/AudioManagerDlg.h"
#include "devicemanager/app/ManagerSettings.h"
#include "platform/ClientApi.h"
#include "platform/Desktop.h"
#include "resources/devicemanager/resource.h"
#include "sim/MemoryRegistry.h"
#include "sim/VirtualClock.h"

namespace {

#define CHECK(condition)                \
  do {                                  \
    if (!(condition)) __builtin_trap(); \
  } while (0)

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t U16() { return Byte() | static_cast<std::uint32_t>(Byte()) << 8; }
  std::uint32_t U32() { return U16() | U16() << 16; }
  // Up to n bytes, fewer when the input ends first.
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    n = std::min(n, size_ - std::min(at_, size_));
    std::vector<std::uint8_t> bytes(data_ + at_, data_ + at_ + n);
    at_ += n;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A payload in a heap block of exactly its size (a zero-sized one too, which is still a valid
// pointer that must not be read).
struct Block {
  explicit Block(const std::vector<std::uint8_t>& bytes) : data(new std::uint8_t[bytes.size()]), size(bytes.size()) {
    if (size) std::memcpy(data.get(), bytes.data(), size);
  }
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t size;
};

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
  bool destroyed = false;

  platform::DialogControls& Controls() override { return controls; }
  std::uintptr_t Handle() override { return handle_; }
  void Show(bool) override {}
  void ShowCommand(int) override {}
  void CenterOnOwner() override {}
  void MakeTopmost() override {}
  void Activate() override {}
  void Focus() override {}
  void End(std::intptr_t result) override { ended = result; }
  void Destroy() override { destroyed = true; }
  bool SetTimer(std::uintptr_t, std::uint32_t) override { return true; }
  void KillTimer(std::uintptr_t) override {}

 private:
  std::uintptr_t handle_;
};

constexpr char kWindowsDefault[] = "Windows default device";
constexpr std::uint32_t kWmNcDestroy = 0x0082;

// Modal dialogs are created, initialised and closed at once; what their controls showed is kept.
// Threads are never started: a watcher's work is not what this input drives.
class FakeUi final : public platform::Ui {
 public:
  std::map<int, FakeControls> shown;  // by template id, the last one

  platform::ModuleHandle LoadLanguageLibrary(const char*) override { return 0; }
  void SetResourceModule(platform::ModuleHandle) override {}
  std::string LoadText(int id) override { return id == IDS_WINDOWS_DEFAULT_DEVICE ? kWindowsDefault : ""; }
  platform::DialogWindow* CreateModeless(int, platform::DialogPresenter&, platform::DialogWindow*) override {
    return nullptr;
  }
  std::intptr_t RunModal(int templateId, platform::DialogPresenter& presenter, platform::DialogWindow*) override {
    FakeWindow window(0x2000 + static_cast<std::uintptr_t>(templateId));
    std::intptr_t result = 0;
    presenter.OnMessage(window, platform::kWmInitDialog, 0, 0, result);
    presenter.OnMessage(window, kWmNcDestroy, 0, 0, result);
    shown[templateId] = window.controls;
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
  std::vector<platform::ProcessEntry> Processes() override { return {{4242, "Client.exe"}}; }
  std::uint32_t CurrentProcessId() override { return 100; }
  std::uint16_t SystemDefaultLangId() override { return 0x0409; }
  platform::VersionInfo Version() override { return {}; }
  std::string CommonProgramFilesFolder() override { return "C:\\Program Files\\Common Files"; }
  platform::WorkArea GetWorkArea() override { return {0, 0, 1024, 768}; }
  bool NotifyIcon(platform::TrayAction, const platform::TrayIcon&) override { return true; }
};

// One device each side, so the settings request reaches its dialog.
class FakeAudio final : public platform::AudioControl {
 public:
  int UpdateAudioDevice(const char*) override { return 1; }
  std::uint32_t WaveInGetNumDevs() override { return 1; }
  std::uint32_t WaveOutGetNumDevs() override { return 1; }
  int WaveInGetDevCaps(std::uint32_t device, char* name, int size) override { return Name(device, "Mic", name, size); }
  int WaveOutGetDevCaps(std::uint32_t device, char* name, int size) override {
    return Name(device, "Speakers", name, size);
  }
  int GetDefaultAudioDevice(char* input, char* output) override {
    std::strcpy(input, "Mic");
    std::strcpy(output, "Speakers");
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

// What the manager keeps of a name: cut at 255 bytes and at its terminator.
std::string ExpectedName(const std::uint8_t* data, std::size_t size) {
  if (!data) return {};
  const std::size_t limit = std::min<std::size_t>(size, devicemanager::kNameCapacity);
  const auto* end = std::find(data, data + limit, std::uint8_t{0});
  return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(end - data));
}

// --- the client library's system ------------------------------------------------------------

constexpr std::uintptr_t kBridge = 0xB1;
constexpr std::uintptr_t kClient = 0xC1;
constexpr std::uintptr_t kStranger = 0x5A;

struct Posted {
  std::uint32_t msg;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};

class FakeSystem final : public tarvoapi::LinkSystem {
 public:
  tarvoapi::ClientLink* link = nullptr;
  bool answerAttach = false;  // the next attach request is answered with 0x478 at once
  bool alive = true;
  bool clientClass = true;
  bool watchable = true;
  bool queueFull = false;
  std::vector<Posted> posted;

  std::uintptr_t FindClient() override { return alive && clientClass ? kClient : 0; }
  bool IsClientWindow(std::uintptr_t window) override { return alive && clientClass && window == kClient; }
  std::optional<std::intptr_t> SendToClient(std::uintptr_t window, std::uint32_t kind,
                                            std::span<const std::uint8_t> body, std::uint32_t) override {
    if (!alive || window != kClient) return std::nullopt;
    // What the library sends must be readable by the client.
    CHECK(tarvoapi::DecodeLibraryMessage(kind, body).has_value());
    if (kind == tarvoapi::kAttach && answerAttach) {
      answerAttach = false;
      tarvoapi::ClientMessage attached;
      attached.message = platform::kClientAttached;
      const auto bytes = tarvoapi::Encode(attached);
      link->FromClient(kClient, tarvoapi::kNotify, bytes);
    }
    return 1;
  }
  bool PostToBridge(std::uintptr_t window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override {
    CHECK(window == kBridge);
    if (queueFull) return false;
    posted.push_back({msg, wParam, lParam});
    return true;
  }
  void Wake() override {}
  std::uint32_t ProcessId() override { return 77; }
  bool WatchBridgeWindow(std::uintptr_t) override { return watchable; }
};

std::size_t BoundedLength(const std::uint8_t* text, std::size_t size) {
  const auto* end = std::find(text, text + size, std::uint8_t{0});
  CHECK(end != text + size);  // terminated within its field
  return static_cast<std::size_t>(end - text);
}

// The bridge's window handles what was posted, reading each payload as the bridge does; with
// the window watched, the library is told after each message.
void HandlePosted(FakeSystem& system, tarvoapi::ClientLink& link) {
  std::vector<Posted> queue;
  queue.swap(system.posted);
  for (const auto& note : queue) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(note.wParam);
    switch (note.msg) {
      case platform::kClientStatusText:
        CHECK(bytes);
        CHECK(std::strlen(reinterpret_cast<const char*>(bytes)) <= tarvoapi::kMaxStatusText);
        break;
      case platform::kClientContactList: {
        CHECK(bytes);
        std::intptr_t count = 0;
        for (const char* at = reinterpret_cast<const char*>(bytes); *at; ++count) {
          const std::size_t length = std::strlen(at);
          CHECK(length <= tarvoapi::kMaxPartner);
          at += length + 1;
        }
        CHECK(count == note.lParam);
        break;
      }
      case platform::kClientCallStatus: {
        CHECK(bytes);
        std::uint8_t record[platform::kCallStructureSize];
        std::memcpy(record, bytes, sizeof record);
        BoundedLength(record + 4, platform::kCallStatusOffset - 4);
        BoundedLength(record + platform::kCallStatusOffset, platform::kCallStatusSize);
        break;
      }
      case platform::kClientVoicemailList:
        CHECK(note.lParam >= 0);
        if (note.lParam > 0) {
          CHECK(bytes);
          for (std::intptr_t i = 0; i < note.lParam; ++i) {
            std::uint8_t entry[platform::kVoicemailEntrySize];
            std::memcpy(entry, bytes + static_cast<std::size_t>(i) * sizeof entry, sizeof entry);
            BoundedLength(entry + platform::kVoicemailPartnerOffset, platform::kVoicemailPartnerSize);
          }
        }
        break;
      default:
        break;
    }
    if (system.watchable) link.Handled(note.msg, note.wParam);
  }
  // Released one by one when watched; otherwise held by a ring of bounded size.
  CHECK(system.watchable ? link.OutstandingPayloads() == 0 : link.OutstandingPayloads() <= 256);
}

// The exports' answers from the call table, in buffers of exactly the sizes they may fill.
void QueryCalls(tarvoapi::ClientLink& link) {
  int counts[6] = {};
  link.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  constexpr int kRoom = 2;
  auto inProgressIds = std::make_unique<unsigned long[]>(kRoom);
  auto ringingIds = std::make_unique<unsigned long[]>(kRoom);
  int inProgress = kRoom, ringing = kRoom, onHold = 5;
  link.GetCallNumberEx(inProgress, inProgressIds.get(), ringing, ringingIds.get(), onHold, nullptr);
  CHECK(inProgress == counts[0] && ringing == counts[2] && onHold == counts[4]);
  if (inProgress > 0) CHECK(static_cast<int>(static_cast<std::int32_t>(inProgressIds[0])) == counts[1]);
  if (ringing > 0) CHECK(static_cast<int>(static_cast<std::int32_t>(ringingIds[0])) == counts[3]);
  for (int i = 0; i < std::min(inProgress, kRoom); ++i) {
    auto record = std::make_unique<std::uint8_t[]>(platform::kCallStructureSize);
    CHECK(link.GetCallById(static_cast<int>(static_cast<std::int32_t>(inProgressIds[i])), record.get()));
    BoundedLength(record.get() + platform::kCallStatusOffset, platform::kCallStatusSize);
  }
  auto handle = std::make_unique<char[]>(platform::kRecentCallHandleSize);
  link.GetRecentCallHandle(handle.get());
  BoundedLength(reinterpret_cast<const std::uint8_t*>(handle.get()), platform::kRecentCallHandleSize);
}

// The decoder on its own: what it takes must encode to something it takes again, unchanged
// from then on.
void CheckDecoder(std::uint32_t kind, std::span<const std::uint8_t> body) {
  tarvoapi::DecodeLibraryMessage(kind, body);
  const auto first = tarvoapi::DecodeClientMessage(kind, body);
  if (!first) return;
  CHECK(first->text.size() <= tarvoapi::kMaxStatusText);
  CHECK(first->calls.size() <= tarvoapi::kMaxCalls);
  CHECK(first->contacts.size() <= tarvoapi::kMaxContacts);
  const auto second = tarvoapi::DecodeClientMessage(kind, tarvoapi::Encode(*first));
  CHECK(second.has_value());
  const auto third = tarvoapi::DecodeClientMessage(kind, tarvoapi::Encode(*second));
  CHECK(third.has_value() && *third == *second);
}

void LinkAction(unsigned action, FakeSystem& system, tarvoapi::ClientLink& link) {
  switch (action) {
    case 0:
      link.Poll();
      break;
    case 1:
      link.Connect();
      link.Service();
      break;
    case 2:
      link.Disconnect();
      link.Service();
      break;
    case 3:
      system.alive = !system.alive;
      break;
    case 4:
      system.queueFull = !system.queueFull;
      break;
    case 5:
      link.BridgeWindowGone(kBridge);
      CHECK(link.OutstandingPayloads() == 0);
      break;
    case 6:
      system.clientClass = !system.clientClass;
      break;
    default:
      link.SendCommandDirect("FOCUS");
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  const std::uint8_t setup = input.Byte();

  sim::MemoryRegistry registry;
  sim::VirtualClock clock;
  FakeDesktop desktop;
  FakeUi ui;
  FakeAudio audio;
  devicemanager::ManagerPorts ports{registry, clock, desktop, ui, audio};
  auto manager = std::make_unique<devicemanager::CAudioManagerDlg>(ports);
  FakeWindow mainWindow(0x157);
  std::intptr_t result = 0;
  if (!(setup & 8)) manager->OnMessage(mainWindow, platform::kWmInitDialog, 0, 0, result);
  std::string mic;
  std::string speaker;

  FakeSystem system;
  tarvoapi::ClientLink link(system);
  system.link = &link;
  system.watchable = !(setup & 2);
  system.answerAttach = setup & 1;
  link.Initialize(kBridge);
  link.Connect();
  link.Service();
  HandlePosted(system, link);

  while (!input.Empty()) {
    const std::uint8_t op = input.Byte();
    if ((op & 3) == 3) {
      LinkAction((op >> 2) & 7, system, link);
    } else {
      const std::uint32_t dwData = input.U32();
      const Block payload(input.Bytes(input.U16()));
      if ((op & 3) == 0) {
        const std::uintptr_t wParam = (op >> 2) & 3;
        platform::CopyData record;
        record.id = dwData;
        record.size = static_cast<std::uint32_t>(payload.size);
        record.data = (op & 0x10) ? nullptr : payload.data.get();
        const bool noRecord = op & 0x20;
        CHECK(manager->OnMessage(mainWindow, platform::kWmCopyData, wParam,
                                 noRecord ? 0 : reinterpret_cast<std::intptr_t>(&record), result));
        if (!noRecord && (wParam == 1 || wParam == 2)) {
          (wParam == 1 ? mic : speaker) = ExpectedName(static_cast<const std::uint8_t*>(record.data), record.size);
        }
        CHECK(manager->ClientMicName() == mic);
        CHECK(manager->ClientSpeakerName() == speaker);
      } else {
        std::uintptr_t sender = (op & 3) == 1 ? kClient : kStranger;
        if ((op & 3) == 2 && (op & 0x20)) sender = 0;
        std::uint32_t kind = dwData;
        if (op & 8) kind = (op & 0x10) ? tarvoapi::kClientState : tarvoapi::kNotify;
        // A length without data is refused before anything is read; no data and no length is
        // an empty body.
        const bool noData = op & 4;
        const std::span<const std::uint8_t> body(noData ? nullptr : payload.data.get(), noData ? 0 : payload.size);
        CheckDecoder(kind, body);
        const auto before = link.DroppedMessages();
        const std::intptr_t answer =
            noData && payload.size > 0 ? link.Unreadable(sender) : link.FromClient(sender, kind, body);
        CHECK(answer == 0 || answer == 1);
        // Strangers are never listened to.
        if (sender != kClient) {
          CHECK(answer == 0);
          CHECK(link.DroppedMessages().strangers == before.strangers + 1);
        }
      }
    }
    HandlePosted(system, link);
    QueryCalls(link);
  }

  if (setup & 4) {
    manager->OpenSettingsRequest(mainWindow);
    auto& shown = ui.shown[IDD_DEVICE_SETTINGS].controls;
    const auto showsName = [](const std::string& text, const std::string& name) {
      return text == (name.empty() ? std::string(kWindowsDefault)
                                   : name.substr(0, devicemanager::CDeviceSettingsDlg::kClientNameCapacity));
    };
    CHECK(showsName(shown[IDC_CLIENT_MIC].text, mic));
    CHECK(showsName(shown[IDC_CLIENT_SPEAKER].text, speaker));
  }
  return 0;
}
