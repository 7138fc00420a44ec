// The handset link on real threads: the command sender, the device monitor, the key-activity
// thread and the user-interface thread that hands the handset's answers back, against a fake
// handset whose writes can fail or stall on command. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "bridge/handset/HandsetLink.h"
#include "platform/RealClock.h"
#include "tests/bridge/BridgeFakes.h"

namespace bridge::test {
namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t kVersionMajor = 0x01;
constexpr std::uint8_t kVersionMinor = 0x04;

// The rig's worker threads, each named on its own thread so a clock watch knows whose call it sees.
enum class Worker { None, Monitor, Sender, KeyActivity };
thread_local Worker tWorker = Worker::None;

// Runs `act` on a thread of its own and waits for it: another thread acting at the very moment a
// watched call is made.
void FromAnotherThread(const std::function<void()>& act) { std::thread(act).join(); }

// Real time whose sleeps end at once when the test is over, so worker threads that sleep for
// seconds can be joined without waiting them out. A watch sees every sleep and every reset and
// wait of the clock's events before the call goes on, on the calling thread.
class TestClock final : public platform::Clock {
 public:
  enum class Call { Sleep, Reset, Wait };
  using Watch = std::function<void(Worker, Call, const platform::Event*, std::uint32_t ms)>;

  void Sleep(std::uint32_t ms) override {
    Watched(Call::Sleep, nullptr, ms);
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms / divisor_), [&] { return over_; });
  }
  std::uint32_t TickCount() override { return real_.TickCount(); }
  std::unique_ptr<platform::Event> MakeEvent(bool initiallySet) override {
    return std::make_unique<WatchedEvent>(*this, real_.MakeEvent(initiallySet));
  }
  void SetWatch(Watch watch) {
    std::lock_guard lock(mutex_);
    watch_ = std::move(watch);
  }
  // Sleeps last a `divisor`th of their time: a five-second countdown in a quarter of a second.
  void ShortenSleeps(std::uint32_t divisor) { divisor_ = divisor; }
  void End() {
    {
      std::lock_guard lock(mutex_);
      over_ = true;
    }
    wake_.notify_all();
  }

 private:
  class WatchedEvent final : public platform::Event {
   public:
    WatchedEvent(TestClock& clock, std::unique_ptr<platform::Event> event) : clock_(clock), event_(std::move(event)) {}
    void Set() override { event_->Set(); }
    void Reset() override {
      clock_.Watched(Call::Reset, this, 0);
      event_->Reset();
    }
    bool Wait(std::uint32_t timeoutMs) override {
      clock_.Watched(Call::Wait, this, timeoutMs);
      return event_->Wait(timeoutMs);
    }

   private:
    TestClock& clock_;
    std::unique_ptr<platform::Event> event_;
  };

  void Watched(Call call, const platform::Event* event, std::uint32_t ms) {
    Watch watch;
    {
      std::lock_guard lock(mutex_);
      watch = watch_;
    }
    if (watch) watch(tWorker, call, event, ms);
  }

  platform::RealClock real_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool over_ = false;
  Watch watch_;
  std::atomic<std::uint32_t> divisor_{1};
};

// The link with its handset. The handset acknowledges every command and answers the version
// requests; its answers reach the link through a user-interface thread of the rig's own, as
// they would through the main window's message queue.
class LinkRig {
 public:
  LinkRig() : link_(HandsetLinkPorts{clock_, hid_, client_}, ring_, softphone_, Hooks()) {
    link_.CreateEvents();
    ring_.ringMode = RingMode::Silent;  // no ring-tone upload after the handshake unless a test asks
    hid_.onWrite = [this](const FakeHid::Report& report) { return Handset(report); };
    ui_ = std::jthread([this](std::stop_token stop) { UiThread(stop); });
  }

  ~LinkRig() {
    clock_.End();
    for (auto& worker : workers_) worker.request_stop();
    workers_.clear();
    ui_.request_stop();
    answers_.notify_all();
  }

  void StartMonitorAndSender() {
    Start(Worker::Monitor, &CHandsetLink::DeviceMonitorThread);
    Start(Worker::Sender, &CHandsetLink::CommandSenderThread);
  }
  void StartKeyActivity() { Start(Worker::KeyActivity, &CHandsetLink::KeyActivityThread); }

  // Waits until the handshake is over and the link connected the client.
  bool WaitUntilOpen() {
    return WaitFor([&] { return client_.Connects() > 0; }, 15s);
  }

  template <typename Predicate>
  static bool WaitFor(Predicate done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  // A handset write whose outcome a test decides; null: the handset behaves.
  std::function<bool(const FakeHid::Report&)> fault;
  std::atomic<int> uploadsAccepted{0};

  TestClock clock_;
  CHandsetLink link_;
  RingState ring_;
  SoftphoneState softphone_;
  FakeHid hid_;
  FakeClient client_;

 private:
  void Start(Worker worker, void (CHandsetLink::*body)(std::stop_token)) {
    workers_.emplace_back([this, worker, body](std::stop_token stop) {
      tWorker = worker;
      (link_.*body)(std::move(stop));
    });
  }

  HandsetLinkHooks Hooks() {
    HandsetLinkHooks hooks;
    hooks.ringUploadAccepted = [this] { ++uploadsAccepted; };
    return hooks;
  }

  bool Handset(const FakeHid::Report& report) {
    if (fault && !fault(report)) return false;
    const std::uint8_t code = report[2];
    if (code == 0x00) return true;  // a status report
    if (code == kHandsetVersionMajor) {
      Answer(kVersionMajor);
    } else if (code == kHandsetVersionMinor) {
      Answer(kVersionMinor);
    } else {
      Answer(kHandsetAck);
    }
    return true;
  }

  void Answer(std::uint8_t code) {
    {
      std::lock_guard lock(mutex_);
      pending_.push_back(code);
    }
    answers_.notify_one();
  }

  void UiThread(const std::stop_token& stop) {
    std::uint8_t sequence = 0;
    for (;;) {
      std::uint8_t code = 0;
      {
        std::unique_lock lock(mutex_);
        answers_.wait(lock, [&] { return stop.stop_requested() || !pending_.empty(); });
        if (stop.stop_requested()) return;
        code = pending_.front();
        pending_.pop_front();
      }
      if (++sequence == 100) ++sequence;  // 100 is taken for a repeat of the state at start
      const std::uint8_t bytes[platform::kHandsetReportLength] = {0x00, code, sequence, 0x42, 0, 0, 0};
      const auto packed = platform::PackReport(bytes);
      (void)link_.OnHandsetReport(packed.wParam, packed.lParam);
    }
  }

  std::mutex mutex_;
  std::condition_variable answers_;
  std::deque<std::uint8_t> pending_;
  std::vector<std::jthread> workers_;
  std::jthread ui_;
};

// Declared after the members it uses so the rig's threads stop before they are destroyed.
class HandsetLinkThreadTest : public ::testing::Test {
 protected:
  std::unique_ptr<LinkRig> rig_ = std::make_unique<LinkRig>();
};

TEST_F(HandsetLinkThreadTest, AnUploadNeverMixesTwoParameterSets) {
  auto& rig = *rig_;
  const auto toneA = *RingToneParameters(0);
  const auto toneB = *RingToneParameters(3);
  ASSERT_NE(toneA, toneB);
  rig.ring_.SelectRingTone(0);
  std::atomic<bool> done{false};
  // The user-interface thread and the device monitor both select tones while an upload runs.
  std::jthread chooser([&] {
    for (std::uint32_t n = 0; !done; ++n) {
      rig.ring_.SelectRingTone(n % 2 == 0 ? 3 : 0);
    }
  });
  constexpr int kUploads = 3000;
  for (int i = 0; i < kUploads; ++i) {
    ASSERT_TRUE(rig.link_.UploadRingParameters(rig.link_.BuildReport(kHandsetUploadRingTone), 0));
  }
  done = true;
  chooser.join();

  const auto codes = rig.hid_.Commands();
  ASSERT_EQ(codes.size(), kUploads * 10u);
  int mixed = 0;
  for (std::size_t at = 0; at < codes.size(); at += 10) {
    RingParameters sent{};
    for (std::size_t i = 0; i < sent.size(); ++i) {
      ASSERT_EQ(codes[at + 2 * i], 0x81 + i);
      sent[i] = codes[at + 2 * i + 1];
    }
    if (sent != toneA && sent != toneB) ++mixed;
  }
  EXPECT_EQ(mixed, 0) << "uploads that mixed the bytes of two ring tones";
}

TEST_F(HandsetLinkThreadTest, TheSenderRemovesOnlyTheEntryItSent) {
  auto& rig = *rig_;
  ASSERT_TRUE((rig.StartMonitorAndSender(), rig.WaitUntilOpen()));
  // The next command stalls in its write until the queue has been cleared and refilled, as a
  // version handshake does meanwhile.
  std::mutex stallMutex;
  std::condition_variable stallWake;
  bool stalled = false, released = false;
  rig.fault = [&](const FakeHid::Report& report) {
    if (report[2] != kHandsetTestCommand) return true;
    std::unique_lock lock(stallMutex);
    if (!stalled) {
      stalled = true;
      stallWake.notify_all();
      stallWake.wait(lock, [&] { return released; });
    }
    return true;
  };
  const auto before = rig.hid_.Commands().size();
  rig.link_.QueueHandsetCommand(kHandsetTestCommand);
  {
    std::unique_lock lock(stallMutex);
    ASSERT_TRUE(stallWake.wait_for(lock, 5s, [&] { return stalled; }));
  }
  rig.link_.ClearHandsetCommands();
  rig.link_.QueueHandsetCommand(kHandsetStopRing);
  rig.link_.QueueHandsetCommand(kHandsetRing);
  {
    std::lock_guard lock(stallMutex);
    released = true;
  }
  stallWake.notify_all();

  ASSERT_TRUE(LinkRig::WaitFor([&] { return rig.hid_.Commands().size() >= before + 3; }, 5s));
  std::this_thread::sleep_for(300ms);  // anything else the sender would still write
  const auto codes = rig.hid_.Commands();
  const std::vector<std::uint8_t> after(codes.begin() + static_cast<std::ptrdiff_t>(before), codes.end());
  EXPECT_EQ(after, (std::vector<std::uint8_t>{kHandsetTestCommand, kHandsetStopRing, kHandsetRing}));
}

TEST_F(HandsetLinkThreadTest, APassingWriteFailureDoesNotEndTheHandshake) {
  auto& rig = *rig_;
  // The first stop command of the handshake fails once; the handset is still there.
  std::atomic<bool> failed{false};
  rig.fault = [&](const FakeHid::Report& report) { return !(report[2] == kHandsetStopRing && !failed.exchange(true)); };
  rig.StartMonitorAndSender();
  ASSERT_TRUE(rig.WaitUntilOpen());
  ASSERT_TRUE(failed);
  // Two exchanges that gave the same bytes end the handshake, not the failed write. (The retried
  // stop command's acknowledgement may land in the first exchange and be taken for a version
  // byte; that exchange is then repeated.)
  const auto codes = rig.hid_.Commands();
  EXPECT_GE(std::count(codes.begin(), codes.end(), kHandsetVersionMajor), 2);
  const auto& state = rig.link_.State();
  EXPECT_EQ(state.firmwareMajor, kVersionMajor);
  EXPECT_EQ(state.firmwareMinor, kVersionMinor);
  EXPECT_TRUE(state.versionFirstReceived && state.versionSecondReceived);
}

TEST_F(HandsetLinkThreadTest, APassingWriteFailureInAnUploadRestartsThePair) {
  auto& rig = *rig_;
  rig.StartMonitorAndSender();
  ASSERT_TRUE(rig.WaitUntilOpen());
  rig.ring_.SelectRingTone(0);
  const auto tone = *RingToneParameters(0);
  // The tag of the second pair fails once.
  std::atomic<bool> failed{false};
  rig.fault = [&](const FakeHid::Report& report) { return !(report[2] == 0x82 && !failed.exchange(true)); };
  const auto before = rig.hid_.Commands().size();
  rig.link_.QueueHandsetCommand(kHandsetUploadRingTone);
  ASSERT_TRUE(LinkRig::WaitFor([&] { return rig.uploadsAccepted > 0; }, 5s));
  const auto codes = rig.hid_.Commands();
  const std::vector<std::uint8_t> after(codes.begin() + static_cast<std::ptrdiff_t>(before), codes.end());
  EXPECT_EQ(after, (std::vector<std::uint8_t>{0x81, tone[0], 0x82, kHandsetStopRing, 0x82, tone[1], 0x83, tone[2], 0x84,
                                              tone[3], 0x85, tone[4]}));
}

// The sender waits on an event while nothing is queued. A code queued at the very moment it goes
// to wait, or just before it looks at its queue, must still be sent: a lost wake-up would leave it
// lying in the queue until the next code. At rest the sender makes no call at all.
TEST_F(HandsetLinkThreadTest, ACodeQueuedAsTheSenderLooksOrGoesToWaitIsSentAtOnce) {
  auto& rig = *rig_;
  struct Watch {
    std::atomic<const platform::Event*> idle{nullptr};  // the event the sender waits on for ever
    std::atomic<int> idleCalls{0};
    std::atomic<std::uint8_t> queueAtWait{0};  // a code queued from another thread, once
    std::atomic<std::uint8_t> queueAtReset{0};
    std::atomic<std::size_t> resetAfterWrites{SIZE_MAX};  // ... once this many codes are written
  };
  const auto watch = std::make_shared<Watch>();
  const auto queue = [&rig](std::uint8_t code) { FromAnotherThread([&] { rig.link_.QueueHandsetCommand(code); }); };
  rig.clock_.SetWatch(
      [watch, queue, &rig](Worker worker, TestClock::Call call, const platform::Event* event, std::uint32_t ms) {
        if (worker != Worker::Sender || call == TestClock::Call::Sleep) return;
        if (call == TestClock::Call::Wait && ms == platform::kInfinite) watch->idle = event;
        if (event != watch->idle) return;  // the acknowledgement event
        ++watch->idleCalls;
        if (call == TestClock::Call::Wait) {
          if (const auto code = watch->queueAtWait.exchange(0)) queue(code);
        } else if (rig.hid_.Commands().size() >= watch->resetAfterWrites) {
          if (const auto code = watch->queueAtReset.exchange(0)) queue(code);
        }
      });
  rig.StartMonitorAndSender();
  ASSERT_TRUE(rig.WaitUntilOpen());
  const auto sentSince = [&](std::size_t from) {
    const auto codes = rig.hid_.Commands();
    std::vector<std::uint8_t> after(codes.begin() + static_cast<std::ptrdiff_t>(from), codes.end());
    std::sort(after.begin(), after.end());
    return after;
  };

  // As it goes to wait once the ring command is sent (or after the handshake's last code).
  auto before = rig.hid_.Commands().size();
  watch->queueAtWait = kHandsetTestCommand;
  rig.link_.QueueHandsetCommand(kHandsetRing);
  EXPECT_TRUE(LinkRig::WaitFor([&] { return rig.hid_.Commands().size() >= before + 2; }, 3s));
  EXPECT_EQ(watch->queueAtWait, 0);
  EXPECT_EQ(sentSince(before), (std::vector<std::uint8_t>{kHandsetTestCommand, kHandsetRing}));

  // Just before the look that would have found the queue empty after the stop command.
  before = rig.hid_.Commands().size();
  watch->resetAfterWrites = before + 1;
  watch->queueAtReset = kHandsetRingSilent;
  rig.link_.QueueHandsetCommand(kHandsetStopRing);
  EXPECT_TRUE(LinkRig::WaitFor([&] { return rig.hid_.Commands().size() >= before + 2; }, 3s));
  EXPECT_EQ(watch->queueAtReset, 0);
  EXPECT_EQ(sentSince(before), (std::vector<std::uint8_t>{kHandsetRingSilent, kHandsetStopRing}));

  std::this_thread::sleep_for(400ms);  // the last acknowledgement's wait and the pause after it
  const int calls = watch->idleCalls;
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(watch->idleCalls, calls) << "the sender kept looking with nothing queued";
}

// The key-activity thread waits on an event until a key marks activity. A key marked at the very
// moment it looks for activity, or goes to wait, starts the countdown at once: the status report
// with the key-activity bit, five one-second steps and the report without it. A key in the second
// step of a countdown sets it back to five. Any other sleep would count as a step.
TEST_F(HandsetLinkThreadTest, KeyActivityMarkedAsTheThreadLooksOrGoesToWaitStartsTheCountdown) {
  auto& rig = *rig_;
  struct Watch {
    std::atomic<int> resets{0};
    std::atomic<int> waits{0};
    std::atomic<int> steps{0};
    std::mutex mutex;
    std::vector<std::uint8_t> statuses;  // byte 3 of every status report
  };
  const auto watch = std::make_shared<Watch>();
  rig.clock_.ShortenSleeps(50);
  rig.fault = [watch](const FakeHid::Report& report) {
    if (report[2] == 0x00) {
      std::lock_guard lock(watch->mutex);
      watch->statuses.push_back(report[3]);
    }
    return true;
  };
  rig.clock_.SetWatch([watch, &rig](Worker worker, TestClock::Call call, const platform::Event*, std::uint32_t ms) {
    if (worker != Worker::KeyActivity) return;
    // Before its first look; as it goes to wait after the first countdown; in the second step of
    // the second countdown (the seventh step in all).
    const bool mark = (call == TestClock::Call::Reset && ++watch->resets == 1) ||
                      (call == TestClock::Call::Wait && ms == platform::kInfinite && ++watch->waits == 1) ||
                      (call == TestClock::Call::Sleep && ++watch->steps == 7);
    if (mark) FromAnotherThread([&] { rig.link_.MarkKeyActivity(); });
  });
  const auto statuses = [&] {
    std::lock_guard lock(watch->mutex);
    return watch->statuses;
  };
  rig.StartKeyActivity();
  EXPECT_TRUE(LinkRig::WaitFor([&] { return statuses().size() >= 4; }, 3s)) << "a countdown never started";
  std::this_thread::sleep_for(100ms);  // anything else it would write
  EXPECT_EQ(statuses(), (std::vector<std::uint8_t>{0x43, 0x42, 0x43, 0x42}));
  EXPECT_EQ(watch->steps, 5 + 2 + 5);
  EXPECT_FALSE(rig.link_.State().keyActivityOn);
}

}  // namespace
}  // namespace bridge::test
