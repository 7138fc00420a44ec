// The clocks on real time: the portable one everywhere, and under Windows the one on the system's
// own Sleep, GetTickCount and event objects. Both keep the port's rules; only how early a sleep
// or timed wait may end differs.
#include "platform/RealClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#ifdef _WIN32
#include "platform/win32/Win32Clock.h"
#endif

namespace platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Bounds are loose on the upper side: the host may be busy, and Wine adds its own delays.
constexpr auto kLate = std::chrono::seconds(2);

struct PortableClock {
  using Type = RealClock;
  // Sleeps on until the monotonic clock agrees.
  static constexpr milliseconds kEarly{0};
};

#ifdef _WIN32
struct SystemClock {
  using Type = win32::Win32Clock;
  // Sleeps and timed waits count whole timer ticks (15.6 ms by default) and may end one early.
  static constexpr milliseconds kEarly{16};
};
using Clocks = ::testing::Types<PortableClock, SystemClock>;
#else
using Clocks = ::testing::Types<PortableClock>;
#endif

struct ClockName {
  template <typename T>
  static std::string GetName(int) {
    return std::is_same_v<T, PortableClock> ? "RealClock" : "Win32Clock";
  }
};

template <typename Case>
class ClockTest : public ::testing::Test {
 protected:
  typename Case::Type clock;
};
TYPED_TEST_SUITE(ClockTest, Clocks, ClockName);

TYPED_TEST(ClockTest, SleepLastsItsTimeAndTickCountFollows) {
  constexpr auto kEarly = TypeParam::kEarly;
  const auto start = steady_clock::now();
  const std::uint32_t startTick = this->clock.TickCount();
  this->clock.Sleep(50);
  const auto elapsed = steady_clock::now() - start;
  const std::uint32_t ticks = TicksSince(this->clock.TickCount(), startTick);
  EXPECT_GE(elapsed, milliseconds(50) - kEarly);
  EXPECT_LT(elapsed, kLate);
  EXPECT_GE(ticks, 50u - kEarly.count());
  EXPECT_LT(ticks, 2000u);
}

TYPED_TEST(ClockTest, EventIsManualResetAndZeroTimeoutPolls) {
  auto event = this->clock.MakeEvent();
  EXPECT_FALSE(event->Wait(0));
  event->Set();
  EXPECT_TRUE(event->Wait(0));
  EXPECT_TRUE(event->Wait(0));
  EXPECT_TRUE(event->Wait(kInfinite));
  event->Reset();
  EXPECT_FALSE(event->Wait(0));
  EXPECT_TRUE(this->clock.MakeEvent(true)->Wait(0));
}

TYPED_TEST(ClockTest, TimedWaitOnUnsetEventTimesOutAfterItsTime) {
  constexpr auto kEarly = TypeParam::kEarly;
  auto event = this->clock.MakeEvent();
  const auto start = steady_clock::now();
  EXPECT_FALSE(event->Wait(50));
  const auto elapsed = steady_clock::now() - start;
  EXPECT_GE(elapsed, milliseconds(50) - kEarly);
  EXPECT_LT(elapsed, kLate);
}

TYPED_TEST(ClockTest, SetReleasesEveryWaiterEvenWhenResetAtOnce) {
  auto event = this->clock.MakeEvent();
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
  this->clock.Sleep(200);  // let them block
  const auto start = steady_clock::now();
  event->Set();
  event->Reset();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(released, 3);
  EXPECT_LT(steady_clock::now() - start, kLate);
}

TYPED_TEST(ClockTest, SetWakesAWaiterAtOnce) {
  auto event = this->clock.MakeEvent();
  std::thread setter([&] {
    this->clock.Sleep(50);
    event->Set();
  });
  const auto start = steady_clock::now();
  EXPECT_TRUE(event->Wait(10000));
  EXPECT_LT(steady_clock::now() - start, kLate);
  setter.join();
}

}  // namespace
}  // namespace platform
