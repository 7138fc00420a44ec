#include "companions/hidmar/sim/win32/HandsetSimCli.h"

#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

#include "companions/hidmar/sim/win32/PipeChannel.h"

namespace hidmar_sim {

namespace {

void Print(DWORD which, const std::string& text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    static const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != 0;
    if (!attached) return;
    handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  }
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Every line received since the connection opened, kept for the steps to look through.
class Inbox {
 public:
  void Push(std::string line) {
    {
      std::lock_guard lock(mutex_);
      lines_.push_back(std::move(line));
    }
    changed_.notify_all();
  }
  void Close() {
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
    }
    changed_.notify_all();
  }
  // The newest state line before line `end`, if any.
  std::optional<std::string> LastStateBefore(std::size_t end) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = std::min(end, lines_.size()); i-- > 0;) {
      if (lines_[i].rfind("state ", 0) == 0) return lines_[i];
    }
    return std::nullopt;
  }
  // Waits until line `index` exists; false on time-out or when the connection closed first.
  bool WaitFor(std::size_t index, std::chrono::steady_clock::time_point deadline, std::string* line) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return closed_ || lines_.size() > index; });
    if (lines_.size() <= index) return false;
    *line = lines_[index];
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool closed_ = false;
};

}  // namespace

void PrintOut(const std::string& text) { Print(STD_OUTPUT_HANDLE, text); }
void PrintError(const std::string& text) { Print(STD_ERROR_HANDLE, text); }

int RunScript(const Script& script) {
  const std::string name = PipeName(script.pipe);
  win32::UniqueHandle pipe = PipeChannel::Connect(name, script.connectTimeoutMs);
  if (!pipe) {
    PrintError("handset-sim: no program with the sim Hidmar.dll serves " + name + "\n");
    return kExitNoLibrary;
  }
  Inbox inbox;
  PipeChannel channel(
      pipe.release(), [&inbox](PipeChannel&, std::string line) { inbox.Push(std::move(line)); },
      [&inbox] { inbox.Close(); });
  channel.Start();

  using Clock = std::chrono::steady_clock;
  const auto waitTimeout = std::chrono::milliseconds(script.waitTimeoutMs);
  std::size_t replies = 0;  // next line to look at for a command's answer
  std::size_t matched = 0;  // next line a wait looks at
  std::size_t printed = 0;  // next line a monitor prints
  std::string lastState;    // the newest state line seen by a command's answer

  // Sends a command and waits for its answer; the state lines passed on the way are noted.
  auto command = [&](const std::string& text) {
    channel.Send(text);
    const auto deadline = Clock::now() + waitTimeout;
    std::string line;
    while (inbox.WaitFor(replies++, deadline, &line)) {
      const auto event = ParseEvent(line);
      if (!event) continue;
      if (event->kind == Event::Kind::kState) lastState = line;
      if (event->kind != Event::Kind::kReply) continue;
      if (event->ok) return kExitOk;
      PrintError("handset-sim: " + text + ": " + event->text + "\n");
      return kExitCommandFailed;
    }
    PrintError("handset-sim: " + text + ": no answer\n");
    return kExitTimedOut;
  };

  for (const auto& step : script.steps) {
    switch (step.kind) {
      case ScriptStep::Kind::kSend: {
        const int result = command(step.command);
        if (result != kExitOk) return result;
        break;
      }
      case ScriptStep::Kind::kPrintState: {
        const int result = command("state");
        if (result != kExitOk) return result;
        PrintOut(lastState + "\n");
        break;
      }
      case ScriptStep::Kind::kWaitOut:
      case ScriptStep::Kind::kWaitIn:
      case ScriptStep::Kind::kWaitState: {
        const auto deadline = Clock::now() + waitTimeout;
        std::string line;
        bool found = false;
        if (step.kind == ScriptStep::Kind::kWaitState) {
          // A state is a condition: the handset may be in it already.
          const auto current = inbox.LastStateBefore(matched);
          const auto event = current ? ParseEvent(*current) : std::nullopt;
          found = event && Matches(step, *event);
        }
        while (!found && inbox.WaitFor(matched, deadline, &line)) {
          ++matched;
          const auto event = ParseEvent(line);
          found = event && Matches(step, *event);
        }
        if (!found) {
          PrintError("handset-sim: timed out waiting\n");
          return kExitTimedOut;
        }
        break;
      }
      case ScriptStep::Kind::kMonitor: {
        const auto deadline = Clock::now() + std::chrono::milliseconds(step.ms);
        std::string line;
        while (inbox.WaitFor(printed, deadline, &line)) {
          ++printed;
          PrintOut(line + "\n");
        }
        break;
      }
      case ScriptStep::Kind::kSleep:
        Sleep(step.ms);
        break;
    }
  }
  return kExitOk;
}

}  // namespace hidmar_sim
