#include "sim/VirtualClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {
namespace {

using Participant = VirtualClock::Participant;

// Scheduler faults show up as hangs: turn one into a named failure instead of a stuck run.
class Watchdog {
 public:
  Watchdog() : testName_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {
    thread_ = std::thread([this] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!cv_.wait_for(lock, std::chrono::seconds(60), [this] { return done_; })) {
        std::fprintf(stderr, "%s hung\n", testName_.c_str());
        std::abort();
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }

 private:
  std::string testName_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

// "who@time" entries for the logs below.
std::string At(std::string who, std::uint64_t now) {
  who += '@';
  who += std::to_string(now);
  return who;
}

class VirtualClockTest : public ::testing::Test {
 protected:
  static void JoinAll(std::vector<std::thread>& threads) {
    for (std::thread& thread : threads) thread.join();
  }

  Watchdog watchdog_;
};

TEST_F(VirtualClockTest, LongSleepsAndTimedWaitsCostNoWallTimeAndLandOnExactInstants) {
  const auto wallStart = std::chrono::steady_clock::now();
  VirtualClock clock;
  auto event = clock.MakeEvent();
  std::vector<std::uint64_t> sleeperWoke;
  bool waitResult = true;
  std::uint64_t waiterDone = 0;
  std::uint64_t setterActed = 0;
  std::vector<std::thread> threads;
  {
    Participant starter(clock);  // all three start at virtual 0
    threads.push_back(clock.Spawn([&] {
      for (int i = 0; i < 3; ++i) {
        clock.Sleep(5000);
        sleeperWoke.push_back(clock.Now());
      }
    }));
    threads.push_back(clock.Spawn([&] {
      waitResult = event->Wait(200);
      waiterDone = clock.Now();
    }));
    threads.push_back(clock.Spawn([&] {
      clock.Sleep(300);
      event->Set();
      setterActed = clock.Now();
    }));
  }
  JoinAll(threads);

  EXPECT_LT(std::chrono::steady_clock::now() - wallStart, std::chrono::milliseconds(100));
  EXPECT_EQ(sleeperWoke, (std::vector<std::uint64_t>{5000, 10000, 15000}));
  EXPECT_FALSE(waitResult);
  EXPECT_EQ(waiterDone, 200u);
  EXPECT_EQ(setterActed, 300u);
  EXPECT_EQ(clock.Now(), 15000u);
}

TEST_F(VirtualClockTest, SetReleasesEveryWaiterAtTheSettingInstantAndStaysSet) {
  VirtualClock clock;
  auto event = clock.MakeEvent();
  std::vector<std::pair<bool, std::uint64_t>> results(2);
  std::vector<std::thread> threads;
  {
    Participant starter(clock);
    threads.push_back(clock.Spawn([&] { results[0] = {event->Wait(1000), clock.Now()}; }));
    threads.push_back(clock.Spawn([&] { results[1] = {event->Wait(platform::kInfinite), clock.Now()}; }));
    threads.push_back(clock.Spawn([&] {
      clock.Sleep(250);
      event->Set();
    }));
  }
  JoinAll(threads);
  EXPECT_EQ(results[0], std::make_pair(true, std::uint64_t{250}));
  EXPECT_EQ(results[1], std::make_pair(true, std::uint64_t{250}));

  // Manual reset: every later wait passes at once until Reset.
  EXPECT_TRUE(event->Wait(0));
  EXPECT_TRUE(event->Wait(5000));
  event->Reset();
  EXPECT_FALSE(event->Wait(0));
  EXPECT_EQ(clock.Now(), 250u);
  EXPECT_TRUE(clock.MakeEvent(true)->Wait(0));
}

TEST_F(VirtualClockTest, PollsNeitherAdvanceTimeNorGiveUpTheBatonButSleepZeroYields) {
  VirtualClock clock;
  auto event = clock.MakeEvent();
  std::vector<std::string> log;
  std::vector<std::thread> threads;
  {
    Participant starter(clock);
    threads.push_back(clock.Spawn([&] {
      clock.Sleep(10);
      log.push_back(At(event->Wait(0) ? "set" : "unset", clock.Now()));
      log.push_back(At("again", clock.Now()));
      clock.Sleep(0);
      log.push_back(At("after yield", clock.Now()));
    }));
    threads.push_back(clock.Spawn([&] {
      clock.Sleep(10);
      log.push_back(At("other", clock.Now()));
    }));
  }
  JoinAll(threads);
  EXPECT_EQ(log, (std::vector<std::string>{"unset@10", "again@10", "other@10", "after yield@10"}));
}

TEST_F(VirtualClockTest, TickCountWrapsAcrossZeroAndOutsideCallersTakePartForTheCall) {
  VirtualClock clock({.startTick = 0xFFFFFF00u});
  const std::uint32_t start = clock.TickCount();
  EXPECT_EQ(start, 0xFFFFFF00u);

  clock.Sleep(0x180);  // this thread is no participant: it becomes one for the call
  EXPECT_EQ(clock.TickCount(), 0x80u);
  EXPECT_EQ(platform::TicksSince(clock.TickCount(), start), 0x180u);

  auto event = clock.MakeEvent();
  EXPECT_FALSE(event->Wait(100));
  clock.AdvanceBy(20);
  EXPECT_EQ(platform::TicksSince(clock.TickCount(), start), 0x180u + 120u);
  EXPECT_EQ(clock.Now(), 0x180u + 120u);
}

TEST_F(VirtualClockTest, ManualModeMovesOnlyWhenAdvancedAndStopsAtEachDeadlineInOrder) {
  VirtualClock clock({.autoAdvance = false});
  auto event = clock.MakeEvent();
  std::vector<std::string> log;
  auto note = [&](const char* who) { log.push_back(At(who, clock.Now())); };
  std::vector<std::thread> threads;
  threads.push_back(clock.Spawn([&] {
    clock.Sleep(100);
    note("A");
    clock.Sleep(100);
    note("A");
  }));
  threads.push_back(clock.Spawn([&] {
    clock.Sleep(150);
    note("B");
  }));
  threads.push_back(clock.Spawn([&] {
    event->Wait(platform::kInfinite);
    note("C");
  }));

  clock.RunUntilIdle();
  EXPECT_EQ(clock.Now(), 0u);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(clock.NextDeadline(), 100u);

  clock.AdvanceTo(120);
  EXPECT_EQ(log, (std::vector<std::string>{"A@100"}));
  EXPECT_EQ(clock.Now(), 120u);

  event->Set();  // from outside, while everyone is blocked
  clock.RunUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"A@100", "C@120"}));

  clock.AdvanceBy(880);
  EXPECT_EQ(log, (std::vector<std::string>{"A@100", "C@120", "B@150", "A@200"}));
  EXPECT_EQ(clock.Now(), 1000u);
  EXPECT_EQ(clock.NextDeadline(), std::nullopt);
  JoinAll(threads);
}

TEST_F(VirtualClockTest, SameInstantEffectsFollowBlockOrderOnEveryRun) {
  // Due waiters run in the order they blocked; Sleep(0) goes to the back of the queue; Set
  // keeps the setter running and queues the released waiter behind those already due.
  const std::vector<std::string> expected = {"A@0",  "B@0",  "C@0",  "D@0",  "D@0",  "B@10", "A@20",
                                             "C@20", "B@20", "E@40", "A@40", "C@40", "D@40"};
  for (int run = 0; run < 20; ++run) {
    VirtualClock clock;
    auto event = clock.MakeEvent();
    std::vector<std::string> log;
    auto note = [&](const char* who) { log.push_back(At(who, clock.Now())); };
    auto periodic = [&](const char* who, std::uint32_t period) {
      return [&, who, period] {
        for (int i = 0; i < 3; ++i) {
          note(who);
          clock.Sleep(period);
        }
      };
    };
    std::vector<std::thread> threads;
    {
      Participant starter(clock);
      threads.push_back(clock.Spawn(periodic("A", 20)));
      threads.push_back(clock.Spawn(periodic("B", 10)));
      threads.push_back(clock.Spawn(periodic("C", 20)));
      threads.push_back(clock.Spawn([&] {
        note("D");
        clock.Sleep(0);
        note("D");
        event->Wait(platform::kInfinite);
        note("D");
      }));
      threads.push_back(clock.Spawn([&] {
        clock.Sleep(40);
        event->Set();
        note("E");
      }));
    }
    JoinAll(threads);
    ASSERT_EQ(log, expected) << "run " << run;
  }
}

TEST_F(VirtualClockTest, FinishedThreadsNoLongerHoldTimeBack) {
  VirtualClock clock;
  std::uint64_t wokeAt = 0;
  std::vector<std::thread> threads;
  {
    Participant starter(clock);
    threads.push_back(clock.Spawn([] {}));
    threads.push_back(clock.Spawn([&] { clock.Sleep(10); }));
    threads.push_back(clock.Spawn([&] {
      clock.Sleep(500);
      wokeAt = clock.Now();
    }));
  }
  clock.RunUntilIdle();  // auto mode: returns once nothing is left to happen
  EXPECT_EQ(wokeAt, 500u);
  EXPECT_EQ(clock.Now(), 500u);
  JoinAll(threads);
}

TEST_F(VirtualClockTest, WaitForWakesOnNotifyOnceReadyAndTimesOutAtItsDeadline) {
  VirtualClock clock;
  std::mutex queueMutex;  // the message queue's own lock, never held while calling the clock
  std::deque<int> queue;
  auto hasMessage = [&] {
    std::lock_guard<std::mutex> lock(queueMutex);
    return !queue.empty();
  };
  auto post = [&](int message) {
    {
      std::lock_guard<std::mutex> lock(queueMutex);
      queue.push_back(message);
    }
    clock.Notify();
  };
  std::vector<std::string> log;
  auto note = [&](bool ready) { log.push_back(At(ready ? "ready" : "timeout", clock.Now())); };

  std::vector<std::thread> threads;
  {
    Participant starter(clock);
    threads.push_back(clock.Spawn([&] {
      note(clock.WaitFor(hasMessage, 1000));
      {
        std::lock_guard<std::mutex> lock(queueMutex);
        queue.pop_front();
      }
      note(clock.WaitFor(hasMessage, clock.Now() + 700));
      note(clock.WaitFor(hasMessage));
    }));
    threads.push_back(clock.Spawn([&] {
      clock.Sleep(100);
      clock.Notify();  // nothing posted: the consumer must stay put
      clock.Sleep(200);
      post(1);
    }));
  }
  clock.RunUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"ready@300", "timeout@1000"}));

  post(2);  // from outside the simulation
  JoinAll(threads);
  EXPECT_EQ(log, (std::vector<std::string>{"ready@300", "timeout@1000", "ready@1000"}));
}

}  // namespace
}  // namespace sim
