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
#include "tests/fuzz/FakeDialogs.h"
#include "tests/fuzz/FakeManagerPorts.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using fuzz::FakeAudio;
using fuzz::FakeControls;
using fuzz::FakeDesktop;
using fuzz::FakeWindow;
using fuzz::Input;
using fuzz::kWmNcDestroy;
using fuzz::QuietUi;

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

constexpr char kWindowsDefault[] = "Windows default device";

// Modal dialogs are created, initialised and closed at once; what their controls showed is kept.
// Threads are never started: a watcher's work is not what this input drives.
class FakeUi final : public QuietUi {
 public:
  std::map<int, FakeControls> shown;  // by template id, the last one

  std::string LoadText(int id) override { return id == IDS_WINDOWS_DEFAULT_DEVICE ? kWindowsDefault : ""; }
  std::intptr_t RunModal(int templateId, platform::DialogPresenter& presenter, platform::DialogWindow*) override {
    FakeWindow window(0x2000 + static_cast<std::uintptr_t>(templateId));
    std::intptr_t result = 0;
    presenter.OnMessage(window, platform::kWmInitDialog, 0, 0, result);
    presenter.OnMessage(window, kWmNcDestroy, 0, 0, result);
    shown[templateId] = window.controls;
    return window.ended.value_or(0);
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
  desktop.processes = {{4242, "Client.exe"}};
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
