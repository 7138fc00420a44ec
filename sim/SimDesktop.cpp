#include "sim/SimDesktop.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/ProgramClock.h"

namespace sim {

namespace {

thread_local SimProgram* tlsUiProgram = nullptr;

// Windows never fires a timer more often than every 10 ms.
constexpr std::uint32_t kMinimumTimer = 10;

// The tray's callback messages (lParam, or its low word from version 4 on).
constexpr std::uint32_t kWmLButtonUp = 0x0202;
constexpr std::uint32_t kWmRButtonUp = 0x0205;
// NOTIFYICON_VERSION: Windows 2000's shell behaviour, with WM_CONTEXTMENU.
constexpr std::uint32_t kNotifyIconVersion = 3;
constexpr std::uint32_t kNotifyIconVersion4 = 4;

}  // namespace

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string_view FileNameOf(std::string_view path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// ---- SimProgram ----

bool SimProgram::NextMessage(SimMessage& message) {
  auto& desktop = desktop_;
  for (;;) {
    if (killed_.load()) throw ProcessEnded{};
    std::shared_ptr<SentMessage> sent;
    {
      std::lock_guard lock(desktop.mutex_);
      if (!sent_.empty()) {
        sent = sent_.front();
        sent_.pop_front();
      } else if (!posted_.empty()) {
        message = std::move(posted_.front());
        posted_.pop_front();
        return true;
      } else if (quit_) {
        message = SimMessage{0, platform::kWmQuit, static_cast<std::uintptr_t>(quitCode_), 0, nullptr};
        return false;
      } else if (!dueTimers_.empty()) {
        // Timers are the lowest priority: WM_TIMER is made only when nothing else waits.
        const auto [window, id] = dueTimers_.front();
        dueTimers_.pop_front();
        const auto it = desktop.timers_.find({window, id});
        if (it != desktop.timers_.end()) it->second.pending = false;
        message = SimMessage{window, platform::kWmTimer, id, 0, nullptr};
        return true;
      }
    }
    if (sent) {
      Reply(sent);
      continue;
    }
    desktop.clock_.WaitFor([this, &desktop] {
      std::lock_guard lock(desktop.mutex_);
      return !sent_.empty() || !posted_.empty() || quit_ || !dueTimers_.empty() || killed_.load();
    });
  }
}

void SimProgram::Reply(const std::shared_ptr<SentMessage>& sent) {
  const std::intptr_t result = Dispatch(sent->message);
  {
    std::lock_guard lock(desktop_.mutex_);
    sent->result = result;
    sent->done = true;
  }
  desktop_.clock_.Notify();
}

std::intptr_t SimProgram::Dispatch(const SimMessage& message) {
  WindowProc proc;
  {
    std::lock_guard lock(desktop_.mutex_);
    const auto it = desktop_.windows_.find(message.window);
    if (it == desktop_.windows_.end()) return 0;
    proc = it->second.proc;
  }
  return proc ? proc(message.msg, message.wParam, message.lParam) : 0;
}

void SimProgram::PostQuit(int exitCode) {
  {
    std::lock_guard lock(desktop_.mutex_);
    quit_ = true;
    quitCode_ = exitCode;
  }
  desktop_.clock_.Notify();
}

void SimProgram::Kill() {
  killed_.store(true);
  desktop_.clock_.Notify();
}

void SimProgram::BindUiThread() {
  tlsUiProgram = this;
  std::lock_guard lock(desktop_.mutex_);
  uiBound_ = true;
}

// ---- the desktop as one program sees it ----

class ProgramDesktop : public platform::Desktop {
 public:
  ProgramDesktop(SimDesktop& desktop, SimProgram& program) : desktop_(desktop), program_(program) {}

  WindowHandle FindTopWindow(const char* className, const char* title) override {
    return desktop_.FindTopWindow(className, title);
  }
  bool Post(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override {
    desktop_.LogMessage(&program_, window, msg, wParam, lParam, nullptr);
    return desktop_.PostTo(window, msg, wParam, lParam);
  }
  std::intptr_t Send(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override {
    desktop_.LogMessage(&program_, window, msg, wParam, lParam, nullptr);
    return desktop_.SendFrom(&program_, window, msg, wParam, lParam);
  }
  std::intptr_t SendCopyData(WindowHandle window, WindowHandle from, std::uintptr_t wParam, std::uintptr_t id,
                             const void* data, std::uint32_t size) override {
    // The receiver gets its own copy, valid for the time of the call, as Windows marshals it.
    std::vector<std::uint8_t> bytes(static_cast<const std::uint8_t*>(data),
                                    static_cast<const std::uint8_t*>(data) + (data ? size : 0));
    const auto* chars = reinterpret_cast<const char*>(bytes.data());
    const std::string text(chars, strnlen(chars, bytes.size()));
    desktop_.LogMessage(&program_, window, platform::kWmCopyData, wParam, 0, &text);
    platform::CopyData record{id, static_cast<std::uint32_t>(bytes.size()), bytes.empty() ? nullptr : bytes.data()};
    (void)from;
    return desktop_.SendFrom(&program_, window, platform::kWmCopyData, wParam,
                             reinterpret_cast<std::intptr_t>(&record));
  }
  std::uint32_t RegisterMessage(const char* name) override { return desktop_.RegisterMessage(name ? name : ""); }
  WindowHandle ForegroundWindow() override {
    std::lock_guard lock(desktop_.mutex_);
    return desktop_.activeWindow_;
  }
  bool IsVisible(WindowHandle window) override {
    std::lock_guard lock(desktop_.mutex_);
    const auto it = desktop_.windows_.find(window);
    return it != desktop_.windows_.end() && it->second.visible;
  }
  bool BringToForeground(WindowHandle window) override {
    if (!desktop_.WindowExists(window)) return false;
    desktop_.SetActive(window);
    return true;
  }
  bool StartProcess(const char* path, std::uint32_t) override { return desktop_.StartProcess(path); }
  std::vector<platform::ProcessEntry> Processes() override { return desktop_.Processes(); }
  std::uint32_t CurrentProcessId() override { return program_.ProcessId(); }
  std::uint16_t SystemDefaultLangId() override { return desktop_.LangId(); }
  platform::VersionInfo Version() override { return desktop_.Version(); }
  std::string CommonProgramFilesFolder() override { return "C:\\Program Files\\Common Files"; }
  platform::WorkArea GetWorkArea() override { return {0, 0, 1280, 770}; }
  bool NotifyIcon(platform::TrayAction action, const platform::TrayIcon& icon) override {
    return desktop_.NotifyIcon(action, icon);
  }

 private:
  SimDesktop& desktop_;
  SimProgram& program_;
};

// ---- SimDesktop ----

SimDesktop::SimDesktop(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript)
    : clock_(clock), scheduler_(scheduler), transcript_(transcript) {}

SimDesktop::~SimDesktop() = default;

SimProgram& SimDesktop::AddProgram(std::string name, std::string exeName, std::uint32_t processId) {
  const std::uint32_t id = AddProcess(std::move(exeName), processId ? std::optional(processId) : std::nullopt);
  std::lock_guard lock(mutex_);
  programs_.push_back(std::unique_ptr<SimProgram>(new SimProgram(*this, std::move(name), id)));
  return *programs_.back();
}

void SimDesktop::EndProgram(SimProgram& program) {
  std::vector<WindowHandle> owned;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, window] : windows_) {
      if (window.owner == &program) owned.push_back(handle);
    }
  }
  for (const auto handle : owned) DestroyWindow(handle);
  EndProcess(program.ProcessId());
  std::lock_guard lock(mutex_);
  std::erase_if(tray_, [&](const TrayEntry& entry) { return entry.owner == &program; });
  std::erase_if(mutexes_, [&](const auto& entry) { return entry.second == &program; });
}

void SimDesktop::RemoveProgram(SimProgram& program) {
  EndProgram(program);
  std::lock_guard lock(mutex_);
  std::erase_if(programs_, [&](const auto& p) { return p.get() == &program; });
}

SimProgram* SimDesktop::FindProgram(std::string_view name) {
  std::lock_guard lock(mutex_);
  for (const auto& program : programs_) {
    if (program->Name() == name) return program.get();
  }
  return nullptr;
}

WindowHandle SimDesktop::NewWindow(SimProgram* owner, std::string title, std::string className, WindowProc proc) {
  std::lock_guard lock(mutex_);
  const WindowHandle handle = nextWindow_;
  nextWindow_ += 0x10;
  windows_.emplace(handle, Window{owner, std::move(title), std::move(className), std::move(proc), false});
  return handle;
}

void SimDesktop::DestroyWindow(WindowHandle window) {
  std::lock_guard lock(mutex_);
  const auto it = windows_.find(window);
  if (it == windows_.end()) return;
  if (it->second.owner) {
    std::erase_if(it->second.owner->dueTimers_, [&](const auto& due) { return due.first == window; });
  }
  windows_.erase(it);
  if (activeWindow_ == window) activeWindow_ = 0;
  std::erase_if(timers_, [&](const auto& entry) { return entry.first.first == window; });
}

bool SimDesktop::WindowExists(WindowHandle window) {
  std::lock_guard lock(mutex_);
  return windows_.count(window) != 0;
}

std::string SimDesktop::WindowTitle(WindowHandle window) {
  std::lock_guard lock(mutex_);
  const auto it = windows_.find(window);
  return it == windows_.end() ? std::string() : it->second.title;
}

SimProgram* SimDesktop::WindowOwner(WindowHandle window) {
  std::lock_guard lock(mutex_);
  const auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.owner;
}

void SimDesktop::SetVisible(WindowHandle window, bool visible) {
  std::lock_guard lock(mutex_);
  const auto it = windows_.find(window);
  if (it != windows_.end()) it->second.visible = visible;
}

void SimDesktop::SetActive(WindowHandle window) {
  std::lock_guard lock(mutex_);
  activeWindow_ = window;
}

WindowHandle SimDesktop::FindTopWindow(const char* className, const char* title) {
  std::lock_guard lock(mutex_);
  for (const auto& [handle, window] : windows_) {
    // Class names compare without case, titles exactly, as FindWindowA does.
    if (className && LowerAscii(window.className) != LowerAscii(className)) continue;
    if (title && window.title != title) continue;
    return handle;
  }
  return 0;
}

bool SimDesktop::PostTo(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                        std::shared_ptr<const void> keepAlive) {
  {
    std::lock_guard lock(mutex_);
    const auto it = windows_.find(window);
    if (it == windows_.end()) return false;
    SimProgram* owner = it->second.owner;
    if (!owner) return true;  // another application's window: accepted and ignored
    if (owner->Killed()) return false;
    owner->posted_.push_back(SimMessage{window, msg, wParam, lParam, std::move(keepAlive)});
  }
  clock_.Notify();
  return true;
}

std::intptr_t SimDesktop::SendFrom(SimProgram* sender, WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                                   std::intptr_t lParam) {
  if (sender && sender->Killed()) throw ProcessEnded{};
  SimProgram* owner = WindowOwner(window);
  if (!owner || owner->Killed()) return 0;
  bool direct;
  {
    std::lock_guard lock(mutex_);
    direct = owner->uiBound_ && tlsUiProgram == owner;
  }
  SimMessage message{window, msg, wParam, lParam, nullptr};
  if (direct) return owner->Dispatch(message);
  auto sent = std::make_shared<SimProgram::SentMessage>();
  sent->message = message;
  {
    std::lock_guard lock(mutex_);
    owner->sent_.push_back(sent);
  }
  clock_.Notify();
  // The receiver handles it inside its message wait, also inside a modal loop. If its program
  // ends first, the send gives up with 0; if the sender's ends, the sender unwinds.
  const auto over = [this, sent, window, owner, sender] {
    return sent->done || windows_.count(window) == 0 || owner->Killed() || (sender && sender->Killed());
  };
  // A thread blocked in SendMessage still handles the messages other threads send to it, so the
  // sender's user-interface thread answers them while it waits.
  SimProgram* const answering = sender && tlsUiProgram == sender ? sender : nullptr;
  for (;;) {
    std::shared_ptr<SimProgram::SentMessage> incoming;
    {
      std::lock_guard lock(mutex_);
      if (over()) break;
      if (answering && !answering->sent_.empty()) {
        incoming = answering->sent_.front();
        answering->sent_.pop_front();
      }
    }
    if (incoming) {
      answering->Reply(incoming);
      continue;
    }
    clock_.WaitFor([this, &over, answering] {
      std::lock_guard lock(mutex_);
      return over() || (answering && !answering->sent_.empty());
    });
  }
  if (sender && sender->Killed()) throw ProcessEnded{};
  std::lock_guard lock(mutex_);
  return sent->done ? sent->result : 0;
}

void SimDesktop::SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t ms) {
  std::uint64_t generation;
  {
    std::lock_guard lock(mutex_);
    generation = ++timerGeneration_;
    // Restarted: a WM_TIMER already due stays due.
    auto& timer = timers_[{window, id}];
    timer.generation = generation;
  }
  ArmTimer(window, id, std::max(ms, kMinimumTimer), generation);
}

void SimDesktop::ArmTimer(WindowHandle window, std::uintptr_t id, std::uint32_t ms, std::uint64_t generation) {
  scheduler_.After(ms, [this, window, id, ms, generation] {
    bool due = false;
    {
      std::lock_guard lock(mutex_);
      const auto it = timers_.find({window, id});
      if (it == timers_.end() || it->second.generation != generation) return;  // killed or restarted
      const auto w = windows_.find(window);
      SimProgram* owner = w == windows_.end() ? nullptr : w->second.owner;
      if (owner && !owner->Killed() && !it->second.pending) {
        it->second.pending = true;
        owner->dueTimers_.emplace_back(window, id);
        due = true;
      }
    }
    if (due) clock_.Notify();
    ArmTimer(window, id, ms, generation);
  });
}

void SimDesktop::KillTimer(WindowHandle window, std::uintptr_t id) {
  std::lock_guard lock(mutex_);
  timers_.erase({window, id});
  // A WM_TIMER already due goes too, as KillTimer does.
  const auto it = windows_.find(window);
  if (it != windows_.end() && it->second.owner) {
    std::erase_if(it->second.owner->dueTimers_, [&](const auto& due) { return due == std::make_pair(window, id); });
  }
}

std::uint32_t SimDesktop::RegisterMessage(std::string_view name) {
  std::lock_guard lock(mutex_);
  const std::string key = LowerAscii(name);
  const auto it = registeredMessages_.find(key);
  if (it != registeredMessages_.end()) return it->second;
  const auto number = static_cast<std::uint32_t>(0xC000 + registeredMessages_.size());
  registeredMessages_.emplace(key, number);
  return number;
}

bool SimDesktop::CreateNamedMutex(SimProgram& owner, std::string_view name) {
  std::lock_guard lock(mutex_);
  return mutexes_.emplace(std::string(name), &owner).second;
}

void SimDesktop::SetFilePresent(std::string_view fileName, bool present) {
  std::lock_guard lock(mutex_);
  const std::string key = LowerAscii(FileNameOf(fileName));
  if (present) {
    absentFiles_.erase(key);
  } else {
    absentFiles_.insert(key);
  }
}

bool SimDesktop::FilePresent(std::string_view path) {
  std::lock_guard lock(mutex_);
  return absentFiles_.count(LowerAscii(FileNameOf(path))) == 0;
}

void SimDesktop::SetLauncher(std::string_view fileName, std::function<bool()> launcher) {
  std::lock_guard lock(mutex_);
  launchers_[LowerAscii(fileName)] = std::move(launcher);
}

bool SimDesktop::StartProcess(const char* path) {
  const std::string_view text = path ? path : "";
  transcript_.Add("proc", "start " + Quote(text));
  if (!FilePresent(text)) return false;
  std::function<bool()> launcher;
  {
    std::lock_guard lock(mutex_);
    const auto it = launchers_.find(LowerAscii(FileNameOf(text)));
    if (it != launchers_.end()) launcher = it->second;
  }
  if (launcher) return launcher();
  AddProcess(std::string(FileNameOf(text)));
  return true;
}

std::uint32_t SimDesktop::AddProcess(std::string exeName, std::optional<std::uint32_t> id) {
  std::lock_guard lock(mutex_);
  const std::uint32_t pid = id ? *id : (nextProcessId_ += 4);
  processes_.push_back({pid, std::move(exeName)});
  return pid;
}

void SimDesktop::EndProcess(std::uint32_t id) {
  std::lock_guard lock(mutex_);
  std::erase_if(processes_, [&](const platform::ProcessEntry& p) { return p.id == id; });
}

std::vector<platform::ProcessEntry> SimDesktop::Processes() {
  std::lock_guard lock(mutex_);
  return processes_;
}

void SimDesktop::SetLangId(std::uint16_t langId) {
  std::lock_guard lock(mutex_);
  langId_ = langId;
}

void SimDesktop::SetVersion(const platform::VersionInfo& version) {
  std::lock_guard lock(mutex_);
  version_ = version;
}

std::uint16_t SimDesktop::LangId() {
  std::lock_guard lock(mutex_);
  return langId_;
}

platform::VersionInfo SimDesktop::Version() {
  std::lock_guard lock(mutex_);
  return version_;
}

bool SimDesktop::NotifyIcon(platform::TrayAction action, const platform::TrayIcon& icon) {
  static constexpr const char* kVerbs[] = {"add", "modify", "delete"};
  SimProgram* owner = WindowOwner(icon.window);
  bool ok = true;
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(tray_.begin(), tray_.end(), [&](const TrayEntry& e) {
      return e.icon.window == icon.window && e.icon.id == icon.id;
    });
    switch (action) {
      case platform::TrayAction::Add:
        if (it != tray_.end() || refusedTrayAdds_ > 0) {
          ok = false;
          if (refusedTrayAdds_ > 0) --refusedTrayAdds_;
        } else {
          tray_.push_back({icon, owner, 0});
        }
        break;
      case platform::TrayAction::Modify:
        if (it == tray_.end()) {
          ok = false;
        } else {
          it->icon = icon;
        }
        break;
      case platform::TrayAction::Delete:
        if (it == tray_.end()) {
          ok = false;
        } else {
          tray_.erase(it);
        }
        break;
    }
  }
  std::string line = std::string(kVerbs[static_cast<int>(action)]) + " icon=" + std::to_string(icon.iconResource) +
                     " tip=" + Quote(icon.tip);
  if (!ok) line += " failed";
  transcript_.Add("tray", line);
  return ok;
}

bool SimDesktop::SetTrayIconVersion(WindowHandle window, std::uint32_t id, std::uint32_t version) {
  std::lock_guard lock(mutex_);
  for (auto& entry : tray_) {
    if (entry.icon.window == window && entry.icon.id == id) {
      entry.version = version;
      return true;
    }
  }
  return false;
}

bool SimDesktop::TrayIconInput(std::string_view programName, TrayInput input) {
  const auto entry = TrayIconOf(programName);
  if (!entry) return false;
  const auto& icon = entry->icon;
  const auto notify = [&](std::uint32_t mouse) {
    // Version 4 packs the icon id into lParam's high word; earlier ones pass it in wParam.
    if (entry->version >= kNotifyIconVersion4) {
      PostTo(icon.window, icon.callbackMessage, 0, static_cast<std::intptr_t>(mouse | icon.id << 16));
    } else {
      PostTo(icon.window, icon.callbackMessage, icon.id, static_cast<std::intptr_t>(mouse));
    }
  };
  // Only an icon that asked for NOTIFYICON_VERSION or later hears WM_CONTEXTMENU; the shell gives
  // the others the right button's messages instead, also for the keyboard's context-menu key
  // (Shell_NotifyIcon, NIM_SETVERSION).
  const bool contextMenu = entry->version >= kNotifyIconVersion;
  switch (input) {
    case TrayInput::LeftClick:
      notify(platform::kWmLButtonDown);
      notify(kWmLButtonUp);
      break;
    case TrayInput::RightClick:
      notify(platform::kWmRButtonDown);
      notify(kWmRButtonUp);
      if (contextMenu) notify(platform::kWmContextMenu);
      break;
    case TrayInput::ContextKey:
      if (contextMenu) {
        notify(platform::kWmContextMenu);
      } else {
        notify(platform::kWmRButtonDown);
        notify(kWmRButtonUp);
      }
      break;
  }
  return true;
}

void SimDesktop::RestartTaskbar() {
  transcript_.Add("tray", "restart");
  const std::uint32_t taskbarCreated = RegisterMessage("TaskbarCreated");
  std::vector<WindowHandle> topLevel;
  {
    std::lock_guard lock(mutex_);
    tray_.clear();
    // Every window of the simulation is top-level: controls live in their dialog's store.
    for (const auto& [handle, window] : windows_) {
      if (window.owner && !window.owner->Killed()) topLevel.push_back(handle);
    }
  }
  for (const auto handle : topLevel) PostTo(handle, taskbarCreated, 0, 0);
}

void SimDesktop::RefuseTrayAdds(std::uint32_t count) {
  std::lock_guard lock(mutex_);
  refusedTrayAdds_ = count;
}

std::optional<SimDesktop::TrayEntry> SimDesktop::TrayIconOf(std::string_view programName) {
  std::lock_guard lock(mutex_);
  for (const auto& entry : tray_) {
    if (entry.owner && entry.owner->Name() == programName) return entry;
  }
  return std::nullopt;
}

std::unique_ptr<platform::Desktop> SimDesktop::DesktopFor(SimProgram& program) {
  return std::make_unique<ProgramDesktop>(*this, program);
}

void SimDesktop::LogMessage(SimProgram* sender, WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                            std::intptr_t lParam, const std::string* copyText) {
  std::string title;
  {
    std::lock_guard lock(mutex_);
    const auto it = windows_.find(window);
    if (it == windows_.end() || it->second.owner == sender) return;  // only messages between programs
    title = it->second.title;
  }
  char number[16];
  std::snprintf(number, sizeof number, "0x%04X", msg);
  std::string line = title + " " + number + " " + std::to_string(static_cast<std::uint64_t>(wParam)) + " ";
  line += copyText ? Quote(*copyText) : std::to_string(static_cast<std::int64_t>(lParam));
  transcript_.Add("msg", line);
}

}  // namespace sim
