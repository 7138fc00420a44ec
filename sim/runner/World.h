// The simulated world a scenario runs in: one virtual clock in manual mode, the transcript, the
// registry, the desktop, the handset, the softphone client and the audio devices, wired together,
// plus the programs started in it. The world carries out every directive that is not about time
// or expectations.
//
// Programs plug in through a ProgramFactory: the world asks it for a host when a scenario starts
// a program (or a program starts another one's executable), and hands every directive addressed
// to that program to the host. A program nobody can build answers "not built yet".
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/AudioWorld.h"
#include "sim/HandsetModel.h"
#include "sim/MemoryRegistry.h"
#include "sim/Scheduler.h"
#include "sim/SimDesktop.h"
#include "sim/SoftphoneModel.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/scenario/Expectations.h"
#include "sim/scenario/Scenario.h"

namespace sim {

class World;

// What a directive came to. `unsupported` marks a scenario this build cannot run (exit 2), as
// opposed to an expectation or action that failed (exit 1).
struct Result {
  bool ok = true;
  bool unsupported = false;
  std::string message;

  static Result Ok() { return {}; }
  static Result Failed(std::string message) { return {false, false, std::move(message)}; }
  static Result Unsupported(std::string message) { return {false, true, std::move(message)}; }
};

// "bridge" or "manager".
const char* ProgramName(Program program);

// A running program as the world drives it. Hosts are created and called only from the runner's
// thread while the world is idle, or from a program's thread that starts the other program's
// executable; they run their program's threads on the world's clock.
class ProgramHost {
 public:
  virtual ~ProgramHost() = default;
  // Carries out a directive addressed to this program: command, message, copydata, tray click,
  // act, deactivate, snapshot, and answers the world has queued.
  virtual Result Perform(const Directive& directive) = 0;
  // True once the program has ended (its exit line written).
  virtual bool Ended() const = 0;
  // Ends a program still running when the scenario is over, as its process would end, wherever
  // its threads stand (nothing more is written), and joins its threads.
  virtual void Shutdown() = 0;
  // What the program could not take since the last call (an answer its window refused ...).
  virtual std::vector<std::string> TakeFailures() { return {}; }
  // Runs `pong` on the program's user-interface thread when it next takes a message; false when
  // the host cannot (the program has ended).
  virtual bool Ping(std::function<void()> /*pong*/) { return false; }
};

// Builds the programs this build has.
class ProgramFactory {
 public:
  virtual ~ProgramFactory() = default;
  virtual bool Builds(Program program) const = 0;
  // Starts an instance of `program` in `world` (a second start is a second instance: the
  // program's own single-instance rule decides what it does).
  virtual std::unique_ptr<ProgramHost> Start(World& world, Program program) = 0;
};

class World {
 public:
  // The window class and title the client's main window has.
  static constexpr char kClientWindowClass[] = "tTvMainForm.UnicodeClass";
  static constexpr char kClientWindowTitle[] = "Tarvo";
  // The executables a program start may name.
  static constexpr char kBridgeExe[] = "Teliox.exe";
  static constexpr char kManagerExe[] = "SNDWD.exe";

  // `factory` may be null (no programs) and must outlive the world.
  explicit World(ProgramFactory* factory = nullptr);
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // Carries out one directive that Expectations does not take, then runs the world until idle.
  Result Perform(const Directive& directive);
  // Lets every instant's work finish (all participants blocked).
  void Settle();
  // Ends the programs still running.
  void Shutdown();
  // The first instance of `program` still running, else the last one started; null if none.
  ProgramHost* Host(Program program);

  // Failures the programs reported since the last call.
  std::vector<std::string> TakeFailures();

  // Answers queued by `answer`, taken by whichever program opens a modal window or menu.
  std::optional<scenario::Action> TakeAnswer();
  bool HasAnswer();

  VirtualClock& Clock() { return clock_; }
  Transcript& Log() { return transcript_; }
  Scheduler& Timers() { return scheduler_; }
  MemoryRegistry& Registry() { return registry_; }
  SimDesktop& Desktop() { return desktop_; }
  HandsetModel& Handset() { return handset_; }
  SoftphoneModel& Client() { return client_; }
  AudioWorld& Audio() { return audio_; }
  TimeDriver& Time() { return time_; }

 private:
  Result PerformWorld(const Directive& directive);
  Result PerformHandset(const Directive& directive);
  Result PerformClient(const Directive& directive);
  Result PerformAudio(const Directive& directive);
  Result StartProgram(Program program);
  void OnRegistryChange(const RegistryChange& change);
  void OnClientWindow(SoftphoneModel::MainWindow state);
  // Applies `clientHidden_` to the client's window, if it is there.
  void ShowClientWindow();

  // Declaration order is destruction order reversed: the models go before the desktop, the
  // desktop before the scheduler, the scheduler before the clock.
  VirtualClock clock_;
  Transcript transcript_;
  Scheduler scheduler_;
  MemoryRegistry registry_;
  SimDesktop desktop_;
  HandsetModel handset_;
  SoftphoneModel client_;
  AudioWorld audio_;
  ClockTimeDriver time_;

  ProgramFactory* factory_;
  std::mutex hostsMutex_;
  std::vector<std::pair<Program, std::unique_ptr<ProgramHost>>> hosts_;  // in start order
  std::mutex answersMutex_;
  std::deque<scenario::Action> answers_;
  std::mutex clientWindowMutex_;
  WindowHandle clientWindow_ = 0;
  bool clientHidden_ = false;  // `client window hidden`, until the client comes forward
};

}  // namespace sim
