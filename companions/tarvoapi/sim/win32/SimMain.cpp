// softphone-sim.exe: the client program, simulated. Without --control it shows the client's main
// window on the softphone model, driven in real time, and serves the control pipe; with
// --control it is a script that drives a running one (SimControl.h).
#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield
#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "companions/tarvoapi/sim/SimControl.h"
#include "companions/tarvoapi/sim/SoftphoneSim.h"
#include "companions/tarvoapi/sim/win32/ControlPipe.h"
#include "companions/tarvoapi/sim/win32/LibraryLink.h"
#include "companions/tarvoapi/sim/win32/SimWindow.h"
#include "sim/RealTimePacer.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"

namespace {

using namespace softphone_sim;

// A GUI program has standard handles only when it was started with them (redirected, or from a
// console it can attach to).
void Print(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if ((!out || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    out = GetStdHandle(STD_OUTPUT_HANDLE);
  }
  if (!out || out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  for (int i = 1; i < count; ++i) {
    const int length = WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide[i], -1, arg.data(), length, nullptr, nullptr);
    args.push_back(std::move(arg));
  }
  LocalFree(wide);
  return args;
}

int RunScript(const Script& script) {
  ControlClient client;
  const std::string pipe = PipeName(script.pipe);
  if (!client.Connect(pipe, script.connectTimeoutMs)) {
    Print("no simulator answers on " + pipe + "\n");
    return kExitNoSimulator;
  }
  for (const auto& step : script.steps) {
    switch (step.kind) {
      case ScriptStep::Kind::kDo: {
        const auto answer = client.Command(step.text, script.waitTimeoutMs);
        if (!answer) {
          Print("no answer to: " + step.text + "\n");
          return kExitTimedOut;
        }
        Print(*answer + "\n");
        if (!answer->starts_with("ok")) return kExitCommandFailed;
        break;
      }
      case ScriptStep::Kind::kWait: {
        const auto event = client.Wait(step.text, script.waitTimeoutMs);
        if (!event) {
          Print("timed out waiting for: " + step.text + "\n");
          return kExitTimedOut;
        }
        Print(*event + "\n");
        break;
      }
      case ScriptStep::Kind::kState: {
        const auto answer = client.Command("state", script.waitTimeoutMs);
        if (!answer) return kExitTimedOut;
        Print(*answer + "\n");
        const auto calls = client.Command("calls", script.waitTimeoutMs);
        if (!calls) return kExitTimedOut;
        Print(*calls + "\n");
        break;
      }
      case ScriptStep::Kind::kMonitor:
        for (const auto& line : client.Monitor(step.ms)) Print(line + "\n");
        break;
      case ScriptStep::Kind::kSleep:
        Sleep(step.ms);
        break;
    }
  }
  return kExitOk;
}

int RunSimulator(HINSTANCE instance, const SimOptions& options, int show) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&controls);

  // The model on a manual clock that follows the wall clock.
  sim::VirtualClock clock({.autoAdvance = false});
  sim::Scheduler scheduler(clock);
  sim::Transcript transcript(clock);
  // The simulator runs for hours and hands every line on as it comes: it keeps none.
  transcript.KeepNoLines();
  LibraryLink link;
  sim::SoftphoneModel::Options modelOptions;
  modelOptions.replyDelayMs = options.replyDelayMs;
  modelOptions.outgoingAnswerMs = options.answerMs;
  SoftphoneSim sim(clock, scheduler, transcript, link, modelOptions);
  SimWindow window(sim);
  PipeServer server;
  sim.SetEventListener([&](const std::string& line) {
    server.Broadcast(line);
    window.AddEvent(line);
  });
  sim.SetMainWindowListener([&](SoftphoneSim::Model::MainWindow state) { window.MainWindowMoved(state); });
  sim::RealTimePacer pacer(clock);
  sim.SetCatchUp([&pacer] { pacer.CatchUp(); });
  pacer.Start();

  if (!window.Create(instance, show)) return 1;
  link.Start(window.Handle(), sim);
  const std::string pipe = PipeName(options.pipe);
  const bool serving =
      server.Start(pipe, "hello softphone-sim " + std::to_string(kControlVersion), [&](const std::string& line) {
        const std::string answer = sim.Control(line);
        window.Changed();
        return answer;
      });
  if (!serving) window.AddEvent("the pipe " + pipe + " is served by another program: no scripts");
  for (const auto& command : options.commands) {
    const std::string answer = sim.Control(command);
    window.AddEvent(command + ": " + answer);
  }

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  // The client quits: an attached library hears it before the window goes.
  sim.Control("stop");
  Sleep(50);
  link.Drain(1000);
  pacer.Stop();
  return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  std::string error;
  const auto parsed = ParseArguments(CommandLineArguments(), &error);
  if (!parsed) {
    Print(error + "\n" + Usage() + SoftphoneSim::ControlHelp());
    ExitProcess(kExitUsage);
  }
  if (parsed->help) {
    Print(std::string(Usage()) + SoftphoneSim::ControlHelp());
    ExitProcess(kExitOk);
  }
  // Threads of the pipe and the sender run for the life of the process: end it here, with them.
  ExitProcess(
      static_cast<UINT>(parsed->control ? RunScript(parsed->script) : RunSimulator(instance, parsed->sim, show)));
}
