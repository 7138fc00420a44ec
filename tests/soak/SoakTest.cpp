// The soak's short form, and proof that its checks catch what they are there for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "sim/programs/Programs.h"
#include "tests/soak/Soak.h"
#include "tests/soak/SoakChecks.h"

namespace soak {
namespace {

constexpr std::uint64_t kHourMs = 3600 * 1000;

sim::TranscriptLine Line(std::uint64_t time, const char* channel, const char* payload) {
  return sim::TranscriptLine{time, channel, payload};
}

// A healthy world at `now`: handset open and just written to, nothing ringing.
Snapshot Quiet(std::uint64_t now) {
  Snapshot s;
  s.now = now;
  s.plugged = s.opened = true;
  return s;
}

TEST(SoakChecks, RegistryWritesMustBeValuesTheProgramsMayStore) {
  const std::string teliox = R"(set HKCU\SOFTWARE\VORLANE\TELIOX\Teliox )";
  const std::string manager = R"(set HKCU\SOFTWARE\VORLANE\AUDIO_MANAGER )";
  EXPECT_EQ(Checks::RegistryWriteProblem(teliox + "RINGTYPE dword 9"), std::nullopt);
  EXPECT_EQ(Checks::RegistryWriteProblem(teliox + "LANGUAGE dword 5"), std::nullopt);
  EXPECT_EQ(Checks::RegistryWriteProblem(manager + "DEFAULT_DEVICE_IN sz \"Headset 2\""), std::nullopt);
  EXPECT_EQ(Checks::RegistryWriteProblem(R"(set HKCU\Software\Microsoft\Multimedia\Sound Mapper Record sz "Mic")"),
            std::nullopt);
  EXPECT_EQ(Checks::RegistryWriteProblem(R"(delete HKCU\SOFTWARE\VORLANE\AUDIO_MANAGER\REGISTER Teliox)"),
            std::nullopt);

  EXPECT_NE(Checks::RegistryWriteProblem(teliox + "RINGTYPE dword 10"), std::nullopt);
  EXPECT_NE(Checks::RegistryWriteProblem(teliox + "LANGUAGE dword 0"), std::nullopt);
  EXPECT_NE(Checks::RegistryWriteProblem(teliox + "RINGMODE dword 4294967295"), std::nullopt);
  EXPECT_NE(Checks::RegistryWriteProblem(teliox + "KEYTONE sz \"1\""), std::nullopt);
  EXPECT_NE(Checks::RegistryWriteProblem(teliox + "KEYTONE type 3 binary 01"), std::nullopt);
  EXPECT_NE(Checks::RegistryWriteProblem(manager + "WIZARD_AUTOMATIC dword 2"), std::nullopt);
  EXPECT_NE(Checks::RegistryWriteProblem(teliox + "VOLUME dword 1"), std::nullopt);
  EXPECT_NE(Checks::RegistryWriteProblem(R"(delete HKCU\SOFTWARE\VORLANE\TELIOX\Teliox LANGUAGE)"), std::nullopt);

  // Seen in the transcript, a bad write fails the next check.
  Checks checks;
  checks.OnLine(Line(10, "reg", (teliox + "RINGMODE dword 3").c_str()));
  const auto problem = checks.Check(Quiet(10));
  ASSERT_TRUE(problem);
  EXPECT_NE(problem->find("RINGMODE"), std::string::npos);
}

TEST(SoakChecks, RingingOutlivesItsCallOnlyBriefly) {
  Limits limits;
  Checks checks(limits);
  auto s = Quiet(0);
  s.ringing = s.callRinging = true;
  checks.OnLine(Line(0, "hid>", "C0 00 00 42 00 00 00"));
  EXPECT_EQ(checks.Check(s), std::nullopt);  // rings while the call rings: as long as it likes
  s.callRinging = false;
  for (std::uint64_t t = 100; t <= 1000 + limits.ringWithoutCall; t += 100) {
    s.now = t;
    checks.OnLine(Line(t, "hid>", "C0 00 00 40 00 00 00"));
    const auto problem = checks.Check(s);
    if (t - 100 <= limits.ringWithoutCall) {
      EXPECT_EQ(problem, std::nullopt) << t;
    } else {
      ASSERT_TRUE(problem) << t;
      EXPECT_NE(problem->find("ringing without a ringing call"), std::string::npos);
    }
  }
  Figures figures;
  checks.AddTo(figures);
  EXPECT_GT(figures.longestRingWithoutCall, limits.ringWithoutCall);

  // While the client keeps its notifications back the bridge cannot know the call ended; the
  // span counts from when it may know.
  Checks held(limits);
  s.clientSilent = true;
  for (std::uint64_t t = 0; t <= 2 * limits.ringWithoutCall; t += 100) {
    s.now = t;
    held.OnLine(Line(t, "hid>", "C0 00 00 40 00 00 00"));
    EXPECT_EQ(held.Check(s), std::nullopt);
  }
  s.clientSilent = false;
  s.now += limits.ringWithoutCall;
  held.OnLine(Line(s.now, "hid>", "C0 00 00 40 00 00 00"));
  EXPECT_EQ(held.Check(s), std::nullopt);
}

TEST(SoakChecks, ThreadsThatStopComingBackAreNoticed) {
  Limits limits;
  {
    // The indicator thread's status reports stop; failed writes do not count as reports.
    Checks checks(limits);
    checks.OnLine(Line(0, "hid>", "C0 00 00 42 00 00 00"));
    EXPECT_EQ(checks.Check(Quiet(0)), std::nullopt);
    checks.OnLine(Line(1000, "hid>", "C0 00 00 42 00 00 00 failed"));
    EXPECT_EQ(checks.Check(Quiet(limits.statusGap)), std::nullopt);
    EXPECT_TRUE(checks.Check(Quiet(limits.statusGap + 100)));
  }
  {
    // A plugged handset the device monitor never opens.
    Checks checks(limits);
    auto s = Quiet(0);
    s.opened = false;
    EXPECT_EQ(checks.Check(s), std::nullopt);
    s.now = limits.plugToOpen + 1;
    EXPECT_TRUE(checks.Check(s));
  }
  {
    // Key activity that never ends.
    Checks checks(limits);
    auto s = Quiet(limits.keyActivity + 500);
    checks.OnLine(Line(s.now, "hid>", "C0 00 00 43 00 00 00"));
    s.keyActivity = true;
    s.lastKeyAt = 500;
    EXPECT_EQ(checks.Check(s), std::nullopt);
    s.now += 100;
    checks.OnLine(Line(s.now, "hid>", "C0 00 00 43 00 00 00"));
    EXPECT_TRUE(checks.Check(s));
  }
  {
    // A user-interface thread that does not take its messages any more; one that answers late
    // but in time is fine, and its time is kept.
    Checks checks(limits);
    checks.PingSent(1, 0);
    checks.Pong(1, limits.ping - 1);
    checks.PingSent(0, 5000);
    checks.OnLine(Line(5000 + limits.ping, "hid>", "C0 00 00 42 00 00 00"));
    EXPECT_EQ(checks.Check(Quiet(5000 + limits.ping)), std::nullopt);
    const auto problem = checks.Check(Quiet(5000 + limits.ping + 1));
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->find("bridge"), std::string::npos);
    Figures figures;
    checks.AddTo(figures);
    EXPECT_EQ(figures.longestPing, limits.ping - 1);
  }
  {
    // A program that ends, a queue that grows, keys that stay open.
    Checks checks(limits);
    auto s = Quiet(0);
    checks.OnLine(Line(0, "hid>", "C0 00 00 42 00 00 00"));
    s.queueLength = limits.queue;
    s.registryHandles = limits.registryHandles;
    EXPECT_EQ(checks.Check(s), std::nullopt);
    s.queueLength = limits.queue + 1;
    EXPECT_TRUE(checks.Check(s));
    s.queueLength.reset();
    s.registryHandles = limits.registryHandles + 1;
    EXPECT_TRUE(checks.Check(s));
    Checks ending(limits);
    ending.OnLine(Line(0, "exit", "bridge 0"));
    EXPECT_TRUE(ending.Check(Quiet(0)));
  }
}

// The short form of `./run soak`: simulated hours of use with every kind of fault, on seeds of
// its own, or on TELIOX_SOAK_SEED when set (to replay a failure).
class SoakShort : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(SoakShort, EveryRuleHoldsThroughHoursOfFaults) {
  sim::SimPrograms programs(sim::DefaultSourceDir());
  ASSERT_EQ(programs.Error(), "");
  Options options;
  options.seed = GetParam();
  if (const char* seed = std::getenv("TELIOX_SOAK_SEED")) options.seed = std::strtoull(seed, nullptr, 10);
  options.virtualMs = 4 * kHourMs;
  const auto outcome = soak::Run(options, programs);
  std::ostringstream figures;
  PrintFigures(outcome.figures, figures);
  std::ostringstream recent;
  for (const auto& action : outcome.recentActions) recent << "  " << action << '\n';
  for (const auto& line : outcome.recentLines) recent << "  " << line << '\n';
  ASSERT_TRUE(outcome.held) << "seed " << options.seed << ", at " << FormatTime(outcome.failedAtMs) << ": "
                            << outcome.failure << '\n'
                            << recent.str() << figures.str();
  // Every kind of thing happened: the run proves something only if the faults were there.
  for (const char* kind : {"call", "key", "unplug", "plug", "acks", "client", "audio"}) {
    EXPECT_GT(outcome.figures.actions.count(kind), 0u) << kind << '\n' << figures.str();
  }
  EXPECT_GT(outcome.figures.faults, 20u);
  EXPECT_EQ(outcome.figures.virtualMs, options.virtualMs);
  std::cout << figures.str();
}

INSTANTIATE_TEST_SUITE_P(Seeds, SoakShort, ::testing::Values(1, 2));

TEST(SoakReplay, TheSameSeedDoesTheSameThings) {
  sim::SimPrograms programs(sim::DefaultSourceDir());
  Options options;
  options.seed = 7;
  options.virtualMs = kHourMs / 2;
  const auto first = soak::Run(options, programs);
  const auto second = soak::Run(options, programs);
  ASSERT_TRUE(first.held) << first.failure;
  EXPECT_EQ(first.figures.actions, second.figures.actions);
  EXPECT_EQ(first.figures.transcriptLines, second.figures.transcriptLines);
  EXPECT_EQ(first.figures.longestStatusGap, second.figures.longestStatusGap);
}

}  // namespace
}  // namespace soak
