// The simulated desktop: programs with their user-interface threads and message queues,
// windows found by title or class, messages posted and sent between programs, timers, processes,
// system facts and the tray area. Each simulated program reaches it through its own
// platform::Desktop (DesktopFor), so the desktop knows who is talking.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Desktop.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/WindowPoster.h"

namespace sim {

using platform::WindowHandle;

struct SimMessage {
  WindowHandle window = 0;
  std::uint32_t msg = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
  std::shared_ptr<const void> keepAlive;
};

// A window procedure: every message dispatched or sent to the window.
using WindowProc = std::function<std::intptr_t(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam)>;

class SimDesktop;

// One simulated program.
class SimProgram {
 public:
  const std::string& Name() const { return name_; }
  std::uint32_t ProcessId() const { return processId_; }

  // The program's user-interface thread calls these (they block on the virtual clock).
  // NextMessage handles messages sent by other threads while it waits, and returns false on
  // WM_QUIT. It takes what waits in GetMessage's order: sent messages, posted ones, WM_QUIT, and
  // WM_TIMER only when nothing else is there.
  bool NextMessage(SimMessage& message);
  // Calls the target window's procedure; messages for destroyed windows are dropped.
  std::intptr_t Dispatch(const SimMessage& message);
  void PostQuit(int exitCode);
  int QuitCode() const { return quitCode_; }
  // Marks the calling thread as this program's user-interface thread (sends from it to its own
  // windows are direct calls).
  void BindUiThread();
  // Ends the program's message handling as the end of its process does: NextMessage and sends
  // from the program throw ProcessEnded (sim/ProgramClock.h), at once where they are blocked;
  // messages to its windows are dropped and sends to them answer 0. Any thread.
  void Kill();
  bool Killed() const { return killed_.load(); }

 private:
  friend class SimDesktop;
  struct SentMessage {
    SimMessage message;
    std::intptr_t result = 0;
    bool done = false;
  };

  SimProgram(SimDesktop& desktop, std::string name, std::uint32_t processId)
      : desktop_(desktop), name_(std::move(name)), processId_(processId) {}
  // Handles a message another thread sent and releases its sender.
  void Reply(const std::shared_ptr<SentMessage>& sent);

  SimDesktop& desktop_;
  const std::string name_;
  const std::uint32_t processId_;
  // Guarded by the desktop's mutex.
  std::deque<SimMessage> posted_;
  std::deque<std::shared_ptr<SentMessage>> sent_;
  // Timers that are due, in the order they came due: (window, id).
  std::deque<std::pair<WindowHandle, std::uintptr_t>> dueTimers_;
  bool quit_ = false;
  int quitCode_ = 0;
  bool uiBound_ = false;
  std::atomic<bool> killed_{false};
};

class SimDesktop : public WindowPoster {
 public:
  SimDesktop(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript);
  ~SimDesktop() override;

  // Programs. A program's id also enters the process list, under its executable name.
  SimProgram& AddProgram(std::string name, std::string exeName, std::uint32_t processId = 0);
  // What the end of a program's process does at once: its windows are destroyed (without
  // messages), its process entry, tray icons and mutexes go. The program object stays until
  // RemoveProgram, which does the same and deletes it.
  void EndProgram(SimProgram& program);
  void RemoveProgram(SimProgram& program);
  SimProgram* FindProgram(std::string_view name);

  // Windows. A window without a program (owner null) stands for another application's window:
  // messages to it are dropped.
  WindowHandle NewWindow(SimProgram* owner, std::string title, std::string className, WindowProc proc);
  void DestroyWindow(WindowHandle window);
  bool WindowExists(WindowHandle window);
  std::string WindowTitle(WindowHandle window);
  SimProgram* WindowOwner(WindowHandle window);
  void SetVisible(WindowHandle window, bool visible);
  void SetActive(WindowHandle window);
  WindowHandle FindTopWindow(const char* className, const char* title);

  bool PostTo(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
              std::shared_ptr<const void> keepAlive = nullptr) override;
  // Sends as `sender` (null: from outside any program, e.g. the scenario). Blocks until the
  // receiving thread has handled it; a send to a window of the calling thread's own program is a
  // direct call. 0 when the window is gone. While the sender's user-interface thread waits, it
  // handles what other threads send to it, so two programs sending to each other never deadlock.
  std::intptr_t SendFrom(SimProgram* sender, WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                         std::intptr_t lParam);

  // WM_TIMER to the window every `ms` until killed; a new SetTimer with the same id restarts it.
  // A due timer waits behind every posted message and is never due twice.
  void SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t ms);
  void KillTimer(WindowHandle window, std::uintptr_t id);

  std::uint32_t RegisterMessage(std::string_view name);

  // Named kernel mutexes, shared by every program: CreateMutexA, initially owned. False when the
  // name exists already; names compare with case, as kernel object names do. A program's mutexes
  // go when it is removed.
  bool CreateNamedMutex(SimProgram& owner, std::string_view name);

  // Files the programs look for: present unless declared absent (names compare without case).
  void SetFilePresent(std::string_view fileName, bool present);
  bool FilePresent(std::string_view path);
  // Starting a file whose name has a launcher runs it (e.g. "SNDWD.exe" starts the manager);
  // otherwise a present file becomes a plain process entry.
  void SetLauncher(std::string_view fileName, std::function<bool()> launcher);
  bool StartProcess(const char* path);
  std::uint32_t AddProcess(std::string exeName, std::optional<std::uint32_t> id = std::nullopt);
  void EndProcess(std::uint32_t id);
  std::vector<platform::ProcessEntry> Processes();

  void SetLangId(std::uint16_t langId);
  void SetVersion(const platform::VersionInfo& version);
  std::uint16_t LangId();
  platform::VersionInfo Version();

  // The tray area: one icon per (window, id).
  struct TrayEntry {
    platform::TrayIcon icon;
    SimProgram* owner = nullptr;
    std::uint32_t version = 0;  // NIM_SETVERSION; 0 until asked, and again after every add
  };
  bool NotifyIcon(platform::TrayAction action, const platform::TrayIcon& icon);
  // NIM_SETVERSION for an icon that is there: false when it is not.
  bool SetTrayIconVersion(WindowHandle window, std::uint32_t id, std::uint32_t version);
  std::optional<TrayEntry> TrayIconOf(std::string_view programName);
  // The user at the program's icon: the callback messages the shell posts for the icon's version.
  // False when the program has no icon.
  enum class TrayInput { LeftClick, RightClick, ContextKey };
  bool TrayIconInput(std::string_view programName, TrayInput input);
  // The shell starts again (after a crash or restart, or for the first time after the programs of
  // the log-on): the tray is empty, and the registered message "TaskbarCreated" is posted to every
  // top-level window of every running program.
  void RestartTaskbar();
  // The next `count` adds fail, as when the taskbar is not there yet or does not answer in time.
  void RefuseTrayAdds(std::uint32_t count);

  // The desktop as one program sees it.
  std::unique_ptr<platform::Desktop> DesktopFor(SimProgram& program);

  VirtualClock& Clock() { return clock_; }
  Scheduler& Timers() { return scheduler_; }
  Transcript& Log() { return transcript_; }

 private:
  friend class SimProgram;
  struct Window {
    SimProgram* owner = nullptr;
    std::string title;
    std::string className;
    WindowProc proc;
    bool visible = false;
  };
  struct Timer {
    std::uint64_t generation = 0;
    bool pending = false;  // due and not yet taken: Windows never has two WM_TIMER waiting
  };

  void ArmTimer(WindowHandle window, std::uintptr_t id, std::uint32_t ms, std::uint64_t generation);
  void LogMessage(SimProgram* sender, WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                  std::intptr_t lParam, const std::string* copyText);
  friend class ProgramDesktop;

  VirtualClock& clock_;
  Scheduler& scheduler_;
  Transcript& transcript_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<SimProgram>> programs_;
  std::map<WindowHandle, Window> windows_;
  WindowHandle nextWindow_ = 0x10010;
  WindowHandle activeWindow_ = 0;
  std::map<std::pair<WindowHandle, std::uintptr_t>, Timer> timers_;
  std::uint64_t timerGeneration_ = 0;
  std::map<std::string, std::uint32_t> registeredMessages_;
  std::map<std::string, SimProgram*, std::less<>> mutexes_;
  std::set<std::string> absentFiles_;
  std::map<std::string, std::function<bool()>> launchers_;
  std::vector<platform::ProcessEntry> processes_;
  std::uint32_t nextProcessId_ = 1000;
  std::uint16_t langId_ = 0x0409;
  platform::VersionInfo version_{2, 5, 1, 2600};
  std::vector<TrayEntry> tray_;
  std::uint32_t refusedTrayAdds_ = 0;
};

// Lower-case copy, for names Windows compares without case.
std::string LowerAscii(std::string_view text);
// The file name part of a path.
std::string_view FileNameOf(std::string_view path);

}  // namespace sim
