// The scenario runner end to end: directives reach the models and a program started in the world,
// expectations move time, exit codes, and a transcript that is the same on every run.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>

#include "platform/ClientApi.h"
#include "platform/HidLink.h"
#include "sim/runner/Runner.h"

using namespace sim;

namespace {

constexpr std::uint32_t kWmCommand = 0x0111;

// A stand-in program: opens the handset and attaches to the client like the bridge does, answers
// an attach with "PROTOCOL 2", turns a command into "HOOK OFF" and a registry write, and takes
// one queued answer per command.
class ProbeHost final : public ProgramHost {
 public:
  explicit ProbeHost(World& world) : world_(world) {
    program_ = &world.Desktop().AddProgram("bridge", "Teliox.exe");
    window_ = world.Desktop().NewWindow(program_, "Probe", "ProbeClass",
                                        [this](std::uint32_t msg, std::uintptr_t w, std::intptr_t) {
                                          return Handle(msg, w);
                                        });
    thread_ = world.Clock().Spawn([this] {
      program_->BindUiThread();
      auto& handset = world_.Handset();
      if (handset.FindDevice(platform::kHandsetVendorId, platform::kHandsetProductA) &&
          handset.OpenDevice(window_)) {
        handset.SetNotifyMessage(platform::kHandsetReportMessage);
      }
      world_.Client().Initialize(window_);
      world_.Client().Connect2Tarvo();
      SimMessage message;
      while (program_->NextMessage(message)) program_->Dispatch(message);
      world_.Log().Add("exit", "bridge " + std::to_string(program_->QuitCode()));
      ended_ = true;
    });
  }
  ~ProbeHost() override { Shutdown(); }

  Result Perform(const Directive& directive) override {
    if (const auto* command = std::get_if<scenario::Command>(&directive.args)) {
      world_.Desktop().PostTo(window_, kWmCommand, command->id, 0);
      return Result::Ok();
    }
    if (std::holds_alternative<scenario::Answer>(directive.args)) return Result::Ok();
    return Result::Failed("the probe does not take " + directive.verb);
  }
  bool Ended() const override { return ended_; }
  void Shutdown() override {
    if (!thread_.joinable()) return;
    if (!ended_) program_->PostQuit(0);
    world_.Settle();
    thread_.join();
  }

 private:
  std::intptr_t Handle(std::uint32_t msg, std::uintptr_t wParam) {
    if (msg == platform::kClientAttached) world_.Client().SendStringCommand("PROTOCOL 2");
    if (msg == kWmCommand) {
      world_.Client().SendStringCommand("HOOK OFF");
      platform::RegKey key = 0;
      auto& registry = world_.Registry();
      if (registry.CreateKey(platform::kHkeyCurrentUser, "SOFTWARE\\Probe", platform::RegAccess::All, &key) == 0) {
        const std::uint32_t value = static_cast<std::uint32_t>(wParam);
        registry.SetValue(key, "LAST", platform::kRegDword, reinterpret_cast<const std::uint8_t*>(&value), 4);
        registry.CloseKey(key);
      }
      if (const auto answer = world_.TakeAnswer()) {
        world_.Log().Add("box", std::string("bridge \"Probe\" -> ") +
                                    (answer->kind == scenario::ActionKind::kYes ? "yes" : "other"));
      }
    }
    return 0;
  }

  World& world_;
  SimProgram* program_ = nullptr;
  WindowHandle window_ = 0;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

class ProbeFactory final : public ProgramFactory {
 public:
  bool Builds(Program program) const override { return program == Program::kBridge; }
  std::unique_ptr<ProgramHost> Start(World& world, Program) override { return std::make_unique<ProbeHost>(world); }
};

struct Run {
  int code = -1;
  std::string out, err;
};

Run Play(const std::string& text, ProgramFactory* factory = nullptr) {
  std::ostringstream out, err;
  Run run;
  run.code = RunScenario(text, {}, factory, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

constexpr char kIncomingCall[] = R"(
registry set HKCU\SOFTWARE\Probe LAST dword 1     # the world's own writes print nothing
handset plug 0x1402
client start
start
expect "^hidlib open ok"
expect "^cmd PROTOCOL 2$"
client call 12 RINGING
handset key 0x20
expect-next hid< "^hid< 00 20 .. 42 00 00 00$"
answer yes
command 7
expect "^cmd HOOK OFF$"
expect "^reg set HKCU\\\\SOFTWARE\\\\Probe LAST dword 7$"
expect "^box bridge \"Probe\" -> yes$"
wait 2s
)";

TEST(Runner, PlaysAScenarioWithAProgramTheSameWayEveryTime) {
  ProbeFactory factory;
  const auto first = Play(kIncomingCall, &factory);
  ASSERT_EQ(kScenarioHeld, first.code) << first.err << first.out;
  EXPECT_EQ("", first.err);
  EXPECT_NE(std::string::npos, first.out.find("       0 hidlib find 11F1 1402 found\n")) << first.out;
  EXPECT_NE(std::string::npos, first.out.find(" cmd HOOK OFF\n"));
  // The client answers the hook: the ringing call is taken.
  EXPECT_NE(std::string::npos, first.out.find(" cmd HOOK OFF\n"));
  // The program is ended at the end of the scenario, after the last wait.
  EXPECT_NE(std::string::npos, first.out.find("    2000 exit bridge 0\n")) << first.out;
  EXPECT_EQ(std::string::npos, first.out.find("reg set HKCU\\SOFTWARE\\Probe LAST dword 1"));

  for (int i = 0; i < 3; ++i) {
    const auto again = Play(kIncomingCall, &factory);
    EXPECT_EQ(first.out, again.out) << "run " << i;
  }
}

TEST(Runner, AFailedExpectationNamesItsLineAndShowsTheTranscriptSoFar) {
  ProbeFactory factory;
  const auto run = Play("handset plug 0x1402\nstart\nexpect \"^cmd NEVER\" within 50ms\ncommand 1\n", &factory);
  EXPECT_EQ(kScenarioFailed, run.code);
  EXPECT_EQ(0u, run.err.find("line 3: expect \"^cmd NEVER\" within 50ms")) << run.err;
  EXPECT_NE(std::string::npos, run.out.find("hidlib open ok"));
  EXPECT_EQ(std::string::npos, run.out.find("HOOK OFF")) << "nothing after the failing line runs";
}

TEST(Runner, RefusesWhatItCannotRunWithExitTwo) {
  ProbeFactory factory;
  // Malformed lines, unknown directives and broken regexes: nothing runs.
  for (const char* text : {"wait 1s\nhandset key 0xZZ\n", "wait 1s\nfrobnicate 3\n", "expect \"([\"\n"}) {
    const auto run = Play(text, &factory);
    EXPECT_EQ(kScenarioMalformed, run.code) << text;
    EXPECT_EQ(0u, run.err.find("line ")) << run.err;
    EXPECT_EQ("", run.out);
  }
  EXPECT_EQ(0u, Play("wait 1s\nhandset key 0xZZ\n").err.find("line 2: "));
  // A program this build does not have.
  const auto manager = Play("wait 1s\nstart manager\n", &factory);
  EXPECT_EQ(kScenarioMalformed, manager.code);
  EXPECT_NE(std::string::npos, manager.err.find("line 2: start manager: the manager is not built yet")) << manager.err;
  EXPECT_EQ(kScenarioMalformed, Play("start\n").code);
  EXPECT_EQ(kScenarioMalformed, Play("command 5\n").code);
  // A program that could run but was not started is the scenario's mistake.
  const auto early = Play("command 5\n", &factory);
  EXPECT_EQ(kScenarioFailed, early.code);
  EXPECT_NE(std::string::npos, early.err.find("never started"));
}

TEST(Runner, WorldDirectivesSetUpTheModels) {
  World world;
  const auto perform = [&](const char* line) {
    const auto parsed = ParseScenario(line);
    ASSERT_TRUE(parsed.Ok()) << line;
    const auto result = world.Perform(parsed.directives.at(0));
    EXPECT_TRUE(result.ok) << line << ": " << result.message;
  };
  perform("client start");
  EXPECT_TRUE(world.Client().Running());
  auto& desktop = world.Desktop();
  const auto window = desktop.FindTopWindow(World::kClientWindowClass, nullptr);
  ASSERT_NE(0u, window) << "a running client has its main window";
  perform("client window absent");
  EXPECT_EQ(0u, desktop.FindTopWindow(World::kClientWindowClass, nullptr));
  perform("client window foreground");
  EXPECT_NE(0u, desktop.FindTopWindow(World::kClientWindowClass, nullptr));
  perform("client stop");
  EXPECT_FALSE(world.Client().Running());
  EXPECT_EQ(0u, desktop.FindTopWindow(World::kClientWindowClass, nullptr));

  perform("handset plug 0x1405 firmware 2 1");
  EXPECT_TRUE(world.Handset().Plugged());
  perform("handset unplug");
  EXPECT_FALSE(world.Handset().Plugged());

  perform("registry set \"HKLM\\SOFTWARE\\With Space\" Name sz \"text\"");
  EXPECT_TRUE(world.Registry().Get("HKLM\\SOFTWARE\\With Space", "Name").has_value());
  perform("registry delete \"HKLM\\SOFTWARE\\With Space\"");
  EXPECT_FALSE(world.Registry().KeyExists("HKLM\\SOFTWARE\\With Space"));

  perform("system langid 0x0411");
  EXPECT_EQ(0x0411, desktop.LangId());
  perform("absent \"T40JPN_Qor.dll\"");
  EXPECT_FALSE(desktop.FilePresent("C:\\Program Files\\VL\\T40JPN_Qor.dll"));
  perform("process start \"Tarvo.exe\" id 4242");
  bool listed = false;
  for (const auto& entry : desktop.Processes()) listed |= entry.id == 4242 && entry.exeName == "Tarvo.exe";
  EXPECT_TRUE(listed);

  perform("audio handset \"USB Phone\"");
  perform("audio control \"USB Phone\" dst0 volume value 100");
  EXPECT_EQ(100u, world.Audio().ControlValue("USB Phone", {0, std::nullopt}, AudioWorld::ControlKind::Volume));
  const auto parsed = ParseScenario("audio control \"Nothing\" dst0 volume value 1");
  EXPECT_FALSE(world.Perform(parsed.directives.at(0)).ok) << "a control that does not exist is an error";
  // Nothing above was a program's doing: the transcript stays empty.
  EXPECT_EQ(0u, world.Log().Size());
}

}  // namespace
