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
        if (message.msg == platform::kWmTimer) {
          const auto it = desktop.timers_.find({message.window, message.wParam});
          if (it != desktop.timers_.end()) it->second.pending = false;
        }
        return true;
      } else if (quit_) {
        message = SimMessage{0, platform::kWmQuit, static_cast<std::uintptr_t>(quitCode_), 0, nullptr};
        return false;
      }
    }
    if (sent) {
      const std::intptr_t result = Dispatch(sent->message);
      {
        std::lock_guard lock(desktop.mutex_);
        sent->result = result;
        sent->done = true;
      }
      desktop.clock_.Notify();
      continue;
    }
    desktop.clock_.WaitFor([this, &desktop] {
      std::lock_guard lock(desktop.mutex_);
      return !sent_.empty() || !posted_.empty() || quit_ || killed_.load();
    });
  }
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
  WindowHandle ActiveWindow() override {
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
  windows_.erase(window);
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

std::intptr_t SimDesktop::SendFrom(SimProgram* sender, WindowHandle window, std::uint32_t msg,
                                   std::uintptr_t wParam, std::intptr_t lParam) {
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
  clock_.WaitFor([this, sent, window, owner, sender] {
    std::lock_guard lock(mutex_);
    return sent->done || windows_.count(window) == 0 || owner->Killed() || (sender && sender->Killed());
  });
  if (sender && sender->Killed()) throw ProcessEnded{};
  std::lock_guard lock(mutex_);
  return sent->done ? sent->result : 0;
}

void SimDesktop::SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t ms) {
  std::uint64_t generation;
  {
    std::lock_guard lock(mutex_);
    generation = ++timerGeneration_;
    timers_[{window, id}] = Timer{generation, false};
  }
  ArmTimer(window, id, std::max(ms, kMinimumTimer), generation);
}

void SimDesktop::ArmTimer(WindowHandle window, std::uintptr_t id, std::uint32_t ms, std::uint64_t generation) {
  scheduler_.After(ms, [this, window, id, ms, generation] {
    bool post = false;
    {
      std::lock_guard lock(mutex_);
      const auto it = timers_.find({window, id});
      if (it == timers_.end() || it->second.generation != generation) return;  // killed or restarted
      if (!it->second.pending) {
        it->second.pending = true;
        post = true;
      }
    }
    if (post) PostTo(window, platform::kWmTimer, id, 0);
    ArmTimer(window, id, ms, generation);
  });
}

void SimDesktop::KillTimer(WindowHandle window, std::uintptr_t id) {
  std::lock_guard lock(mutex_);
  timers_.erase({window, id});
  // A WM_TIMER already queued is removed too, as KillTimer does.
  const auto it = windows_.find(window);
  if (it != windows_.end() && it->second.owner) {
    std::erase_if(it->second.owner->posted_, [&](const SimMessage& m) {
      return m.window == window && m.msg == platform::kWmTimer && m.wParam == id;
    });
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
        if (it != tray_.end()) {
          ok = false;
        } else {
          tray_.push_back({icon, owner});
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
