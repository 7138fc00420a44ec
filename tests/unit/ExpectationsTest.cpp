// The expectation engine against scripted transcripts: order through the match position, time
// windows, and where time stands afterwards.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "sim/Scheduler.h"
#include "sim/scenario/Expectations.h"

using namespace sim;

namespace {

VirtualClock::Options Manual() {
  VirtualClock::Options options;
  options.autoAdvance = false;
  return options;
}

// A transcript whose lines appear at scripted times, with a driver that steps to them.
class ScriptedWorld : public TimeDriver {
 public:
  ScriptedWorld() : clock_(Manual()), transcript_(clock_) {}

  void LineAt(std::uint64_t time, std::string channel, std::string payload) {
    if (time <= clock_.Now()) {
      transcript_.Add(channel, payload);
    } else {
      pending_.emplace(time, std::make_pair(std::move(channel), std::move(payload)));
    }
  }

  std::uint64_t Now() override { return clock_.Now(); }
  std::optional<std::uint64_t> NextEventTime() override {
    if (pending_.empty()) return std::nullopt;
    return pending_.begin()->first;
  }
  void AdvanceTo(std::uint64_t t) override {
    while (!pending_.empty() && pending_.begin()->first <= t) {
      clock_.AdvanceTo(pending_.begin()->first);
      transcript_.Add(pending_.begin()->second.first, pending_.begin()->second.second);
      pending_.erase(pending_.begin());
    }
    clock_.AdvanceTo(t);
  }

  const Transcript& transcript() const { return transcript_; }

 private:
  VirtualClock clock_;
  Transcript transcript_;
  std::multimap<std::uint64_t, std::pair<std::string, std::string>> pending_;
};

class ExpectationsTest : public ::testing::Test {
 protected:
  // Runs scenario lines in order; returns the first failure, or "" when every one held.
  std::string Run(const std::string& text) {
    auto parsed = ParseScenario(text);
    if (!parsed.Ok()) return "parse: " + parsed.error->ToString();
    for (const auto& directive : parsed.directives) {
      const auto outcome = expectations_.Run(directive);
      if (!outcome.held) return outcome.failure;
    }
    return "";
  }

  ScriptedWorld world_;
  Expectations expectations_{world_.transcript(), world_};
};

TEST_F(ExpectationsTest, ExpectStopsTimeAtTheMatchingLineAndAssertsOrder) {
  world_.LineAt(5, "hid>", "C0 00 9A 42 00 00 00");
  world_.LineAt(8, "hid<", "00 5A 05 42 00 00 00");
  world_.LineAt(9, "cmd", "FOCUS");
  EXPECT_EQ("", Run(R"(expect "^hid<")"));
  EXPECT_EQ(8u, world_.Now());  // as soon as the line appears, not at the end of the window
  EXPECT_EQ(2u, expectations_.Position());
  // The line before the match position no longer counts: order is asserted.
  EXPECT_EQ("", Run(R"(expect "FOCUS")"));
  const auto failure = Run("\n\nexpect \"hid> C0\"");
  EXPECT_EQ("line 3: expect \"hid> C0\": no matching line by 19 ms", failure);
}

TEST_F(ExpectationsTest, ExpectWindowEndsAtItsLimit) {
  world_.LineAt(11, "cmd", "FOCUS");
  EXPECT_NE("", Run(R"(expect "FOCUS")"));  // default 10 ms
  EXPECT_EQ(10u, world_.Now());
  EXPECT_EQ("", Run(R"(expect "FOCUS" within 1ms)"));
  EXPECT_EQ(11u, world_.Now());
  // A line that is already there matches at once, even with no window.
  world_.LineAt(11, "cmd", "HOOK ON");
  EXPECT_EQ("", Run(R"(expect "HOOK" within 0ms)"));
}

TEST_F(ExpectationsTest, RegexSearchesTheBodyNotTheTimestamp) {
  world_.LineAt(1234, "hid>", "C0 00 9A");
  EXPECT_NE("", Run(R"(expect "1234" within 2s)"));
  EXPECT_EQ("", Run(R"(expect "^hid> C0 00 9A$")"));
}

TEST_F(ExpectationsTest, ExpectNextLooksOnlyAtTheNextLineOfItsChannel) {
  world_.LineAt(1, "cmd", "FOCUS");
  world_.LineAt(2, "hid>", "C0 00 9F 00 00 00 00");
  world_.LineAt(3, "cmd", "SET CALL 12 STATUS INPROGRESS");
  world_.LineAt(30, "cmd", "HOOK OFF");
  // The later SET CALL line would match, but FOCUS comes first on the cmd channel.
  EXPECT_EQ("line 1: expect-next cmd \"SET CALL\": the next cmd line does not match:        1 cmd FOCUS",
            Run(R"(expect-next cmd "SET CALL")"));
  EXPECT_EQ(0u, expectations_.Position());
  // Other channels in between are skipped; a line still to come is waited for.
  EXPECT_EQ("", Run("expect-next cmd \"FOCUS\"\nexpect-next cmd \"SET CALL\"\nexpect-next cmd \"HOOK\" within 30ms"));
  EXPECT_EQ(30u, world_.Now());
  EXPECT_EQ("line 1: expect-next hid< \".\": no hid< line by 40 ms", Run(R"(expect-next hid< ".")"));
}

TEST_F(ExpectationsTest, ExpectCountCountsExactlyOnceItsWindowHasPassed) {
  world_.LineAt(0, "hid>", "C0 00 9A");
  world_.LineAt(100, "hid>", "C0 00 9A");
  world_.LineAt(3000, "hid>", "C0 00 9A");
  world_.LineAt(6000, "hid>", "C0 00 9A");
  EXPECT_EQ("", Run(R"(mark
expect-count 2 "9A" within 5s)"));
  EXPECT_EQ(5000u, world_.Now());
  // The match position did not move: the first line after the mark is still found.
  EXPECT_EQ("", Run(R"(expect "9A" within 0ms)"));
  EXPECT_EQ(2u, expectations_.Position());
  EXPECT_EQ("line 1: expect-count 3 \"9A\": 1 matching lines, expected 3\n      3000 hid> C0 00 9A",
            Run(R"(expect-count 3 "9A")"));
  EXPECT_EQ(5000u, world_.Now());
  EXPECT_EQ("", Run(R"(expect-count 0 "cmd")"));
}

TEST_F(ExpectationsTest, ExpectNotWatchesForItsDuration) {
  world_.LineAt(0, "cmd", "FOCUS");
  world_.LineAt(50, "cmd!", "FOCUS");
  EXPECT_EQ("", Run(R"(expect "FOCUS"
expect-not "FOCUS"
expect-not "FOCUS" for 40ms)"));
  EXPECT_EQ(40u, world_.Now());
  EXPECT_EQ(1u, expectations_.Position());
  EXPECT_EQ("line 1: expect-not \"FOCUS\" for 20ms: matching line:       50 cmd! FOCUS",
            Run(R"(expect-not "FOCUS" for 20ms)"));
  EXPECT_EQ(60u, world_.Now());
  EXPECT_EQ(1u, expectations_.Position());
}

TEST_F(ExpectationsTest, MarkSkipsEverythingSoFar) {
  world_.LineAt(0, "tray", "add icon=128");
  world_.LineAt(20, "tray", "modify icon=129");
  EXPECT_EQ("", Run("mark"));
  EXPECT_EQ(1u, expectations_.Position());
  EXPECT_NE("", Run(R"(expect "add" within 30ms)"));
  EXPECT_EQ("", Run("mark\nexpect-not \"tray\""));
}

TEST_F(ExpectationsTest, WaitAndAtMoveTime) {
  world_.LineAt(700, "cmd", "FOCUS");
  EXPECT_EQ("", Run("wait 1.5s"));
  EXPECT_EQ(1500u, world_.Now());
  EXPECT_EQ(1u, world_.transcript().Size());  // everything due on the way ran
  EXPECT_EQ("line 1: at 1s: time is already 1500 ms", Run("at 1s"));
  EXPECT_EQ("", Run("at 2s\nat 2s"));
  EXPECT_EQ(2000u, world_.Now());
  Directive other = ParseScenario("start").directives.at(0);
  EXPECT_FALSE(Expectations::Handles(other));
  EXPECT_FALSE(expectations_.Run(other).held);
}

// The runner's driver over a real virtual clock: lines come from a scheduler thread.
TEST(ExpectationsOnClock, ExpectFindsLinesOfParticipantThreadsAtTheirInstants) {
  VirtualClock clock(Manual());
  Transcript transcript(clock);
  ClockTimeDriver driver(clock);
  Expectations expectations(transcript, driver);
  {
    Scheduler scheduler(clock);
    scheduler.At(7, [&] { transcript.Add("hid<", "00 5A"); });
    scheduler.At(25, [&] { transcript.Add("cmd", "FOCUS"); });
    const auto directives =
        ParseScenario("expect \"5A\"\nexpect \"FOCUS\"\nexpect \"FOCUS\" within 20ms\nexpect-not \".\" for 1s")
            .directives;
    ASSERT_EQ(4u, directives.size());
    EXPECT_TRUE(expectations.Run(directives[0]).held);
    EXPECT_EQ(7u, clock.Now());
    EXPECT_FALSE(expectations.Run(directives[1]).held);
    EXPECT_EQ(17u, clock.Now());
    EXPECT_TRUE(expectations.Run(directives[2]).held);
    EXPECT_EQ(25u, clock.Now());
    EXPECT_TRUE(expectations.Run(directives[3]).held);
    EXPECT_EQ(1025u, clock.Now());
  }
}

}  // namespace
