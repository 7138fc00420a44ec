#include "platform/RealClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Bounds are loose on the upper side: the host may be busy, and Wine adds its own delays.
constexpr auto kLate = std::chrono::seconds(2);

TEST(RealClockTest, SleepNeverEndsEarlyAndTickCountFollows) {
  RealClock clock;
  const auto start = steady_clock::now();
  const std::uint32_t startTick = clock.TickCount();
  clock.Sleep(50);
  const auto elapsed = steady_clock::now() - start;
  const std::uint32_t ticks = TicksSince(clock.TickCount(), startTick);
  EXPECT_GE(elapsed, milliseconds(50));
  EXPECT_LT(elapsed, kLate);
  EXPECT_GE(ticks, 50u);
  EXPECT_LT(ticks, 2000u);
}

TEST(RealClockTest, EventIsManualResetAndZeroTimeoutPolls) {
  RealClock clock;
  auto event = clock.MakeEvent();
  EXPECT_FALSE(event->Wait(0));
  event->Set();
  EXPECT_TRUE(event->Wait(0));
  EXPECT_TRUE(event->Wait(0));
  EXPECT_TRUE(event->Wait(kInfinite));
  event->Reset();
  EXPECT_FALSE(event->Wait(0));
  EXPECT_TRUE(clock.MakeEvent(true)->Wait(0));
}

TEST(RealClockTest, TimedWaitOnUnsetEventTimesOutNoEarlierThanItsTime) {
  RealClock clock;
  auto event = clock.MakeEvent();
  const auto start = steady_clock::now();
  EXPECT_FALSE(event->Wait(50));
  const auto elapsed = steady_clock::now() - start;
  EXPECT_GE(elapsed, milliseconds(50));
  EXPECT_LT(elapsed, kLate);
}

TEST(RealClockTest, SetReleasesEveryWaiterEvenWhenResetAtOnce) {
  RealClock clock;
  auto event = clock.MakeEvent();
  std::atomic<int> waiting{0};
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&, i] {
      ++waiting;
      if (event->Wait(i == 0 ? kInfinite : 10000)) ++released;
    });
  }
  while (waiting < 3) std::this_thread::yield();
  clock.Sleep(200);  // let them block
  const auto start = steady_clock::now();
  event->Set();
  event->Reset();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(released, 3);
  EXPECT_LT(steady_clock::now() - start, kLate);
}

}  // namespace
}  // namespace platform
