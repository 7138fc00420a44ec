// Both programs' threads at once on real threads and scaled time, against fakes that fail at
// random: the handset link's four workers, the client link's mute poll and the bridge's
// user-interface thread, and the audio device manager's watchers with its main window. The
// virtual clock of the scenarios runs one thread at a time and cannot find races; this runs under
// ThreadSanitizer and AddressSanitizer. Each test prints its seed (TELIOX_STRESS_SEED repeats
// the random choices, though not the threads' interleaving) and its counts;
// TELIOX_STRESS_SECONDS sets its length.
#include <gtest/gtest.h>

#include "tests/stress/BridgeRig.h"
#include "tests/stress/ManagerRig.h"

namespace stress {
namespace {

constexpr int kDefaultSeconds = 8;
// A thread that runs this long without coming back to a wait, or stays this long in one past its
// time, is stuck; generous, for ThreadSanitizer on two busy cores.
constexpr auto kSlack = 3s;

// Both programs on one clock, its tick starting just before the wrap.
struct Programs {
  explicit Programs(std::uint64_t seed)
      : clock(0xFFFFFFFFu - static_cast<std::uint32_t>(seed % 40000)),
        bridge(clock, threads, seed, tally),
        manager(clock, threads, seed + 100, tally) {}
  ~Programs() { Close(); }

  void Start() {
    bridge.Start();
    manager.Start();
  }
  // Runs for `length`, or until something is found.
  void Watch(Steady::duration length, std::vector<std::string>& faults) {
    const auto end = Steady::now() + length;
    while (Steady::now() < end && faults.empty()) {
      std::this_thread::sleep_for(20ms);
      for (auto& stuck : threads.Stuck(kSlack)) faults.push_back(std::move(stuck));
      bridge.Check(faults);
      manager.Check(faults);
    }
  }
  // Closes both programs as they close (the bridge's main window closes the handset while the
  // workers run), stops every thread and joins it; the time that took.
  Steady::duration Close() {
    if (closed) return {};
    closed = true;
    const auto start = Steady::now();
    bridge.BeginClose();
    manager.BeginClose();
    threads.RequestStop();
    clock.End();
    threads.JoinWithin(30s);
    return Steady::now() - start;
  }

  ScaledClock clock;
  Tally tally;
  Threads threads;
  BridgeRig bridge;
  ManagerRig manager;
  bool closed = false;
};

void Report(const std::vector<std::string>& faults) {
  for (std::size_t i = 0; i < faults.size() && i < 20; ++i) ADD_FAILURE() << faults[i];
}

std::uint64_t AnnouncedSeed(int seconds) {
  const std::uint64_t seed = StressSeed();
  std::printf("stress seed %llu, %d s (TELIOX_STRESS_SEED=%llu repeats the choices)\n",
              static_cast<unsigned long long>(seed), seconds, static_cast<unsigned long long>(seed));
  std::fflush(stdout);
  return seed;
}

TEST(Stress, BothProgramsKeepWorkingAndAgreeAfterRandomFaults) {
  const int seconds = StressSeconds(kDefaultSeconds);
  const std::uint64_t seed = AnnouncedSeed(seconds);
  SCOPED_TRACE("seed " + std::to_string(seed));
  Programs programs(seed);
  programs.Start();
  std::vector<std::string> faults;
  programs.Watch(std::chrono::seconds(seconds), faults);
  if (faults.empty()) {
    programs.bridge.SettleAndCheck();
    programs.manager.SettleAndCheck(faults);
  }
  Report(faults);
  const auto closing = programs.Close();
  EXPECT_LT(closing, kSlack) << "closing took " << Millis(closing) << " ms";
  programs.tally.Print("counts");
}

TEST(Stress, EveryThreadEndsAtOnceWhenBothProgramsCloseAtAnyMoment) {
  const int seconds = std::max(1, StressSeconds(kDefaultSeconds) / 2);
  const std::uint64_t seed = AnnouncedSeed(seconds);
  SCOPED_TRACE("seed " + std::to_string(seed));
  Random random(seed);
  int runs = 0;
  Steady::duration longest{};
  for (const auto end = Steady::now() + std::chrono::seconds(seconds); Steady::now() < end;) {
    Programs programs(seed + 1000 * ++runs);
    programs.Start();
    std::vector<std::string> faults;
    programs.Watch(Scaled(random.Between(0, 10000)), faults);
    const auto closing = programs.Close();
    programs.manager.Check(faults);
    Report(faults);
    longest = std::max(longest, closing);
    EXPECT_LT(closing, kSlack) << "closing run " << runs << " took " << Millis(closing) << " ms";
    if (!faults.empty()) break;
  }
  std::printf("closed %d times at random moments, the longest close %ld ms\n", runs, Millis(longest));
}

}  // namespace
}  // namespace stress
