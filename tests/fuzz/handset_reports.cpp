// Handset input reports of any bytes through the bridge's hidden main window, built whole on fakes
// of everything outside it: the handset link's decoding (repeats dropped, acknowledgements,
// version answers) and the main window's key dispatch, in either key mode, with the voicemail
// list shown or not. The reports arrive as message 0x464 does, packed into wParam and lParam.
//
// The link's device monitor and command sender run on this thread when the input asks for them,
// one after the other. Whenever one of them blocks (a sleep or an event wait), the user-interface
// thread takes its turn: the next reports arrive and the window's posted messages and due timers
// are handled. So version answers land inside the version exchange and acknowledgements inside
// the sender's waits. Time is the virtual clock's and only moves when someone sleeps or waits in
// vain; nothing really sleeps. The audio world's scheduler thread runs only while this thread
// advances the clock, and never touches the bridge.
//
// Input: a 10-byte header, then 7-byte input reports (a trailing partial report is dropped).
//   0  bit 0 the full key mode (else volume keys only), 1 the client attached, 2 the handset
//      present (the device monitor opens it), 3 the command sender runs, 4 a voicemail list shown
//      before the first report, 5 the client answers a voicemail request with a list, 6 the
//      handset's audio devices present, 7 those under the second product id
//   1  the client's calls: bits 0-1 in progress, 2-3 ringing, 4-5 held; 6 a message window of the
//      client open, 7 a recent call to redial
//   2  what the second query of a pair finds (bits 0-5 as above); 6 call records readable,
//      7 the client's window visible in the background
//   3  bits 0-2 the entries of a delivered voicemail list; 3-6 the recent call's handle length
//      (× 7, at most 99 characters); 7 the user closes the list shown at start (Escape)
//   4  the reports the device monitor takes, 5 the reports the command sender takes
//   6  which of every eight blocking points of a worker let reports arrive (bit n: point n mod 8)
//   7  bits 0-3 the reports arriving at one blocking point, less one; 4-7 the virtual time after
//      each report delivered once the workers are done (× 16 ms)
//   8  the key mode flips after this many reports (0 and 255: never)
//   9  bits 0-1 the stored ring mode (none, ring, silent, another number), 2-3 the stored key-tone
//      level, 4-7 every n-th handset write fails (0: none fails)
//
// Checked besides the sanitizers: every report that carries one is listed in the HID debug list,
// which never holds more than 500 lines, and a message without one lists nothing; a repeated
// report (the same sequence byte as the report before it) sends the client nothing; the volume-only
// key mode sends the client nothing; while the voicemail list is shown the keys send the client
// nothing but the list's own playback commands, and those only then.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bridge/app/BridgeDlg.h"
#include "bridge/app/BridgePorts.h"
#include "bridge/app/Settings.h"
#include "platform/ClientApi.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/DialogPresenter.h"
#include "platform/HidLink.h"
#include "platform/Ui.h"
#include "platform/VersionResource.h"
#include "platform/Window.h"
#include "resources/bridge/resource.h"
#include "sim/AudioWorld.h"
#include "sim/MemoryRegistry.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/WindowPoster.h"
#include "sim/ui/ResourceScript.h"
#include "sim/ui/SimDialogControls.h"
#include "tests/fuzz/FakeClient.h"
#include "tests/fuzz/FakeDialogs.h"

namespace {

using fuzz::kWmNcDestroy;
using platform::WindowHandle;

constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kReportSize = platform::kHandsetReportLength;
// Blocking points a worker may pass before it is asked to stop, reports or not.
constexpr std::size_t kMaxBlockingPoints = 256;
constexpr int kHidDebugMax = 500;
constexpr std::uint32_t kWmShowWindow = 0x0018;
constexpr char kClientWindowClass[] = "tTvMainForm.UnicodeClass";
constexpr WindowHandle kClientWindow = 0x7000;
constexpr WindowHandle kOtherWindow = 0x7100;
constexpr char kPlaybackPrefix[] = "ALTER VOICEMAIL ";

bool Bit(std::uint8_t byte, int bit) { return (byte >> bit & 1) != 0; }

// ---- messages posted to the program's windows

struct Posted {
  WindowHandle window = 0;
  std::uint32_t msg = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
  std::shared_ptr<const void> keepAlive;
};

// The audio world posts from its scheduler's thread while this thread advances the clock.
class PostedQueue {
 public:
  void Post(Posted message) {
    std::lock_guard lock(mutex_);
    messages_.push_back(std::move(message));
  }
  std::optional<Posted> Take() {
    std::lock_guard lock(mutex_);
    if (messages_.empty()) return std::nullopt;
    Posted message = std::move(messages_.front());
    messages_.pop_front();
    return message;
  }

 private:
  std::mutex mutex_;
  std::deque<Posted> messages_;
};

class QueuePoster final : public sim::WindowPoster {
 public:
  explicit QueuePoster(PostedQueue& queue) : queue_(queue) {}
  bool PostTo(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
              std::shared_ptr<const void> keepAlive) override {
    queue_.Post({window, msg, wParam, lParam, std::move(keepAlive)});
    return true;
  }

 private:
  PostedQueue& queue_;
};

// ---- time: the virtual clock, with a turn for the user-interface thread at every blocking point

class TurnClock final : public platform::Clock {
 public:
  TurnClock(sim::VirtualClock& time, std::function<void()> turn) : time_(time), turn_(std::move(turn)) {}

  void Sleep(std::uint32_t ms) override {
    turn_();
    Pass(ms);
  }
  std::uint32_t TickCount() override { return time_.TickCount(); }
  std::unique_ptr<platform::Event> MakeEvent(bool initiallySet) override {
    return std::make_unique<TurnEvent>(*this, initiallySet);
  }

 private:
  // A manual-reset event only this thread uses: a wait on a clear event lets the user-interface
  // thread run, and times out when that did not set it.
  class TurnEvent final : public platform::Event {
   public:
    TurnEvent(TurnClock& clock, bool set) : clock_(clock), set_(set) {}
    void Set() override { set_ = true; }
    void Reset() override { set_ = false; }
    bool Wait(std::uint32_t timeoutMs) override {
      if (set_) return true;
      clock_.turn_();
      if (set_) return true;
      clock_.Pass(timeoutMs);
      return set_;
    }

   private:
    TurnClock& clock_;
    bool set_;
  };

  void Pass(std::uint32_t ms) {
    if (ms != platform::kInfinite) time_.AdvanceBy(ms);
  }

  sim::VirtualClock& time_;
  std::function<void()> turn_;
};

// ---- the user interface: dialogs made from templates holding the controls the bridge uses

sim::ControlTemplate Control(int id, sim::ControlKind kind, std::uint32_t style, int width) {
  sim::ControlTemplate control;
  control.id = id;
  control.kind = kind;
  control.style = style;
  control.width = width;
  return control;
}

std::optional<sim::DialogTemplate> Template(int id) {
  using sim::ControlKind;
  constexpr std::uint32_t kListBox = 0x1 | 0x100 | 0x4000;              // LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_NOSEL
  constexpr std::uint32_t kListView = 0x1 | 0x4 | 0x8 | 0x40 | 0x4000;  // report, single selection
  sim::DialogTemplate dialog;
  dialog.id = id;
  switch (id) {
    case IDD_BRIDGE_MAIN:
      dialog.controls = {Control(IDC_TARVO_DEBUG, ControlKind::kList, kListBox, 155),
                         Control(IDC_HID_DEBUG, ControlKind::kList, kListBox, 155)};
      return dialog;
    case IDD_VOLUME_POPUP:
      dialog.controls = {Control(IDC_POPUP_SPEAKER, ControlKind::kSlider, 0, 24)};
      return dialog;
    case IDD_VOICEMAIL:
      dialog.controls = {Control(IDC_VOICEMAIL_LIST, ControlKind::kListView, kListView, 236)};
      return dialog;
    case IDD_PLEASE_WAIT:
      dialog.controls = {Control(IDC_WAIT_TEXT, ControlKind::kStatic, 0, 130)};
      return dialog;
    default:
      return std::nullopt;
  }
}

class FuzzUi;

// A modeless dialog. It is freed once destroyed and no message to it is under way any more, so a
// presenter that keeps using a destroyed window is caught.
class FuzzWindow final : public platform::DialogWindow, public std::enable_shared_from_this<FuzzWindow> {
 public:
  FuzzWindow(FuzzUi& ui, const sim::DialogTemplate& dialog, platform::DialogPresenter& presenter, WindowHandle handle,
             WindowHandle owner)
      : templateId(dialog.id),
        presenter(presenter),
        handle(handle),
        owner(owner),
        controls(dialog, handle + 1, {IDB_VOICEMAIL_STATUS}),
        ui_(ui) {}

  platform::DialogControls& Controls() override { return controls; }
  std::uintptr_t Handle() override { return handle; }
  void Show(bool visible) override;
  void ShowCommand(int command) override { Show(command != platform::kSwHide); }
  void CenterOnOwner() override {}
  void MakeTopmost() override { Show(true); }
  void Activate() override {}
  void Focus() override {}
  void End(std::intptr_t) override { Destroy(); }
  void Destroy() override;
  bool SetTimer(std::uintptr_t id, std::uint32_t ms) override;
  void KillTimer(std::uintptr_t id) override;

  const int templateId;
  platform::DialogPresenter& presenter;
  const WindowHandle handle;
  const WindowHandle owner;
  sim::SimDialogControls controls;
  bool visible = false;
  bool destroying = false;
  bool gone = false;

 private:
  FuzzUi& ui_;
};

class FuzzUi final : public fuzz::QuietUi {
 public:
  explicit FuzzUi(sim::VirtualClock& time) : time_(time) {}

  std::string LoadText(int id) override { return "text " + std::to_string(id); }

  platform::DialogWindow* CreateModeless(int templateId, platform::DialogPresenter& presenter,
                                         platform::DialogWindow* parent) override {
    const auto dialog = Template(templateId);
    if (!dialog) return nullptr;
    const WindowHandle handle = nextHandle_;
    nextHandle_ += 0x100;
    auto window = std::make_shared<FuzzWindow>(*this, *dialog, presenter, handle, parent ? parent->Handle() : 0);
    windows_[handle] = window;
    Dispatch(handle, platform::kWmInitDialog, 0, 0);
    // Destroyed during its initialisation: creating it failed.
    if (window->gone || window->destroying) return nullptr;
    return window.get();
  }
  std::intptr_t RunModal(int, platform::DialogPresenter&, platform::DialogWindow*) override { return -1; }
  std::uintptr_t SetWindowIcon(platform::DialogWindow&, int) override { return 0x5000; }
  // Worker threads are kept, not started: the rig runs the ones it wants on its own thread.
  void StartThread(const char* name, std::function<void(std::stop_token)> body) override {
    threads_[name] = std::move(body);
  }

  std::function<void(std::stop_token)> Thread(const std::string& name) const {
    const auto it = threads_.find(name);
    return it == threads_.end() ? nullptr : it->second;
  }

  // SendMessage to one of the program's windows; 0 when it is not there.
  std::intptr_t Dispatch(WindowHandle handle, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
    const auto it = windows_.find(handle);
    if (it == windows_.end()) return 0;
    const auto window = it->second;  // kept while its presenter handles the message
    std::intptr_t result = 0;
    window->presenter.OnMessage(*window, msg, wParam, lParam, result);
    return result;
  }

  bool Exists(WindowHandle handle) const { return windows_.count(handle) != 0; }
  // The live window made from this template, newest first; null when there is none.
  FuzzWindow* Find(int templateId) const {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
      if (it->second->templateId == templateId) return it->second.get();
    }
    return nullptr;
  }

  void DestroyWindow(FuzzWindow& window) {
    if (window.gone || window.destroying) return;
    window.destroying = true;
    const auto self = window.shared_from_this();
    // The windows it owns go first, newest first.
    std::vector<std::shared_ptr<FuzzWindow>> owned;
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
      if (it->second->owner == window.handle) owned.push_back(it->second);
    }
    for (const auto& other : owned) DestroyWindow(*other);
    window.visible = false;
    std::intptr_t ignored = 0;
    window.presenter.OnMessage(window, platform::kWmDestroy, 0, 0, ignored);
    window.gone = true;
    windows_.erase(window.handle);
    for (auto it = timers_.begin(); it != timers_.end();) {
      it = it->first.first == window.handle ? timers_.erase(it) : std::next(it);
    }
    // The presenter may let go of itself here.
    window.presenter.OnMessage(window, kWmNcDestroy, 0, 0, ignored);
  }

  void DestroyAll() {
    while (!windows_.empty()) DestroyWindow(*windows_.begin()->second);
  }

  void SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t ms) {
    const std::uint32_t period = ms < 10 ? 10 : ms;  // as USER_TIMER_MINIMUM
    timers_[{window, id}] = {period, time_.Now() + period};
  }
  void KillTimer(WindowHandle window, std::uintptr_t id) { timers_.erase({window, id}); }

  // One WM_TIMER for each timer that is due, as a message loop takes them.
  bool FireDueTimer() {
    const std::uint64_t now = time_.Now();
    for (auto& [key, timer] : timers_) {
      if (timer.due > now) continue;
      timer.due = now + timer.period;
      const auto [window, id] = key;
      Dispatch(window, platform::kWmTimer, id, 0);
      return true;
    }
    return false;
  }

 private:
  struct Timer {
    std::uint32_t period = 0;
    std::uint64_t due = 0;
  };

  sim::VirtualClock& time_;
  WindowHandle nextHandle_ = 0x10000;
  std::map<WindowHandle, std::shared_ptr<FuzzWindow>> windows_;
  std::map<std::pair<WindowHandle, std::uintptr_t>, Timer> timers_;
  std::map<std::string, std::function<void(std::stop_token)>> threads_;
};

void FuzzWindow::Show(bool visible) {
  if (gone || this->visible == visible) return;
  this->visible = visible;
  // Sent before ShowWindow returns, only when the visibility changes.
  ui_.Dispatch(handle, kWmShowWindow, visible ? 1 : 0, 0);
}

void FuzzWindow::Destroy() { ui_.DestroyWindow(*this); }

bool FuzzWindow::SetTimer(std::uintptr_t id, std::uint32_t ms) {
  if (gone) return false;
  ui_.SetTimer(handle, id, ms);
  return true;
}

void FuzzWindow::KillTimer(std::uintptr_t id) {
  if (!gone) ui_.KillTimer(handle, id);
}

// ---- the desktop: the client's window, the tray, messages

class FuzzDesktop final : public platform::Desktop {
 public:
  FuzzDesktop(FuzzUi& ui, PostedQueue& queue) : ui_(ui), queue_(queue) {}

  bool clientWindowInBackground = false;

  WindowHandle FindTopWindow(const char* className, const char*) override {
    return className && std::string_view(className) == kClientWindowClass ? kClientWindow : 0;
  }
  bool Post(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override {
    if (!ui_.Exists(window)) return false;
    queue_.Post({window, msg, wParam, lParam, nullptr});
    return true;
  }
  std::intptr_t Send(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override {
    return ui_.Dispatch(window, msg, wParam, lParam);
  }
  std::intptr_t SendCopyData(WindowHandle, WindowHandle, std::uintptr_t, std::uintptr_t, const void*,
                             std::uint32_t) override {
    return 0;
  }
  std::uint32_t RegisterMessage(const char* name) override {
    const auto [it, added] = registered_.emplace(name, 0xC000 + static_cast<std::uint32_t>(registered_.size()));
    return it->second;
  }
  WindowHandle ForegroundWindow() override { return clientWindowInBackground ? kOtherWindow : kClientWindow; }
  bool IsVisible(WindowHandle window) override { return window == kClientWindow || ui_.Exists(window); }
  bool BringToForeground(WindowHandle) override { return true; }
  bool StartProcess(const char*, std::uint32_t) override { return false; }
  std::vector<platform::ProcessEntry> Processes() override { return {}; }
  std::uint32_t CurrentProcessId() override { return 4242; }
  std::uint16_t SystemDefaultLangId() override { return 0x0409; }
  platform::VersionInfo Version() override { return {}; }
  std::string CommonProgramFilesFolder() override { return "C:\\Program Files\\Common Files"; }
  platform::WorkArea GetWorkArea() override { return {0, 0, 1024, 738}; }
  bool NotifyIcon(platform::TrayAction, const platform::TrayIcon&) override { return true; }

 private:
  FuzzUi& ui_;
  PostedQueue& queue_;
  std::map<std::string, std::uint32_t> registered_;
};

// ---- the client library

struct Calls {
  int inProgress = 0, ringing = 0, onHold = 0;
};

Calls CallsOf(std::uint8_t byte) { return {byte & 3, byte >> 2 & 3, byte >> 4 & 3}; }

constexpr unsigned long kInProgressIds[] = {5, 6, 7};
constexpr unsigned long kRingingIds[] = {9, 10, 13};
constexpr unsigned long kHeldIds[] = {8, 11, 12};

void PutInt32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A voicemail array as the library delivers it, exactly `count` records long.
std::shared_ptr<std::vector<std::uint8_t>> VoicemailArray(int count) {
  constexpr std::int32_t kStatuses[] = {5, 12, 6, 0};
  auto bytes =
      std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(count) * platform::kVoicemailEntrySize);
  for (int i = 0; i < count; ++i) {
    std::uint8_t* record = bytes->data() + static_cast<std::size_t>(i) * platform::kVoicemailEntrySize;
    PutInt32(record + platform::kVoicemailIdOffset, static_cast<std::uint32_t>(100 + i));
    PutInt32(record + platform::kVoicemailTimestampOffset, static_cast<std::uint32_t>(1000000000 + 3600 * i));
    PutInt32(record + platform::kVoicemailStatusOffset, static_cast<std::uint32_t>(kStatuses[i % 4]));
    const std::string partner = "caller " + std::to_string(i);
    std::memcpy(record + platform::kVoicemailPartnerOffset, partner.c_str(), partner.size() + 1);
  }
  return bytes;
}

class FuzzClient final : public fuzz::RecordingClient {
 public:
  FuzzClient(PostedQueue& queue, std::uint8_t calls, std::uint8_t second, std::uint8_t lengths, bool answersVoicemail)
      : first_(CallsOf(calls)),
        second_(CallsOf(second)),
        messageWindowOpen_(Bit(calls, 6)),
        recentCall_(Bit(calls, 7)),
        recordsReadable_(Bit(second, 6)),
        voicemailEntries_(lengths & 7),
        handleLength_(std::min<std::size_t>(static_cast<std::size_t>(lengths >> 3 & 0x0F) * 7,
                                            platform::kRecentCallHandleSize - 1)),
        answersVoicemail_(answersVoicemail),
        queue_(queue) {}

  WindowHandle mainWindow = 0;

  void GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                     int& onHoldId) override {
    inProgress = first_.inProgress;
    inProgressId = inProgress > 0 ? static_cast<int>(kInProgressIds[0]) : 0;
    ringing = first_.ringing;
    ringingId = ringing > 0 ? static_cast<int>(kRingingIds[0]) : 0;
    onHold = first_.onHold;
    onHoldId = onHold > 0 ? static_cast<int>(kHeldIds[0]) : 0;
  }
  // The first query of a pair finds the first calls, the second the second: calls come and go
  // between two queries.
  void GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing, unsigned long* ringingIds,
                       int& onHold, unsigned long* onHoldIds) override {
    const Calls& calls = exQueries_++ % 2 == 0 ? first_ : second_;
    Fill(inProgressIds, inProgress, calls.inProgress, kInProgressIds);
    Fill(ringingIds, ringing, calls.ringing, kRingingIds);
    Fill(onHoldIds, onHold, calls.onHold, kHeldIds);
  }
  // Odd ids belong to conference 3, even ones to none.
  bool GetCallbyID(int id, std::uint8_t* record) override {
    if (!recordsReadable_) return false;
    std::memset(record, 0, platform::kCallStructureSize);
    PutInt32(record + platform::kCallIdOffset, static_cast<std::uint32_t>(id));
    std::memcpy(record + platform::kCallStatusOffset, "ONHOLD", 7);
    PutInt32(record + platform::kCallConferenceOffset, id % 2 != 0 ? 3 : 0);
    return true;
  }
  bool GetRecentCallHandle(char* handle) override {
    if (!recentCall_) {
      handle[0] = '\0';
      return false;
    }
    for (std::size_t i = 0; i < handleLength_; ++i) handle[i] = static_cast<char>('a' + i % 26);
    handle[handleLength_] = '\0';
    return true;
  }
  bool CloseTarvoMSGDialog() override { return messageWindowOpen_; }
  // The list comes back as a posted message, as the library delivers it.
  void UpdateVMList() override {
    if (!answersVoicemail_ || mainWindow == 0) return;
    auto array = VoicemailArray(voicemailEntries_);
    const auto wParam = reinterpret_cast<std::uintptr_t>(array->data());
    queue_.Post({mainWindow, platform::kClientVoicemailList, wParam, voicemailEntries_, std::move(array)});
  }

  int VoicemailEntries() const { return voicemailEntries_; }

 private:
  // A null array asks for the count only; otherwise `room` ids fit and no more are written.
  static void Fill(unsigned long* ids, int& count, int present, const unsigned long (&from)[3]) {
    if (ids) {
      for (int i = 0; i < count && i < present; ++i) ids[i] = from[i];
    }
    count = present;
  }

  const Calls first_, second_;
  const bool messageWindowOpen_, recentCall_, recordsReadable_;
  const int voicemailEntries_;
  const std::size_t handleLength_;
  const bool answersVoicemail_;
  PostedQueue& queue_;
  unsigned exQueries_ = 0;
};

// ---- the handset's HID library

class FuzzHid final : public platform::HidLink {
 public:
  FuzzHid(bool present, unsigned failEvery) : present_(present), failEvery_(failEvery) {}

  int FindDevice(std::uint32_t, std::uint32_t) override { return present_ ? 1 : 0; }
  int OpenDevice(WindowHandle) override { return 1; }
  void SetNotifyMessage(std::uint32_t) override {}
  int WriteReport(const std::uint8_t*, int length) override {
    if (length != static_cast<int>(kReportSize)) __builtin_trap();
    ++writes_;
    return failEvery_ != 0 && writes_ % failEvery_ == 0 ? 0 : 1;
  }
  void CloseDevice() override {}
  void ReleaseLibrary() override {}

 private:
  const bool present_;
  const unsigned failEvery_;
  unsigned writes_ = 0;
};

class NoVersions final : public platform::VersionResources {
 public:
  std::string ModuleFileName(platform::ModuleHandle) override { return "Teliox.exe"; }
  std::unique_ptr<platform::VersionBlock> Read(const std::string&) override { return nullptr; }
  std::uint16_t UserDefaultLangId() override { return 0x0409; }
};

// ---- the rig: the bridge's main window in this world, and the reports of one input

// One worker's run: the reports it lets arrive, at most `budget`, and its blocking points.
struct Phase {
  std::size_t budget = 0;
  std::size_t delivered = 0;
  std::size_t points = 0;
  std::stop_source stop;
};

class Rig {
 public:
  Rig(const std::uint8_t* header, const std::uint8_t* reports, std::size_t count)
      : header_(header),
        reports_(reports),
        count_(count),
        client_(queue_, header[1], header[2], header[3], Bit(header[0], 5)),
        hid_(Bit(header[0], 2), header[9] >> 4) {
    transcript_.KeepNoLines();
    if (Bit(header[0], 6)) audio_.AddHandset("USB Phone", Bit(header[0], 7) ? 0x1403 : 0x1402);
    constexpr std::uint32_t kRingModes[] = {0, 1, 2, 7};
    if ((header[9] & 3) != 0) bridge::WriteSetting(registry_, bridge::kValueRingMode, kRingModes[header[9] & 3]);
    bridge::WriteSetting(registry_, bridge::kValueKeyTone, header[9] >> 2 & 3);
    desktop_.clientWindowInBackground = Bit(header[2], 7);
  }

  ~Rig() {
    // The windows go before their presenters.
    phase_.reset();
    ui_.DestroyAll();
    dialog_.reset();
  }

  void Run() {
    dialog_ = std::make_unique<bridge::CBridgeDlg>(ports_);
    auto* main = ui_.CreateModeless(IDD_BRIDGE_MAIN, *dialog_, nullptr);
    if (!main) __builtin_trap();
    main_ = main->Handle();
    client_.mainWindow = main_;
    full_ = Bit(header_[0], 0);
    SetKeyMode(full_);
    if (Bit(header_[0], 1)) ui_.Dispatch(main_, platform::kClientAttached, 0, 0);
    if (Bit(header_[0], 4)) {
      const auto array = VoicemailArray(client_.VoicemailEntries());
      ui_.Dispatch(main_, platform::kClientVoicemailList, reinterpret_cast<std::uintptr_t>(array->data()),
                   client_.VoicemailEntries());
      if (auto* list = ui_.Find(IDD_VOICEMAIL); list && Bit(header_[3], 7)) {
        ui_.Dispatch(list->handle, platform::kWmCommand, platform::kIdCancel, 0);
      }
    }
    Pump();
    if (Bit(header_[0], 2)) RunWorker("DeviceMonitorThread", header_[4]);
    if (Bit(header_[0], 3)) RunWorker("CommandSenderThread", header_[5]);
    const std::uint32_t step = static_cast<std::uint32_t>(header_[7] >> 4) * 16;
    while (next_ < count_) {
      DeliverNext();
      Pump();
      if (step == 0) continue;
      time_.AdvanceBy(step);
      Pump();
    }
    // The program ends: the main window is destroyed.
    if (auto* window = ui_.Find(IDD_BRIDGE_MAIN)) window->Destroy();
    Pump();
  }

 private:
  void SetKeyMode(bool full) {
    full_ = full;
    ui_.Dispatch(main_, platform::kWmCommand, full ? ID_HANDSET_EVENTS_ON : ID_HANDSET_EVENTS_OFF, 0);
  }

  // A worker thread body on this thread, asked to stop once it has let its reports arrive.
  void RunWorker(const char* name, std::size_t budget) {
    const auto body = ui_.Thread(name);
    if (!body) __builtin_trap();
    phase_.emplace();
    phase_->budget = budget;
    body(phase_->stop.get_token());
    phase_.reset();
    Pump();
  }

  // The user-interface thread's turn while a worker blocks.
  void Turn() {
    if (!phase_ || inTurn_) return;
    inTurn_ = true;
    Phase& phase = *phase_;
    const bool open = Bit(header_[6], static_cast<int>(phase.points % 8));
    ++phase.points;
    const std::size_t perPoint = (header_[7] & 0x0F) + 1u;
    for (std::size_t i = 0;
         open && !phase.stop.stop_requested() && i < perPoint && phase.delivered < phase.budget && next_ < count_;
         ++i) {
      DeliverNext();
      ++phase.delivered;
    }
    Pump();
    if (phase.delivered >= phase.budget || next_ >= count_ || phase.points >= kMaxBlockingPoints) {
      phase.stop.request_stop();
    }
    inTurn_ = false;
  }

  // Posted messages in order, then due timers, until neither is left.
  void Pump() {
    for (;;) {
      if (auto message = queue_.Take()) {
        ui_.Dispatch(message->window, message->msg, message->wParam, message->lParam);
        continue;
      }
      if (!ui_.FireDueTimer()) return;
    }
  }

  void DeliverNext() {
    Deliver(reports_ + next_ * kReportSize);
    ++next_;
    if (header_[8] != 0xFF && next_ == header_[8]) SetKeyMode(!full_);
  }

  void Deliver(const std::uint8_t* bytes) {
    const auto packed = platform::PackReport(bytes);
    const bool carried = static_cast<std::uint32_t>(packed.lParam) != 0xFFFFFFFFu;
    const bool repeat = carried && bytes[2] == lastSequence_;
    if (carried) lastSequence_ = bytes[2];
    // A list the user closed stays, hidden; the keys then do their usual work.
    const auto* list = ui_.Find(IDD_VOICEMAIL);
    const bool listShown = list && list->visible;
    auto* main = ui_.Find(IDD_BRIDGE_MAIN);
    if (!main) __builtin_trap();
    auto& controls = main->controls;
    const int linesBefore = controls.ListCount(IDC_HID_DEBUG);
    const std::size_t commandsBefore = client_.commands.size();

    ui_.Dispatch(main_, platform::kHandsetReportMessage, packed.wParam, packed.lParam);

    const int lines = controls.ListCount(IDC_HID_DEBUG);
    if (lines > kHidDebugMax) __builtin_trap();
    if (carried) {
      char text[64] = "MCU->";
      for (std::size_t i = 0; i < kReportSize; ++i) std::snprintf(text + 5 + 3 * i, 4, " %02X", bytes[i]);
      if (lines == 0 || controls.ListItem(IDC_HID_DEBUG, lines - 1) != text) __builtin_trap();
    } else if (lines != linesBefore) {
      __builtin_trap();
    }
    const bool quiet = !carried || repeat || !full_;
    for (std::size_t i = commandsBefore; i < client_.commands.size(); ++i) {
      const bool playback = client_.commands[i].rfind(kPlaybackPrefix, 0) == 0;
      if (quiet || playback != listShown) __builtin_trap();
    }
  }

  const std::uint8_t* const header_;
  const std::uint8_t* const reports_;
  const std::size_t count_;

  sim::VirtualClock time_{sim::VirtualClock::Options{false, 0}};
  sim::Scheduler scheduler_{time_};
  sim::Transcript transcript_{time_};
  PostedQueue queue_;
  QueuePoster poster_{queue_};
  sim::MemoryRegistry registry_;
  sim::AudioWorld audio_{time_, scheduler_, transcript_, poster_, registry_};
  TurnClock clock_{time_, [this] { Turn(); }};
  FuzzUi ui_{time_};
  FuzzDesktop desktop_{ui_, queue_};
  FuzzClient client_;
  FuzzHid hid_;
  NoVersions versions_;
  bridge::BridgePorts ports_{registry_, clock_, desktop_, ui_, client_, hid_, audio_, versions_};
  std::unique_ptr<bridge::CBridgeDlg> dialog_;

  WindowHandle main_ = 0;
  bool full_ = true;
  std::optional<Phase> phase_;
  bool inTurn_ = false;
  std::size_t next_ = 0;
  // The link takes a first report numbered 100 for a repeat.
  std::uint8_t lastSequence_ = 100;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) return 0;
  Rig rig(data, data + kHeaderSize, (size - kHeaderSize) / kReportSize);
  rig.Run();
  return 0;
}
