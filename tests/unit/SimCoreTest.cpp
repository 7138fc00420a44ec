// The simulation kit's core: transcript lines, the scheduler, and the simulated desktop's
// message delivery between programs on the virtual clock.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

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
    loop.window = desktop_.NewWindow(loop.program, title, name + "Class",
                                     [this, &loop, handler](std::uint32_t msg, std::uintptr_t w, std::intptr_t l) {
                                       loop.seen.push_back(std::to_string(clock_.Now()) + ":" + std::to_string(msg) +
                                                           ":" + std::to_string(w));
                                       return handler ? handler(loop, msg, w, l) : std::intptr_t{0};
                                     });
    loop.thread = clock_.Spawn([&loop] {
      loop.program->BindUiThread();
      SimMessage message;
      while (loop.program->NextMessage(message)) loop.program->Dispatch(message);
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
  const std::vector<std::string> expected = {
      "proc start \"C:\\Program Files\\Common Files\\VL\\SNDWD.exe\"",
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

}  // namespace
