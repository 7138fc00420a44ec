// The sim flavour of the HID library without Windows: the simulator's line protocol (commands,
// state, events, the command line's steps) and the handset behind the six calls, on manual time.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "companions/hidmar/sim/SimHandset.h"
#include "companions/hidmar/sim/SimProtocol.h"

using namespace hidmar_sim;
using Kind = Command::Kind;
using sim::HandsetModel;

namespace {

// --- protocol ---------------------------------------------------------------------------------

TEST(SimProtocol, CommandsParseWithTheirDefaultsNamesAndBothNumberForms) {
  auto plug = ParseCommand("plug");
  ASSERT_TRUE(plug);
  EXPECT_EQ(Kind::kPlug, plug->kind);
  EXPECT_EQ(0x1402, plug->product);
  EXPECT_EQ(1, plug->major);
  EXPECT_EQ(4, plug->minor);
  plug = ParseCommand("  plug 0x1403\t2 10\r");
  ASSERT_TRUE(plug);
  EXPECT_EQ(0x1403, plug->product);
  EXPECT_EQ(2, plug->major);
  EXPECT_EQ(10, plug->minor);

  EXPECT_EQ(0x20, ParseCommand("key yes")->code);
  EXPECT_EQ(0x20, ParseCommand("key 0x20")->code);
  EXPECT_EQ(0x20, ParseCommand("key 32")->code) << "decimal unless 0x";
  EXPECT_EQ(0xB0, ParseCommand("key d0")->code);
  EXPECT_EQ(0xBB, ParseCommand("key hash")->code);
  EXPECT_EQ(0x33, ParseCommand("key vol-")->code);

  const auto report = ParseCommand("report 00 1f 0x33 42 00 00 FF");
  ASSERT_TRUE(report);
  EXPECT_EQ((HandsetModel::Report{0x00, 0x1F, 0x33, 0x42, 0x00, 0x00, 0xFF}), report->report);
  EXPECT_EQ(7u, ParseCommand("drop-acks 7")->value);
  EXPECT_EQ(250u, ParseCommand("ack-delay 250")->value);
  EXPECT_EQ(HandsetModel::VersionReply::kAck, ParseCommand("version-reply ack")->versionReply);
  EXPECT_EQ(Kind::kUnplug, ParseCommand("unplug")->kind);
  EXPECT_EQ(Kind::kRepeat, ParseCommand("repeat")->kind);
  EXPECT_EQ(Kind::kState, ParseCommand("state")->kind);

  // Every command survives formatting and parsing again.
  for (const char* text : {"plug 0x1403 2 1", "unplug", "key 0xC3", "report 00 20 05 42 00 00 00", "repeat",
                           "drop-acks 3", "ack-delay 40", "version-reply silent", "state"}) {
    const auto command = ParseCommand(text);
    ASSERT_TRUE(command) << text;
    EXPECT_EQ(text, FormatCommand(*command));
  }
}

TEST(SimProtocol, BadCommandsAreRefusedWithAReason) {
  for (const char* text : {"",
                           "   ",
                           "bogus",
                           "plug 0x1402 1",
                           "plug 0x10000",
                           "plug 0x1402 1 256",
                           "plug x",
                           "unplug now",
                           "key",
                           "key 0x100",
                           "key banana",
                           "key 1 2",
                           "report 00 11 22",
                           "report 00 11 22 33 44 55 66 77",
                           "report 00 11 22 33 44 55 GG",
                           "report 00 11 22 33 44 55 123",
                           "drop-acks",
                           "drop-acks -1",
                           "ack-delay 5ms",
                           "version-reply loud",
                           "state now"}) {
    std::string why;
    EXPECT_FALSE(ParseCommand(text, &why)) << text;
    EXPECT_FALSE(why.empty()) << text;
  }
}

TEST(SimProtocol, StateLinesCarryEveryFieldAndReadBack) {
  HandsetState state;
  state.plugged = true;
  state.product = 0x1403;
  state.major = 2;
  state.minor = 11;
  state.opened = true;
  state.window = 0x0001002A;
  state.message = 0x464;
  state.ringer = HandsetModel::Ringer::kSilentRinging;
  state.indicator = true;
  state.activity = false;
  state.tone = HandsetModel::RingTone{0x01, 0x9F, 0x00, 0xFF, 0x05};
  state.uploads = 3;
  state.drops = 2;
  state.ackDelay = 40;
  state.versionReply = HandsetModel::VersionReply::kSilent;
  const std::string text = FormatState(state);
  EXPECT_EQ(
      "plugged=1 product=1403 firmware=2.11 opened=1 window=0001002A message=0464 ringer=silent indicator=on "
      "activity=off tone=01-9F-00-FF-05 uploads=3 drops=2 ack-delay=40 version-reply=silent",
      text);
  EXPECT_EQ(state, ParseState(text));
  state.tone.reset();
  EXPECT_EQ(state, ParseState(FormatState(state)));
  // A later version's fields are skipped; broken values are not.
  EXPECT_EQ(state, ParseState(FormatState(state) + " battery=low"));
  EXPECT_FALSE(ParseState("plugged=2"));
  EXPECT_FALSE(ParseState("ringer=loud"));
  EXPECT_FALSE(ParseState("tone=01-02"));
  EXPECT_FALSE(ParseState("firmware=14"));
  EXPECT_FALSE(ParseState("plugged"));
  EXPECT_FALSE(ParseState("battery=low")) << "no field known";
}

TEST(SimProtocol, EventsOfEveryKindParse) {
  auto event = ParseEvent("hello hidmar-sim 1 Teliox.exe 1234");
  ASSERT_TRUE(event);
  EXPECT_EQ(Event::Kind::kHello, event->kind);
  EXPECT_EQ("Teliox.exe 1234", event->text);

  HandsetState plugged;
  plugged.plugged = true;
  plugged.product = 0x1402;
  event = ParseEvent(FormatStateEvent(812, plugged));
  ASSERT_TRUE(event);
  EXPECT_EQ(Event::Kind::kState, event->kind);
  EXPECT_EQ(812u, event->time);
  EXPECT_TRUE(event->state.plugged);
  EXPECT_EQ(0x1402, event->state.product);

  // Model transcript lines become events; other channels are not the simulator's business.
  const auto out = FormatModelEvent(1203, "hid>", "C0 00 9A 42 00 00 00");
  ASSERT_TRUE(out);
  EXPECT_EQ("out 1203 C0 00 9A 42 00 00 00", *out);
  event = ParseEvent(*out);
  ASSERT_TRUE(event);
  EXPECT_EQ(Event::Kind::kOut, event->kind);
  EXPECT_TRUE(event->ok);
  EXPECT_EQ((std::vector<std::uint8_t>{0xC0, 0x00, 0x9A, 0x42, 0x00, 0x00, 0x00}), event->bytes);

  event = ParseEvent(*FormatModelEvent(1300, "hid>", "C0 00 9A 42 00 00 00 failed"));
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->ok);
  EXPECT_EQ(7u, event->bytes.size());
  event = ParseEvent(*FormatModelEvent(1301, "hid>", "failed"));  // a null report
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->ok);
  EXPECT_TRUE(event->bytes.empty());

  event = ParseEvent(*FormatModelEvent(1208, "hid<", "00 5A 01 42 00 00 00"));
  ASSERT_TRUE(event);
  EXPECT_EQ(Event::Kind::kIn, event->kind);
  EXPECT_EQ(0x5A, event->bytes[1]);

  event = ParseEvent(*FormatModelEvent(5, "hidlib", "find 11F1 1402 found"));
  ASSERT_TRUE(event);
  EXPECT_EQ(Event::Kind::kLib, event->kind);
  EXPECT_EQ("find 11F1 1402 found", event->text);
  EXPECT_FALSE(FormatModelEvent(5, "msg", "anything"));

  event = ParseEvent("ok");
  ASSERT_TRUE(event);
  EXPECT_EQ(Event::Kind::kReply, event->kind);
  EXPECT_TRUE(event->ok);
  event = ParseEvent("error not opened by the program");
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->ok);
  EXPECT_EQ("not opened by the program", event->text);

  for (const char* junk :
       {"", "okay", "hello someone 1", "state x plugged=1", "out 12 C0 0G", "in 12 XYZ", "later 5"}) {
    EXPECT_FALSE(ParseEvent(junk)) << junk;
  }
}

TEST(SimProtocol, LinesSplitAcrossReadsAndOverlongOnesAreCut) {
  LineBuffer buffer;
  EXPECT_TRUE(buffer.Feed("ke").empty());
  EXPECT_EQ((std::vector<std::string>{"key yes", "unplug", ""}), buffer.Feed("y yes\r\nunplug\n\n"));
  const std::string longLine(kMaxLine + 100, 'x');
  const auto lines = buffer.Feed(longLine + "\nstate\n");
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(std::string(kMaxLine, 'x'), lines[0]);
  EXPECT_EQ("state", lines[1]) << "the rest of the long line is dropped, the next one kept";
}

TEST(SimProtocol, CommandLineStepsKeepTheirOrderAndCheckTheirArguments) {
  std::string error;
  auto script = ParseArguments({"--pipe",
                                "\\\\.\\pipe\\x",
                                "--timeout",
                                "300",
                                "--plug",
                                "0x1403",
                                "2",
                                "1",
                                "--key",
                                "yes",
                                "--unplug",
                                "--wait-report",
                                "C0 00 9A",
                                "--wait-in",
                                "00 5A",
                                "--wait-state",
                                "ringer=ringing product=0x1403",
                                "--plug",
                                "--state",
                                "--monitor",
                                "100",
                                "--sleep",
                                "5",
                                "--send",
                                "drop-acks 2"},
                               &error);
  ASSERT_TRUE(script) << error;
  EXPECT_EQ("\\\\.\\pipe\\x", script->pipe);
  EXPECT_EQ(300u, script->waitTimeoutMs);
  using S = ScriptStep::Kind;
  std::vector<S> kinds;
  for (const auto& step : script->steps) kinds.push_back(step.kind);
  EXPECT_EQ((std::vector<S>{S::kSend, S::kSend, S::kSend, S::kWaitOut, S::kWaitIn, S::kWaitState, S::kSend,
                            S::kPrintState, S::kMonitor, S::kSleep, S::kSend}),
            kinds);
  EXPECT_EQ("plug 0x1403 2 1", script->steps[0].command);
  EXPECT_EQ("key yes", script->steps[1].command);
  EXPECT_EQ((std::vector<std::uint8_t>{0xC0, 0x00, 0x9A}), script->steps[3].bytes);
  EXPECT_EQ("plug", script->steps[6].command) << "a bare --plug before another option";
  EXPECT_EQ(100u, script->steps[8].ms);
  EXPECT_EQ("drop-acks 2", script->steps[10].command);

  script = ParseArguments({"--pipe", "p"}, &error);
  ASSERT_TRUE(script);
  EXPECT_TRUE(script->steps.empty()) << "no steps: the window";
  EXPECT_TRUE(ParseArguments({"--help"}, &error)->help);

  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--key"},
                                             {"--key", "banana"},
                                             {"--plug", "0x1402", "1"},
                                             {"--wait-report", "C0 00 9A 00 00 00 00 00"},
                                             {"--wait-in", ""},
                                             {"--wait-state", "colour=red"},
                                             {"--wait-state", "ringer=loud"},
                                             {"--timeout", "soon"},
                                             {"--send", "fly"},
                                             {"--frobnicate"}}) {
    error.clear();
    EXPECT_FALSE(ParseArguments(bad, &error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimProtocol, WaitsMatchWrittenReportsDeliveredReportsAndStatesByTheirMeaning) {
  std::string error;
  const auto script = ParseArguments(
      {"--wait-report", "C0 00 9A", "--wait-in", "00 20", "--wait-state", "product=0x1403 ringer=ringing"}, &error);
  ASSERT_TRUE(script);
  const auto& out = script->steps[0];
  const auto& in = script->steps[1];
  const auto& state = script->steps[2];
  EXPECT_TRUE(Matches(out, *ParseEvent("out 5 C0 00 9A 42 00 00 00")));
  EXPECT_FALSE(Matches(out, *ParseEvent("out 5 C0 00 9A 42 00 00 00 failed"))) << "not written";
  EXPECT_FALSE(Matches(out, *ParseEvent("out 5 C0 00 9C 42 00 00 00")));
  EXPECT_FALSE(Matches(out, *ParseEvent("in 5 C0 00 9A 42 00 00 00")));
  EXPECT_TRUE(Matches(in, *ParseEvent("in 5 00 20 07 42 00 00 00")));
  EXPECT_FALSE(Matches(in, *ParseEvent("out 5 00 20 07 42 00 00 00")));

  HandsetState s;
  s.plugged = true;
  s.product = 0x1403;
  s.ringer = HandsetModel::Ringer::kRinging;
  EXPECT_TRUE(Matches(state, *ParseEvent(FormatStateEvent(9, s))));
  s.ringer = HandsetModel::Ringer::kSilentRinging;
  EXPECT_FALSE(Matches(state, *ParseEvent(FormatStateEvent(9, s))));
  s.ringer = HandsetModel::Ringer::kRinging;
  s.product = 0x1402;
  EXPECT_FALSE(Matches(state, *ParseEvent(FormatStateEvent(9, s))));
}

// --- the handset behind the six calls ----------------------------------------------------------

class RecordingPoster final : public sim::WindowPoster {
 public:
  struct Post {
    platform::WindowHandle window;
    std::uint32_t msg;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };
  bool PostTo(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
              std::shared_ptr<const void>) override {
    std::lock_guard lock(mutex_);
    posts_.push_back({window, msg, wParam, lParam});
    return true;
  }
  std::vector<Post> Posts() {
    std::lock_guard lock(mutex_);
    return posts_;
  }

 private:
  std::mutex mutex_;
  std::vector<Post> posts_;
};

class SimHandsetTest : public ::testing::Test {
 protected:
  explicit SimHandsetTest(std::string start = {})
      : handset_(poster_, {.realTime = false, .start = std::move(start), .who = "test.exe 7"}) {
    subscription_ = handset_.Subscribe([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      events_.push_back(line);
    });
  }

  std::vector<std::string> TakeEvents() {
    std::lock_guard lock(mutex_);
    return std::exchange(events_, {});
  }
  int Write(std::uint8_t code) {
    const std::uint8_t report[8] = {0xC0, 0x00, code, 0x42, 0x00, 0x00, 0x00, 0x00};
    return handset_.Write(report, 7);
  }
  void Advance(std::uint64_t ms) { handset_.Clock().AdvanceBy(ms); }

  static constexpr platform::WindowHandle kWindow = 0x2A;
  RecordingPoster poster_;
  SimHandset handset_;
  int subscription_ = 0;
  std::mutex mutex_;
  std::vector<std::string> events_;
};

TEST_F(SimHandsetTest, StartsPluggedAsTheDefaultHandsetAndTellsEachSimulatorFirst) {
  auto events = TakeEvents();
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ("hello hidmar-sim 1 test.exe 7", events[0]);
  const auto state = ParseEvent(events[1]);
  ASSERT_TRUE(state);
  EXPECT_TRUE(state->state.plugged);
  EXPECT_EQ(0x1402, state->state.product);
  EXPECT_EQ(1, state->state.major);
  EXPECT_EQ(4, state->state.minor);
  EXPECT_FALSE(state->state.opened);

  EXPECT_EQ(0, handset_.Find(0x11F1, 0x1403));
  EXPECT_EQ(1, handset_.Find(0x11F1, 0x1402));
  EXPECT_EQ(1, handset_.Open(kWindow));
  handset_.SetMessage(0x464);
  events = TakeEvents();
  EXPECT_EQ("lib 0 find 11F1 1403 none", events.at(0));
  EXPECT_EQ("lib 0 find 11F1 1402 found", events.at(1));
  EXPECT_EQ("lib 0 open ok", events.at(2));
  ASSERT_EQ("state", events.at(3).substr(0, 5)) << "opening changes the state";
  EXPECT_TRUE(ParseEvent(events[3])->state.opened);
  EXPECT_EQ(kWindow, ParseEvent(events[3])->state.window);
  EXPECT_EQ("lib 0 message 0x0464", events.at(4));
  EXPECT_EQ(5u, events.size()) << "no state line when nothing changed";
}

TEST_F(SimHandsetTest, WritesAreAnsweredAfterTheDelayAndTheSimulatorSeesBothWays) {
  handset_.Find(0x11F1, 0x1402);
  handset_.Open(kWindow);
  Advance(100);
  TakeEvents();
  ASSERT_EQ(1, Write(0x9A));
  auto events = TakeEvents();
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ("out 100 C0 00 9A 42 00 00 00", events[0]);
  EXPECT_EQ(HandsetModel::Ringer::kRinging, ParseEvent(events[1])->state.ringer);
  Advance(4);
  EXPECT_TRUE(poster_.Posts().empty());
  Advance(1);
  events = TakeEvents();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ("in 105 00 5A 01 42 00 00 00", events[0]);
  const auto posts = poster_.Posts();
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ(kWindow, posts[0].window);
  EXPECT_EQ(0x464u, posts[0].msg);
  EXPECT_EQ(0x005A01u, posts[0].wParam);
  EXPECT_EQ(0x42000000, posts[0].lParam);
}

TEST_F(SimHandsetTest, CommandsChangeTheHandsetAndAnswerWhyTheyCouldNotAct) {
  EXPECT_EQ("error not opened by the program", handset_.Execute("key yes"));
  EXPECT_EQ("error unknown command", handset_.Execute("explode"));
  handset_.Find(0x11F1, 0x1402);
  handset_.Open(kWindow);
  EXPECT_EQ("error no report to repeat", handset_.Execute("repeat"));
  EXPECT_EQ("ok", handset_.Execute("key yes"));
  EXPECT_EQ("ok", handset_.Execute("repeat"));
  ASSERT_EQ(2u, poster_.Posts().size());
  EXPECT_EQ(poster_.Posts()[0].wParam, poster_.Posts()[1].wParam) << "a repeat is the same report";

  TakeEvents();
  EXPECT_EQ("ok", handset_.Execute("ack-delay 30"));
  EXPECT_EQ("ok", handset_.Execute("drop-acks 1"));
  EXPECT_EQ("ok", handset_.Execute("version-reply silent"));
  const auto last = ParseEvent(TakeEvents().back());
  ASSERT_TRUE(last);
  EXPECT_EQ(30u, last->state.ackDelay);
  EXPECT_EQ(1u, last->state.drops);
  EXPECT_EQ(HandsetModel::VersionReply::kSilent, last->state.versionReply);
  EXPECT_EQ("ok", handset_.Execute("state"));
  EXPECT_EQ(1u, TakeEvents().size()) << "asked for, the state comes even unchanged";

  EXPECT_EQ("ok", handset_.Execute("unplug"));
  EXPECT_EQ(0, Write(0x9A));
  EXPECT_EQ("error unplugged", handset_.Execute("key yes"));
  EXPECT_EQ("ok", handset_.Execute("plug 0x1403 2 1"));
  const auto state = handset_.State();
  EXPECT_TRUE(state.plugged);
  EXPECT_FALSE(state.opened) << "a new device instance";
  EXPECT_EQ(0x1403, state.product);
  EXPECT_EQ(2, state.major);
  EXPECT_EQ(30u, state.ackDelay) << "faults are the simulator's, not the device's";

  handset_.Unsubscribe(subscription_);
  TakeEvents();
  handset_.Execute("unplug");
  EXPECT_TRUE(TakeEvents().empty());
}

TEST_F(SimHandsetTest, NothingIsPostedAfterCloseOrToAWindowNoLongerOpen) {
  handset_.Find(0x11F1, 0x1402);
  handset_.Open(kWindow);
  ASSERT_EQ(1, Write(0x9A));
  handset_.Close();
  Advance(20);
  EXPECT_TRUE(poster_.Posts().empty());
  // Opened again for another window: reports go there only.
  ASSERT_EQ(1, handset_.Open(kWindow + 1));
  ASSERT_EQ(1, Write(0x9A));
  Advance(20);
  handset_.Release();
  EXPECT_EQ("error not opened by the program", handset_.Execute("report 00 20 33 42 00 00 00"));
  const auto posts = poster_.Posts();
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ(kWindow + 1, posts[0].window);
}

// --- the handset fed to a device of the system's ---------------------------------------------

class FakeDevice final : public SimHandset::Device {
 public:
  explicit FakeDevice(SimHandset*& handset) : handset_(handset) {}
  bool Plug(std::uint16_t product) override {
    // The device's first output report may come before Plug returns: the model must be ready.
    stateAtPlug = handset_->State();
    calls.push_back("plug " + std::to_string(product));
    return !refuse;
  }
  void Unplug() override { calls.push_back("unplug"); }

  bool refuse = false;
  HandsetState stateAtPlug;
  std::vector<std::string> calls;

 private:
  SimHandset*& handset_;
};

TEST(SimHandsetDevice, PlugOpensTheModelBeforeTheDeviceAppearsAndUnplugRemovesTheDeviceFirst) {
  RecordingPoster poster;
  SimHandset* self = nullptr;
  FakeDevice device(self);
  SimHandset handset(poster, {.realTime = false, .start = "unplug; key yes", .who = "device", .device = &device});
  self = &handset;
  EXPECT_FALSE(handset.State().plugged) << "with a device the owner plugs, and the start commands wait for it";
  EXPECT_TRUE(device.calls.empty());

  ASSERT_EQ("ok", handset.Execute("plug 0x1403 1 5"));
  ASSERT_EQ(std::vector<std::string>{"plug 5123"}, device.calls);
  EXPECT_TRUE(device.stateAtPlug.plugged);
  EXPECT_TRUE(device.stateAtPlug.opened);
  EXPECT_EQ(SimHandset::kDeviceWindow, device.stateAtPlug.window);

  // What the device takes from the program goes to the model; the answers come to the poster.
  const std::uint8_t report[8] = {0xC0, 0x00, 0x9A, 0x42, 0x00, 0x00, 0x00, 0x00};
  ASSERT_EQ(1, handset.Write(report, 7));
  ASSERT_EQ("ok", handset.Execute("key yes"));
  handset.Clock().AdvanceBy(10);
  const auto posts = poster.Posts();
  ASSERT_EQ(2u, posts.size());
  EXPECT_EQ(SimHandset::kDeviceWindow, posts[0].window);
  EXPECT_EQ(0x002001u, posts[0].wParam) << "the key first, then the acknowledgement";
  EXPECT_EQ(0x005A02u, posts[1].wParam);

  ASSERT_EQ("ok", handset.Execute("unplug"));
  EXPECT_EQ("unplug", device.calls.back());
  EXPECT_FALSE(handset.State().plugged);
  EXPECT_EQ("error unplugged", handset.Execute("key yes"));

  device.refuse = true;
  EXPECT_EQ("error the device could not be installed", handset.Execute("plug"));
  EXPECT_FALSE(handset.State().plugged) << "a handset whose device did not appear is not plugged";
  EXPECT_EQ(0, handset.Write(report, 7));
}

class SimHandsetStarted : public SimHandsetTest {
 protected:
  SimHandsetStarted() : SimHandsetTest("unplug ; ack-delay 20;; bogus") {}
};

TEST_F(SimHandsetStarted, StartCommandsRunBeforeAnythingElse) {
  const auto state = handset_.State();
  EXPECT_FALSE(state.plugged);
  EXPECT_EQ(20u, state.ackDelay);
  EXPECT_EQ(0, handset_.Find(0x11F1, 0x1402));
}

}  // namespace
