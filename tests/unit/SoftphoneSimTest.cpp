// The softphone simulator's control commands and command line: what a person or a script can
// make the client do, the answers they get, and the script's matching of event lines.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "companions/tarvoapi/Protocol.h"
#include "companions/tarvoapi/sim/SimControl.h"
#include "companions/tarvoapi/sim/SoftphoneSim.h"
#include "platform/ClientApi.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"

using namespace softphone_sim;

namespace {

constexpr std::uintptr_t kLibrary = 0x4000;

// What the simulator sends, decoded.
class RecordingOutbox : public LibraryOutbox {
 public:
  void Send(std::uintptr_t library, std::uint32_t kind, std::vector<std::uint8_t> body) override {
    std::lock_guard lock(mutex_);
    EXPECT_EQ(library, kLibrary);
    const auto message = tarvoapi::DecodeClientMessage(kind, body);
    ASSERT_TRUE(message) << "the simulator sent what the library cannot read";
    messages_.push_back(*message);
  }
  std::vector<tarvoapi::ClientMessage> Take() {
    std::lock_guard lock(mutex_);
    std::vector<tarvoapi::ClientMessage> taken;
    taken.swap(messages_);
    return taken;
  }

 private:
  std::mutex mutex_;
  std::vector<tarvoapi::ClientMessage> messages_;
};

class SoftphoneSimTest : public ::testing::Test {
 protected:
  void AttachLibrary() {
    const tarvoapi::LibraryMessage attach{tarvoapi::kAttach, tarvoapi::kProtocolVersion, 5, {}};
    ASSERT_EQ(sim_.FromLibrary(kLibrary, tarvoapi::kAttach, tarvoapi::Encode(attach)), 1);
    clock_.RunUntilIdle();
    const auto sent = outbox_.Take();
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_EQ(sent[0].message, platform::kClientAttached);
  }

  std::string Status(int id) {
    for (const auto& call : sim_.Snapshot().calls) {
      if (call.id == id) return call.status;
    }
    return "gone";
  }

  sim::VirtualClock clock_{{.autoAdvance = false}};
  sim::Scheduler scheduler_{clock_};
  sim::Transcript transcript_{clock_};
  RecordingOutbox outbox_;
  SoftphoneSim sim_{clock_, scheduler_, transcript_, outbox_};
};

TEST_F(SoftphoneSimTest, TheUsersCallButtonsFollowTheClientsRules) {
  EXPECT_EQ(sim_.Control("incoming alice smith"), "ok 1");
  EXPECT_EQ(sim_.Control("incoming bob"), "ok 2");
  EXPECT_EQ(sim_.Snapshot().calls[0].partner, "alice smith");
  EXPECT_EQ(sim_.Snapshot().recentHandle, "bob");
  EXPECT_EQ(sim_.Control("answer 1"), "ok");
  EXPECT_EQ(sim_.Control("answer 2"), "ok");  // one conversation at a time
  EXPECT_EQ(Status(1), "ONHOLD");
  EXPECT_EQ(Status(2), "INPROGRESS");
  EXPECT_EQ(sim_.Control("conference 1 4"), "ok");
  EXPECT_EQ(sim_.Control("conference 2 4"), "ok");
  EXPECT_EQ(sim_.Control("answer 1"), "ok");  // the same conference stays in progress
  EXPECT_EQ(Status(2), "INPROGRESS");

  // Hanging up refuses a ringing call, cancels one being placed, finishes a conversation.
  EXPECT_EQ(sim_.Control("incoming carol"), "ok 3");
  EXPECT_EQ(sim_.Control("status 9 ROUTING"), "ok");
  EXPECT_EQ(sim_.Control("hangup 3"), "ok");
  EXPECT_EQ(sim_.Control("hangup 9"), "ok");
  EXPECT_EQ(sim_.Control("hangup 1"), "ok");
  EXPECT_EQ(Status(3), "gone");
  EXPECT_EQ(Status(9), "gone");
  EXPECT_EQ(Status(1), "gone");
  EXPECT_EQ(sim_.Control("incoming dave"), "ok 10");  // ids are never reused

  EXPECT_EQ(sim_.Control("answer 77"), "error no call 77");
  EXPECT_EQ(sim_.Control("hold x"), "error expected a call id");
  EXPECT_EQ(sim_.Control("incoming"), "error incoming needs a partner");
  EXPECT_EQ(sim_.Control("status 1 ONHOLD many"), "error bad conference number");
}

TEST_F(SoftphoneSimTest, NotificationsGoOnlyToTheAttachedLibraryWithTheCallsDirection) {
  EXPECT_EQ(sim_.Control("incoming alice"), "ok 1");
  clock_.RunUntilIdle();
  EXPECT_TRUE(outbox_.Take().empty());  // no library yet

  AttachLibrary();
  const tarvoapi::LibraryMessage call{tarvoapi::kCommand, 0, 0, "CALL bob"};
  EXPECT_EQ(sim_.FromLibrary(kLibrary, tarvoapi::kCommand, tarvoapi::Encode(call)), 1);
  EXPECT_EQ(sim_.Control("presence dnd"), "ok");
  clock_.RunUntilIdle();
  const auto sent = outbox_.Take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].calls.at(0), (tarvoapi::CallInfo{2, "ROUTING", 0, "bob", false}));
  EXPECT_EQ(sent[1].text, "USERSTATUS DND");

  // A library that is not the attached one is not served.
  EXPECT_EQ(sim_.FromLibrary(0x5000, tarvoapi::kCommand, tarvoapi::Encode(call)), 0);
  EXPECT_EQ(sim_.FromLibrary(kLibrary, tarvoapi::kCommand, std::vector<std::uint8_t>{9, 9}), 0);
  EXPECT_EQ(sim_.FromLibrary(0, tarvoapi::kAttach, {}), 0);

  EXPECT_EQ(sim_.Control("recent carol"), "ok");
  const auto state = outbox_.Take();
  ASSERT_EQ(state.size(), 1u);
  EXPECT_EQ(state[0].kind, tarvoapi::kClientState);
  EXPECT_EQ(state[0].recentHandle, "carol");
  EXPECT_EQ(state[0].calls.size(), 2u);

  sim_.LibraryGone(kLibrary);
  EXPECT_EQ(sim_.Control("mute on"), "ok");
  clock_.RunUntilIdle();
  for (const auto& message : outbox_.Take()) EXPECT_NE(message.message, platform::kClientStatusText);
  EXPECT_TRUE(sim_.Control("state").find("attached=0 library=00000000") != std::string::npos);
}

TEST_F(SoftphoneSimTest, AttachRequestsAreAnsweredAsTheUserChose) {
  EXPECT_EQ(sim_.Control("attach-answer pending"), "ok");
  const tarvoapi::LibraryMessage attach{tarvoapi::kAttach, tarvoapi::kProtocolVersion, 5, {}};
  sim_.FromLibrary(kLibrary, tarvoapi::kAttach, tarvoapi::Encode(attach));
  clock_.RunUntilIdle();
  EXPECT_EQ(outbox_.Take().at(0).message, platform::kClientAttachPending);
  EXPECT_EQ(sim_.Control("allow"), "ok");
  clock_.RunUntilIdle();
  EXPECT_EQ(outbox_.Take().at(0).message, platform::kClientAttached);
  // The choice stays for the next request.
  EXPECT_TRUE(sim_.Control("state").find("answer=pending") != std::string::npos);
  EXPECT_EQ(sim_.Control("attach-answer maybe"), "error expected: attach-answer accept|pending|refuse");
  EXPECT_EQ(sim_.Control("detach"), "ok");
  EXPECT_EQ(sim_.Control("detach"), "error no library attached");
}

TEST_F(SoftphoneSimTest, MalformedCommandsAreRefusedWithAReason) {
  for (const char* command :
       {"", "   ", "dance", "mute maybe", "voicemail 1 2", "voicemail x 1 5 a", "voicemail-count many",
        "reply-delay soon", "window sideways", "text", "message-window ajar", "stop now"}) {
    const std::string answer = sim_.Control(command);
    EXPECT_TRUE(answer.starts_with("error ")) << command << " -> " << answer;
  }
  EXPECT_EQ(sim_.Control("voicemail 3 1700000000 5 erin"), "ok");
  EXPECT_EQ(sim_.Control("VOICEMAIL 3 1700000000 6 erin"), "ok");  // replaces, words without case
  EXPECT_EQ(sim_.Snapshot().voicemails, 1u);
}

// --- command line and script matching ---------------------------------------------------------

TEST(SoftphoneSimArguments, WindowAndScriptModesTakeTheirOwnOptions) {
  std::string error;
  auto window = ParseArguments({"--pipe", "\\\\.\\pipe\\x", "--answer-ms", "250", "--do", "presence DND"}, &error);
  ASSERT_TRUE(window) << error;
  EXPECT_FALSE(window->control);
  EXPECT_EQ(window->sim.pipe, "\\\\.\\pipe\\x");
  EXPECT_EQ(window->sim.answerMs, 250u);
  EXPECT_EQ(window->sim.commands, std::vector<std::string>{"presence DND"});

  // --control anywhere turns every --do into a step.
  auto script = ParseArguments(
      {"--do", "incoming bob", "--wait", "note 047F", "--control", "--state", "--monitor", "200", "--timeout", "900"},
      &error);
  ASSERT_TRUE(script) << error;
  EXPECT_TRUE(script->control);
  ASSERT_EQ(script->script.steps.size(), 4u);
  EXPECT_EQ(script->script.steps[0].kind, ScriptStep::Kind::kDo);
  EXPECT_EQ(script->script.steps[1].text, "note 047F");
  EXPECT_EQ(script->script.steps[3].ms, 200u);
  EXPECT_EQ(script->script.waitTimeoutMs, 900u);

  EXPECT_FALSE(ParseArguments({"--control"}, &error));
  EXPECT_FALSE(ParseArguments({"--wait", "x"}, &error));  // a script step without --control
  EXPECT_FALSE(ParseArguments({"--answer-ms", "soon"}, &error));
  EXPECT_FALSE(ParseArguments({"--pipe"}, &error));
  EXPECT_EQ(error, "--pipe needs a name");
  EXPECT_TRUE(ParseArguments({"--help"}, &error)->help);
}

TEST(SoftphoneSimArguments, WaitsMatchEventsWithoutTheirTime) {
  EXPECT_EQ(WithoutTime("note 1200 047F id=1 status=RINGING"), "note 047F id=1 status=RINGING");
  EXPECT_EQ(WithoutTime("cmd! 5 FOCUS"), "cmd! FOCUS");
  EXPECT_EQ(WithoutTime("ok 2"), "ok 2");
  EXPECT_EQ(WithoutTime("hello softphone-sim 1"), "hello softphone-sim 1");
  EXPECT_TRUE(Matches("note 047F id=1 status=RINGING", "note 1200 047F id=1 status=RINGING conference=0"));
  EXPECT_FALSE(Matches("note 047F id=1 status=RINGING", "note 1200 047F id=10 status=RINGING"));
  EXPECT_FALSE(Matches("ok", "ok 2"));  // answers are not events
  EXPECT_TRUE(IsReply("error unknown command"));
  EXPECT_FALSE(IsReply("okay"));
}

TEST(SoftphoneSimArguments, LinesAreSplitAndOverlongOnesCut) {
  LineSplitter splitter;
  EXPECT_EQ(splitter.Feed("incoming al"), std::vector<std::string>{});
  EXPECT_EQ(splitter.Feed("ice\r\nstate\n\n"), (std::vector<std::string>{"incoming alice", "state", ""}));
  const auto cut = splitter.Feed(std::string(kMaxLine + 500, 'a') + "\nnext\n");
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0].size(), kMaxLine);
  EXPECT_EQ(cut[1], "next");
}

}  // namespace
