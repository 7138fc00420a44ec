// The pacer that lets the models serve a real program: virtual time follows the wall clock, never
// runs ahead of it, and stopping leaves time where it was.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sim/RealTimePacer.h"
#include "sim/Scheduler.h"
#include "sim/VirtualClock.h"

using namespace sim;
using namespace std::chrono_literals;

namespace {

// Generous: the tests run under sanitizers and Wine on a busy machine. The lower bounds are
// exact, since virtual time must never run ahead of real time.
constexpr std::int64_t kSlackMs = 250;

std::int64_t MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

TEST(RealTimePacer, VirtualTimeFollowsRealTimeWithoutRunningAhead) {
  VirtualClock clock({.autoAdvance = false});
  clock.AdvanceTo(1000);  // a clock that has run before: pacing continues from where it stands
  RealTimePacer pacer(clock);
  const auto before = std::chrono::steady_clock::now();
  pacer.Start();
  EXPECT_TRUE(pacer.Running());

  // A participant sleeping on virtual time wakes when that much real time has passed.
  std::atomic<std::int64_t> wokeAfter{-1};
  std::atomic<std::uint64_t> wokeAt{0};
  auto sleeper = clock.Spawn([&] {
    clock.Sleep(120);
    wokeAt = clock.Now();
    wokeAfter = MsSince(before);
  });
  pacer.Poke();  // a participant spawned from outside: no Notify tells the pacer
  sleeper.join();
  EXPECT_GE(wokeAt.load(), 1120u);
  EXPECT_GE(wokeAfter.load(), 120);
  EXPECT_LT(wokeAfter.load(), 120 + kSlackMs);

  // At rest time stands between deadlines; CatchUp brings it to the real instant.
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(37ms);
    pacer.CatchUp();
    const auto real = MsSince(before);
    const auto virt = static_cast<std::int64_t>(clock.Now()) - 1000;
    EXPECT_LE(virt, real);
    EXPECT_GT(virt, real - kSlackMs);
  }
}

TEST(RealTimePacer, CallbacksScheduledFromOutsideThreadsFireOnTime) {
  // How the sim library acknowledges a write: the program's thread is no participant, it only
  // queues the answer, and the scheduler's thread posts it when virtual time gets there.
  VirtualClock clock({.autoAdvance = false});
  RealTimePacer pacer(clock);
  pacer.Start();
  Scheduler scheduler(clock);
  std::this_thread::sleep_for(20ms);

  std::atomic<std::int64_t> firedAfter[3] = {-1, -1, -1};
  const auto start = std::chrono::steady_clock::now();
  std::thread outside([&] {
    pacer.CatchUp();  // delays count from the real instant, not from the pacer's last step
    scheduler.After(40, [&] { firedAfter[1] = MsSince(start); });
    scheduler.After(5, [&] { firedAfter[0] = MsSince(start); });
    scheduler.After(90, [&] { firedAfter[2] = MsSince(start); });
  });
  outside.join();
  std::this_thread::sleep_for(150ms + std::chrono::milliseconds(kSlackMs));
  const std::int64_t due[3] = {5, 40, 90};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    // Virtual time counts whole milliseconds, so "now" may be up to one behind the real instant.
    EXPECT_GE(firedAfter[i].load(), due[i] - 1);
    EXPECT_LT(firedAfter[i].load(), due[i] + kSlackMs);
  }
}

TEST(RealTimePacer, CatchUpBringsTimeToTheRealInstantAndRunsWhatFellDue) {
  VirtualClock clock({.autoAdvance = false});
  RealTimePacer pacer(clock);
  Scheduler scheduler(clock);
  std::atomic<bool> fired{false};
  const auto start = std::chrono::steady_clock::now();
  pacer.Start();
  scheduler.At(30, [&] { fired = true; });
  std::this_thread::sleep_for(80ms);

  const auto before = MsSince(start);
  pacer.CatchUp();
  const auto after = MsSince(start);
  EXPECT_TRUE(fired.load()) << "due at 30, run before CatchUp returns";
  EXPECT_GE(static_cast<std::int64_t>(clock.Now()), before - 1);
  EXPECT_LE(static_cast<std::int64_t>(clock.Now()), after);

  pacer.Stop();
  const auto frozen = clock.Now();
  std::this_thread::sleep_for(20ms);
  pacer.CatchUp();  // stopped: time stays
  EXPECT_EQ(frozen, clock.Now());
}

TEST(RealTimePacer, StopFreezesTimeJoinsPastBlockedParticipantsAndStartResumes) {
  VirtualClock clock({.autoAdvance = false});
  RealTimePacer pacer(clock);
  std::atomic<bool> release{false};
  std::atomic<std::uint64_t> releasedAt{0};
  // Blocked with no deadline: nothing the pacer does wakes it, and it must not keep Stop waiting.
  auto waiter = clock.Spawn([&] {
    clock.WaitFor([&] { return release.load(); });
    releasedAt = clock.Now();
  });

  pacer.Start();
  pacer.Start();  // already running: no second controller
  std::this_thread::sleep_for(60ms);
  pacer.CatchUp();
  pacer.Stop();
  EXPECT_FALSE(pacer.Running());
  const auto frozen = clock.Now();
  EXPECT_GE(frozen, 59u);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(frozen, clock.Now());
  pacer.Stop();  // stopping twice is harmless

  pacer.Start();
  std::this_thread::sleep_for(50ms);
  pacer.CatchUp();
  const auto resumed = clock.Now();
  EXPECT_GE(resumed, frozen + 49);
  EXPECT_LT(resumed, frozen + 50 + kSlackMs);

  release = true;
  clock.Notify();
  waiter.join();
  EXPECT_GE(releasedAt.load(), resumed);
  // The destructor stops a running pacer.
}

TEST(RealTimePacer, RestsWhileNothingIsDueAndWakesOnlyForDeadlines) {
  VirtualClock clock({.autoAdvance = false});
  RealTimePacer pacer(clock);
  Scheduler scheduler(clock);
  pacer.Start();
  std::this_thread::sleep_for(30ms);
  const auto settled = pacer.Advances();
  std::this_thread::sleep_for(300ms);
  // A pacer on a fixed step would have advanced some 300 times.
  EXPECT_LE(pacer.Advances() - settled, 2u);

  // Ten callbacks 30 ms apart: about one advance for each, plus the wake-ups their At calls give.
  std::atomic<int> fired{0};
  const auto start = std::chrono::steady_clock::now();
  std::atomic<std::int64_t> lastAfter{-1};
  const auto before = pacer.Advances();
  pacer.CatchUp();  // time stood at rest: the delays count from now
  for (int i = 1; i <= 10; ++i) {
    scheduler.After(static_cast<std::uint64_t>(30 * i), [&] {
      ++fired;
      lastAfter = MsSince(start);
    });
  }
  std::this_thread::sleep_for(300ms + std::chrono::milliseconds(kSlackMs));
  EXPECT_EQ(fired.load(), 10);
  EXPECT_GE(lastAfter.load(), 300 - 1);
  EXPECT_LE(pacer.Advances() - before, 40u);
}

TEST(RealTimePacer, APokeAfterAnOutsideSetFindsTheParticipantsNewDeadline) {
  VirtualClock clock({.autoAdvance = false});
  RealTimePacer pacer(clock);
  auto event = clock.MakeEvent();
  std::atomic<std::int64_t> wokeAfter{-1};
  std::chrono::steady_clock::time_point set;
  auto waiter = clock.Spawn([&] {
    event->Wait(platform::kInfinite);
    clock.Sleep(60);  // a deadline the pacer cannot know of without being told
    wokeAfter = MsSince(set);
  });
  pacer.Start();
  std::this_thread::sleep_for(40ms);
  set = std::chrono::steady_clock::now();
  pacer.CatchUp();
  event->Set();
  pacer.Poke();
  waiter.join();
  EXPECT_GE(wokeAfter.load(), 60 - 1);
  EXPECT_LT(wokeAfter.load(), 60 + kSlackMs);
}

}  // namespace
