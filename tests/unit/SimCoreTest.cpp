// The simulation kit's core: transcript lines, the scheduler, and the simulated desktop's
// message delivery between programs on the virtual clock, with the Win32 rules it models: the
// order GetMessage takes messages in, sends answered while the sender waits, the tray's callback
// messages by icon version, and the taskbar starting again.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "sim/ProgramClock.h"
#include "sim/Scheduler.h"
#include "sim/SimDesktop.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"

using namespace sim;

namespace {

TEST(Transcript, FormatsTimeChannelAndPayload) {
  VirtualClock clock;
  Transcript transcript(clock);
  clock.AdvanceTo(1234);
  transcript.Add("hid>", "C0 00 9A 42 00 00 00");
  const auto line = transcript.At(0);
  EXPECT_EQ("    1234 hid> C0 00 9A 42 00 00 00", Transcript::Format(line));
  EXPECT_EQ("hid> C0 00 9A 42 00 00 00", Transcript::Body(line));
  const std::uint8_t bytes[] = {0xC0, 0x0A, 0xFF};
  EXPECT_EQ("C0 0A FF", HexBytes(bytes, 3));
  EXPECT_EQ("\"a\\\"b\\c\\nd\"", Quote("a\"b\\c\nd"));
}

TEST(Transcript, ASimulatorThatKeepsNoLinesStillHandsEveryLineOn) {
  VirtualClock clock(VirtualClock::Options{false, 0});
  Transcript transcript(clock);
  transcript.Add("hid>", "kept");
  std::vector<std::string> heard;
  transcript.SetListener([&](const TranscriptLine& line) { heard.push_back(line.payload); });
  transcript.KeepNoLines();
  EXPECT_EQ(0u, transcript.Size()) << "what was kept goes too";
  for (int i = 0; i < 1000; ++i) transcript.Add("hid>", "line");
  EXPECT_EQ(0u, transcript.Size());
  EXPECT_EQ(1000u, heard.size());
}

TEST(Scheduler, RunsCallbacksAtTheirTimesInOrder) {
  // Manual time: this thread is no participant, so an auto-advancing clock could jump to the
  // first entry before the earlier ones are queued.
  VirtualClock clock({.autoAdvance = false});
  std::vector<std::pair<std::uint64_t, int>> log;
  {
    Scheduler scheduler(clock);
    scheduler.At(30, [&] { log.emplace_back(clock.Now(), 3); });
    scheduler.At(10, [&] { log.emplace_back(clock.Now(), 1); });
    scheduler.At(10, [&] {
      log.emplace_back(clock.Now(), 2);
      scheduler.After(5, [&] { log.emplace_back(clock.Now(), 4); });  // scheduled from a callback
    });
    const auto cancelled = scheduler.At(20, [&] { log.emplace_back(clock.Now(), 99); });
    scheduler.Cancel(cancelled);
    clock.AdvanceTo(100);
  }
  const std::vector<std::pair<std::uint64_t, int>> expected = {{10, 1}, {10, 2}, {15, 4}, {30, 3}};
  EXPECT_EQ(expected, log);
}

// A world with two programs, each with a user-interface thread running its message loop.
class DesktopTest : public ::testing::Test {
 protected:
  struct Loop {
    SimProgram* program = nullptr;
    WindowHandle window = 0;
    std::vector<std::string> seen;
    std::thread thread;
  };

  void Start(Loop& loop, const std::string& name, const std::string& title,
             std::function<std::intptr_t(Loop&, std::uint32_t, std::uintptr_t, std::intptr_t)> handler = nullptr) {
    loop.program = &desktop_.AddProgram(name, name + ".exe");
    loop.window = desktop_.NewWindow(
        loop.program, title, name + "Class",
        [this, &loop, handler](std::uint32_t msg, std::uintptr_t w, std::intptr_t l) {
          loop.seen.push_back(std::to_string(clock_.Now()) + ":" + std::to_string(msg) + ":" + std::to_string(w));
          return handler ? handler(loop, msg, w, l) : std::intptr_t{0};
        });
    loop.thread = clock_.Spawn([&loop] {
      loop.program->BindUiThread();
      try {
        SimMessage message;
        while (loop.program->NextMessage(message)) loop.program->Dispatch(message);
      } catch (const ProcessEnded&) {
      }
    });
  }
  void Stop(Loop& loop) {
    loop.program->PostQuit(0);
    clock_.RunUntilIdle();
    loop.thread.join();
  }

  VirtualClock clock_{VirtualClock::Options{false, 0}};
  Scheduler scheduler_{clock_};
  Transcript transcript_{clock_};
  SimDesktop desktop_{clock_, scheduler_, transcript_};
};

TEST_F(DesktopTest, PostedMessagesArriveInOrderAndKeepTheirPayloadAliveUntilHandled) {
  Loop bridge;
  std::string payloadSeen;
  Start(bridge, "bridge", "Teliox", [&](Loop&, std::uint32_t msg, std::uintptr_t w, std::intptr_t) {
    if (msg == 0x47D) payloadSeen = reinterpret_cast<const char*>(w);
    return std::intptr_t{0};
  });
  auto text = std::make_shared<std::string>("MUTE ON");
  const auto pointer = reinterpret_cast<std::uintptr_t>(text->c_str());
  EXPECT_TRUE(desktop_.PostTo(bridge.window, 0x47D, pointer, 0, text));
  text.reset();  // the queue owns it now
  EXPECT_TRUE(desktop_.PostTo(bridge.window, 0x464, 7, 0));
  clock_.RunUntilIdle();
  EXPECT_EQ("MUTE ON", payloadSeen);
  EXPECT_EQ((std::vector<std::string>{"0:1149:" + std::to_string(pointer), "0:1124:7"}), bridge.seen);
  EXPECT_FALSE(desktop_.PostTo(0xDEAD, 1, 0, 0));
  Stop(bridge);
}

TEST_F(DesktopTest, SendBlocksTheSenderUntilTheReceiverHandledItEvenInsideAModalLoop) {
  Loop manager;
  // The manager opens a "modal dialog" on message 1: a nested loop that runs for 500 ms.
  Start(manager, "manager", "SNDWD", [&](Loop& self, std::uint32_t msg, std::uintptr_t, std::intptr_t) {
    if (msg == 1) {
      desktop_.SetTimer(self.window, 7, 500);
      SimMessage nested;
      while (self.program->NextMessage(nested)) {
        if (nested.msg == platform::kWmTimer) break;
        self.program->Dispatch(nested);
      }
      desktop_.KillTimer(self.window, 7);
    }
    return static_cast<std::intptr_t>(msg * 10);
  });
  auto& bridge = desktop_.AddProgram("bridge", "Teliox.exe");
  std::intptr_t answer = -1;
  std::uint64_t answeredAt = 0;
  desktop_.PostTo(manager.window, 1, 0, 0);
  auto sender = clock_.Spawn([&] {
    clock_.Sleep(100);
    auto desktop = desktop_.DesktopFor(bridge);
    const auto target = desktop->FindTopWindow(nullptr, "SNDWD");
    answer = desktop->Send(target, 0x83EB, 4, 0);
    answeredAt = clock_.Now();
  });
  clock_.AdvanceTo(1000);
  sender.join();
  EXPECT_EQ(0x83EB * 10, answer);
  EXPECT_EQ(100u, answeredAt);  // handled inside the modal loop at once
  ASSERT_GE(transcript_.Size(), 1u);
  EXPECT_EQ("msg SNDWD 0x83EB 4 0", Transcript::Body(transcript_.At(0)));
  Stop(manager);
}

TEST_F(DesktopTest, TimersRepeatNeverQueueTwiceAndStopWhenKilled) {
  Loop bridge;
  Start(bridge, "bridge", "Teliox");
  desktop_.SetTimer(bridge.window, 10223, 10);
  desktop_.SetTimer(bridge.window, 10224, 1000);
  clock_.AdvanceTo(35);
  desktop_.KillTimer(bridge.window, 10223);
  clock_.AdvanceTo(2500);
  const std::vector<std::string> expected = {"10:275:10223", "20:275:10223", "30:275:10223", "1000:275:10224",
                                             "2000:275:10224"};
  EXPECT_EQ(expected, bridge.seen);
  Stop(bridge);
}

TEST_F(DesktopTest, WindowsRegisteredMessagesProcessesAndTray) {
  auto& bridge = desktop_.AddProgram("bridge", "Teliox.exe", 4242);
  auto& manager = desktop_.AddProgram("manager", "SNDWD.exe");
  const auto mainWindow = desktop_.NewWindow(&bridge, "Teliox", "#32770", nullptr);
  desktop_.NewWindow(nullptr, "Tarvo", "tTvMainForm.UnicodeClass", nullptr);
  auto bridgeDesktop = desktop_.DesktopFor(bridge);
  auto managerDesktop = desktop_.DesktopFor(manager);

  EXPECT_NE(0u, bridgeDesktop->FindTopWindow("ttvmainform.unicodeclass", nullptr));
  EXPECT_EQ(0u, bridgeDesktop->FindTopWindow(nullptr, "tarvo"));  // titles compare exactly
  EXPECT_EQ(bridgeDesktop->RegisterMessage("PX_CloseApplication"),
            managerDesktop->RegisterMessage("PX_CloseApplication"));
  EXPECT_GE(bridgeDesktop->RegisterMessage("PX_CloseApplication"), 0xC000u);
  EXPECT_EQ(4242u, bridgeDesktop->CurrentProcessId());

  // Starting files: a launcher, a plain program, an absent file.
  bool launched = false;
  desktop_.SetLauncher("SNDWD.exe", [&] { return launched = true; });
  desktop_.SetFilePresent("T40FRA_Bex.dll", false);
  EXPECT_TRUE(bridgeDesktop->StartProcess("C:\\Program Files\\Common Files\\VL\\SNDWD.exe", 0x80));
  EXPECT_TRUE(launched);
  EXPECT_TRUE(bridgeDesktop->StartProcess("C:\\other\\Tool.exe", 0));
  EXPECT_FALSE(bridgeDesktop->StartProcess("t40fra_bex.dll", 0));
  int tools = 0;
  for (const auto& p : bridgeDesktop->Processes()) tools += p.exeName == "Tool.exe";
  EXPECT_EQ(1, tools);

  platform::TrayIcon icon{mainWindow, 1, 0x8001, 148, "Teliox: 離線\nTarvo: 離線"};
  EXPECT_TRUE(bridgeDesktop->NotifyIcon(platform::TrayAction::Add, icon));
  EXPECT_FALSE(bridgeDesktop->NotifyIcon(platform::TrayAction::Add, icon));
  ASSERT_TRUE(desktop_.TrayIconOf("bridge"));
  EXPECT_EQ(148, desktop_.TrayIconOf("bridge")->icon.iconResource);
  EXPECT_TRUE(bridgeDesktop->NotifyIcon(platform::TrayAction::Delete, icon));
  EXPECT_FALSE(desktop_.TrayIconOf("bridge"));

  std::vector<std::string> bodies;
  for (const auto& line : transcript_.Lines()) bodies.push_back(Transcript::Body(line));
  const std::vector<std::string> expected = {"proc start \"C:\\Program Files\\Common Files\\VL\\SNDWD.exe\"",
                                             "proc start \"C:\\other\\Tool.exe\"",
                                             "proc start \"t40fra_bex.dll\"",
                                             "tray add icon=148 tip=\"Teliox: 離線\\nTarvo: 離線\"",
                                             "tray add icon=148 tip=\"Teliox: 離線\\nTarvo: 離線\" failed",
                                             "tray delete icon=148 tip=\"Teliox: 離線\\nTarvo: 離線\""};
  EXPECT_EQ(expected, bodies);
}

TEST_F(DesktopTest, CopyDataReachesTheReceiverAsACopyAndIsLoggedAsText) {
  Loop manager;
  std::string received;
  Start(manager, "manager", "SNDWD", [&](Loop&, std::uint32_t msg, std::uintptr_t, std::intptr_t l) {
    if (msg == platform::kWmCopyData) {
      const auto* record = reinterpret_cast<const platform::CopyData*>(l);
      received.assign(static_cast<const char*>(record->data), record->size);
    }
    return std::intptr_t{1};
  });
  auto& bridge = desktop_.AddProgram("bridge", "Teliox.exe");
  std::intptr_t result = 0;
  auto sender = clock_.Spawn([&] {
    auto desktop = desktop_.DesktopFor(bridge);
    const char text[] = "Unknown";
    result = desktop->SendCopyData(desktop->FindTopWindow(nullptr, "SNDWD"), 0, 1, 0, text, sizeof text);
  });
  clock_.RunUntilIdle();
  sender.join();
  EXPECT_EQ(1, result);
  EXPECT_EQ(std::string("Unknown\0", 8), received);
  EXPECT_EQ("msg SNDWD 0x004A 1 \"Unknown\"", Transcript::Body(transcript_.At(0)));
  Stop(manager);
}

TEST_F(DesktopTest, TimersComeOnlyWhenNoPostedMessageOrQuitWaits) {
  Loop bridge;
  Start(bridge, "bridge", "Teliox", [&](Loop& self, std::uint32_t msg, std::uintptr_t, std::intptr_t) {
    if (msg == platform::kWmApp) clock_.Sleep(55);  // busy while the timer comes due, and posts arrive
    if (msg == platform::kWmApp + 3) desktop_.KillTimer(self.window, 8);
    return std::intptr_t{0};
  });
  desktop_.SetTimer(bridge.window, 7, 10);
  desktop_.PostTo(bridge.window, platform::kWmApp, 0, 0);
  scheduler_.At(20, [&] { desktop_.PostTo(bridge.window, platform::kWmApp + 1, 0, 0); });
  scheduler_.At(30, [&] { desktop_.PostTo(bridge.window, platform::kWmApp + 2, 0, 0); });
  clock_.AdvanceTo(65);
  desktop_.KillTimer(bridge.window, 7);
  // Killing a timer takes its due WM_TIMER along.
  desktop_.SetTimer(bridge.window, 8, 10);
  desktop_.PostTo(bridge.window, platform::kWmApp, 0, 0);
  scheduler_.At(70, [&] { desktop_.PostTo(bridge.window, platform::kWmApp + 3, 0, 0); });
  clock_.AdvanceTo(200);
  const std::vector<std::string> expected = {"0:32768:0", "55:32769:0", "55:32770:0", "55:275:7",
                                             "60:275:7",  "65:32768:0", "120:32771:0"};
  EXPECT_EQ(expected, bridge.seen);

  // WM_QUIT comes before a due timer.
  desktop_.SetTimer(bridge.window, 9, 10);
  desktop_.PostTo(bridge.window, platform::kWmApp, 0, 0);
  scheduler_.At(230, [&] { bridge.program->PostQuit(0); });
  clock_.AdvanceTo(300);
  EXPECT_EQ("200:32768:0", bridge.seen.back());
  bridge.thread.join();
}

TEST_F(DesktopTest, ProgramsSendingToEachOtherAtOnceAnswerWhileTheyWait) {
  Loop bridge, manager;
  std::intptr_t bridgeGot = 0, managerGot = 0;
  Start(bridge, "bridge", "Teliox", [&](Loop& self, std::uint32_t msg, std::uintptr_t, std::intptr_t) {
    if (msg == platform::kWmApp) {
      clock_.Sleep(10);  // busy until both send
      bridgeGot = desktop_.SendFrom(self.program, manager.window, platform::kWmApp + 1, 0, 0);
    }
    return std::intptr_t{msg == platform::kWmApp + 1 ? 11 : 0};
  });
  Start(manager, "manager", "SNDWD", [&](Loop& self, std::uint32_t msg, std::uintptr_t, std::intptr_t) {
    if (msg == platform::kWmApp) {
      clock_.Sleep(10);
      managerGot = desktop_.SendFrom(self.program, bridge.window, platform::kWmApp + 1, 0, 0);
    }
    return std::intptr_t{msg == platform::kWmApp + 1 ? 22 : 0};
  });
  // Both user-interface threads send at the same instant, each to the other.
  desktop_.PostTo(bridge.window, platform::kWmApp, 0, 0);
  desktop_.PostTo(manager.window, platform::kWmApp, 0, 0);
  clock_.AdvanceTo(100);
  EXPECT_EQ(22, bridgeGot);
  EXPECT_EQ(11, managerGot);
  if (bridgeGot == 0 || managerGot == 0) {  // deadlocked: end both, as their processes would end
    bridge.program->Kill();
    manager.program->Kill();
    clock_.RunUntilIdle();
    bridge.thread.join();
    manager.thread.join();
    return;
  }
  Stop(bridge);
  Stop(manager);
}

TEST_F(DesktopTest, TheTrayPostsWhatTheIconsVersionAsksForAndComesBackEmpty) {
  Loop bridge, manager;
  std::vector<std::intptr_t> mouse;
  Start(bridge, "bridge", "Teliox", [&](Loop&, std::uint32_t msg, std::uintptr_t w, std::intptr_t l) {
    if (msg == 0x8001) mouse.push_back(w == 1 ? l : -1);
    return std::intptr_t{0};
  });
  Start(manager, "manager", "SNDWD");
  auto tray = desktop_.DesktopFor(*bridge.program);
  const platform::TrayIcon icon{bridge.window, 1, 0x8001, 148, "Teliox"};
  ASSERT_TRUE(tray->NotifyIcon(platform::TrayAction::Add, icon));
  const auto clicks = [&](SimDesktop::TrayInput input) {
    mouse.clear();
    EXPECT_TRUE(desktop_.TrayIconInput("bridge", input));
    clock_.RunUntilIdle();
    return mouse;
  };
  using Input = SimDesktop::TrayInput;
  using Mouse = std::vector<std::intptr_t>;
  constexpr std::intptr_t kDown = 0x204, kUp = 0x205, kContext = 0x7B;
  // The default version never hears WM_CONTEXTMENU, not even for the keyboard's menu key.
  EXPECT_EQ((Mouse{0x201, 0x202}), clicks(Input::LeftClick));
  EXPECT_EQ((Mouse{kDown, kUp}), clicks(Input::RightClick));
  EXPECT_EQ((Mouse{kDown, kUp}), clicks(Input::ContextKey));
  EXPECT_TRUE(desktop_.SetTrayIconVersion(bridge.window, 1, 3));
  EXPECT_EQ((Mouse{kDown, kUp, kContext}), clicks(Input::RightClick));
  EXPECT_EQ((Mouse{kContext}), clicks(Input::ContextKey));
  EXPECT_FALSE(desktop_.SetTrayIconVersion(bridge.window, 2, 3));
  EXPECT_FALSE(desktop_.TrayIconInput("manager", Input::RightClick));

  // The taskbar starts again: no icons, and every top-level window of a program hears of it.
  std::vector<std::string> heard;
  const auto taskbarCreated = desktop_.RegisterMessage("TaskbarCreated");
  desktop_.RestartTaskbar();
  clock_.RunUntilIdle();
  for (const auto* loop : {&bridge, &manager}) {
    const std::string expected = "0:" + std::to_string(taskbarCreated) + ":0";
    EXPECT_EQ(expected, loop->seen.back()) << loop->program->Name();
  }
  EXPECT_FALSE(desktop_.TrayIconOf("bridge"));
  EXPECT_TRUE(tray->NotifyIcon(platform::TrayAction::Add, icon));
  EXPECT_EQ(0u, desktop_.TrayIconOf("bridge")->version);  // asked for again after every add

  // A tray that refuses adds: the next ones fail, then it takes them again.
  ASSERT_TRUE(tray->NotifyIcon(platform::TrayAction::Delete, icon));
  desktop_.RefuseTrayAdds(2);
  EXPECT_FALSE(tray->NotifyIcon(platform::TrayAction::Add, icon));
  EXPECT_FALSE(tray->NotifyIcon(platform::TrayAction::Add, icon));
  EXPECT_TRUE(tray->NotifyIcon(platform::TrayAction::Add, icon));
  std::vector<std::string> lines;
  for (const auto& line : transcript_.Lines()) lines.push_back(Transcript::Body(line));
  const std::vector<std::string> expected = {
      "tray add icon=148 tip=\"Teliox\"",        "tray restart",
      "tray add icon=148 tip=\"Teliox\"",        "tray delete icon=148 tip=\"Teliox\"",
      "tray add icon=148 tip=\"Teliox\" failed", "tray add icon=148 tip=\"Teliox\" failed",
      "tray add icon=148 tip=\"Teliox\""};
  EXPECT_EQ(expected, lines);
  Stop(bridge);
  Stop(manager);
}

}  // namespace
