// What the stress runs share: a clock whose milliseconds pass twenty times faster than the
// machine's and whose waits all end once a run is over, a record of where each thread stands in
// time (so a thread that stops coming back to its waits is named), the threads themselves, the
// user-interface thread's message queue, seeded random choices and the run's counts.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"

namespace stress {

using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Program milliseconds per real millisecond.
inline constexpr std::uint32_t kScale = 20;

// The real time `ms` program milliseconds take.
inline Steady::duration Scaled(std::uint32_t ms) {
  return std::chrono::microseconds(std::uint64_t{ms} * 1000 / kScale);
}

inline long Millis(Steady::duration d) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// Where one thread stands: inside a wait that may last `allowed` (none: for ever), or running
// since its last wait ended.
class Progress {
 public:
  explicit Progress(std::string name) : name_(std::move(name)) {}

  void Enter(std::optional<Steady::duration> allowed) {
    std::lock_guard lock(mutex_);
    inside_ = true;
    allowed_ = allowed;
    since_ = Steady::now();
  }
  void Leave() {
    std::lock_guard lock(mutex_);
    inside_ = false;
    since_ = Steady::now();
  }
  void Finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  bool Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }
  const std::string& Name() const { return name_; }
  // When the wait for ever the thread is in began; nothing when it is not in one.
  std::optional<Steady::time_point> RestingSince() const {
    std::lock_guard lock(mutex_);
    if (!inside_ || allowed_ || finished_) return std::nullopt;
    return since_;
  }

  // What is wrong when the thread has run without waiting, or waited past its time, for longer
  // than `slack`.
  std::optional<std::string> Stuck(Steady::duration slack) const {
    std::lock_guard lock(mutex_);
    const auto spent = Steady::now() - since_;
    if (finished_ || (inside_ && !allowed_)) return std::nullopt;
    if (inside_ && spent > *allowed_ + slack) {
      return name_ + " is still in a wait of " + std::to_string(Millis(*allowed_)) + " ms after " +
             std::to_string(Millis(spent)) + " ms";
    }
    if (!inside_ && spent > slack)
      return name_ + " has not come back to a wait for " + std::to_string(Millis(spent)) + " ms";
    return std::nullopt;
  }

 private:
  const std::string name_;
  mutable std::mutex mutex_;
  bool inside_ = false, finished_ = false;
  std::optional<Steady::duration> allowed_;
  Steady::time_point since_ = Steady::now();
};

inline thread_local Progress* tlsProgress = nullptr;

// The calling thread waits for the scope's life.
class WaitScope {
 public:
  explicit WaitScope(std::optional<Steady::duration> allowed) {
    if (tlsProgress) tlsProgress->Enter(allowed);
  }
  ~WaitScope() {
    if (tlsProgress) tlsProgress->Leave();
  }
  WaitScope(const WaitScope&) = delete;
  WaitScope& operator=(const WaitScope&) = delete;
};

// A pause of up to 500 µs before every reset of an event, so that a Set from another thread lands
// more often between a thread's last test and its reset (the window a lost wake-up hides in).
inline void Jitter() {
  thread_local std::minstd_rand random(static_cast<unsigned>(std::hash<std::thread::id>{}(std::this_thread::get_id())));
  std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
}

// A test thread's own pause, counted as a wait.
inline void Nap(Steady::duration d) {
  WaitScope scope(d);
  std::this_thread::sleep_for(d);
}

// platform::Clock on real time scaled by kScale, starting at `startTick` (near the wrap, so the
// tick wraps early in a run). Once End is called every sleep and every timed wait ends at once;
// waits for ever still wait for their event.
class ScaledClock final : public platform::Clock {
 public:
  explicit ScaledClock(std::uint32_t startTick) : startTick_(startTick) {}

  void Sleep(std::uint32_t ms) override {
    if (ms == 0) return std::this_thread::yield();
    const bool forever = ms == platform::kInfinite;
    WaitScope scope(forever ? std::nullopt : std::optional(Scaled(ms)));
    std::unique_lock lock(core_->mutex);
    const auto over = [&] { return core_->over; };
    if (forever) {
      core_->sleepers.wait(lock, over);
    } else {
      core_->sleepers.wait_for(lock, Scaled(ms), over);
    }
  }
  std::uint32_t TickCount() override {
    const auto real = std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - start_).count();
    return startTick_ + static_cast<std::uint32_t>(real * kScale / 1000);
  }
  std::unique_ptr<platform::Event> MakeEvent(bool initiallySet) override {
    return std::make_unique<Event>(core_, initiallySet);
  }
  void End() {
    {
      std::lock_guard lock(core_->mutex);
      core_->over = true;
    }
    core_->sleepers.notify_all();
    core_->signals.notify_all();
  }

 private:
  struct Core {
    std::mutex mutex;
    std::condition_variable sleepers, signals;
    bool over = false;
  };
  // A manual-reset event; as with Win32's, a Set releases every thread waiting at that moment
  // even when a Reset follows before they run.
  class Event final : public platform::Event {
   public:
    Event(std::shared_ptr<Core> core, bool set) : core_(std::move(core)), set_(set) {}
    void Set() override {
      {
        std::lock_guard lock(core_->mutex);
        set_ = true;
        ++sets_;
      }
      core_->signals.notify_all();
    }
    void Reset() override {
      Jitter();
      std::lock_guard lock(core_->mutex);
      set_ = false;
    }
    bool Wait(std::uint32_t ms) override {
      const bool forever = ms == platform::kInfinite;
      WaitScope scope(forever ? std::nullopt : std::optional(Scaled(ms)));
      std::unique_lock lock(core_->mutex);
      const std::uint64_t setsAtStart = sets_;
      const auto released = [&] { return set_ || sets_ != setsAtStart; };
      if (forever) {
        core_->signals.wait(lock, released);
      } else {
        core_->signals.wait_for(lock, Scaled(ms), [&] { return released() || core_->over; });
      }
      return released();
    }

   private:
    const std::shared_ptr<Core> core_;
    bool set_;
    std::uint64_t sets_ = 0;
  };

  const std::shared_ptr<Core> core_ = std::make_shared<Core>();
  const Steady::time_point start_ = Steady::now();
  const std::uint32_t startTick_;
};

// Every thread of a run, each with its progress record.
class Threads {
 public:
  ~Threads() { RequestStop(); }

  // Safe from any thread: watchers are started by the manager's main window.
  Progress* Start(std::string name, std::function<void(std::stop_token)> body) {
    std::lock_guard lock(mutex_);
    Progress* progress = progress_.emplace_back(std::make_unique<Progress>(std::move(name))).get();
    threads_.emplace_back([progress, body = std::move(body)](std::stop_token stop) {
      tlsProgress = progress;
      body(stop);
      progress->Finish();
    });
    return progress;
  }
  void RequestStop() {
    std::lock_guard lock(mutex_);
    for (auto& thread : threads_) thread.request_stop();
  }
  std::vector<std::string> Stuck(Steady::duration slack) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> stuck;
    for (const auto& progress : progress_) {
      if (auto what = progress->Stuck(slack)) stuck.push_back(*what);
    }
    return stuck;
  }
  // Joins every thread. One that has not ended within `limit` cannot be joined: it is named and
  // the run ends here rather than hanging until the test's time-out.
  void JoinWithin(Steady::duration limit) {
    const auto start = Steady::now(), deadline = start + limit;
    bool named = false;
    for (;;) {
      std::vector<std::string> running;
      {
        std::lock_guard lock(mutex_);
        for (const auto& progress : progress_) {
          if (!progress->Finished()) running.push_back(progress->Name());
        }
      }
      if (running.empty()) break;
      if (!named && Steady::now() > start + 1s) {
        named = true;
        for (const auto& name : running)
          std::fprintf(stderr, "stress: %s still running 1 s after the stop\n", name.c_str());
      }
      if (Steady::now() > deadline) {
        for (const auto& name : running) std::fprintf(stderr, "stress: %s did not end at shutdown\n", name.c_str());
        std::abort();
      }
      std::this_thread::sleep_for(2ms);
    }
    std::lock_guard lock(mutex_);
    threads_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::deque<std::unique_ptr<Progress>> progress_;
  std::deque<std::jthread> threads_;
};

// A window message as the user-interface thread takes it; `keep` holds what it points at until
// it has been handled, as the client library's records must stay valid.
struct Message {
  std::uint32_t msg = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
  std::shared_ptr<const void> keep;
};

class MessageQueue {
 public:
  void Post(Message message) {
    {
      std::lock_guard lock(mutex_);
      messages_.push_back(std::move(message));
    }
    wake_.notify_one();
  }
  std::optional<Message> Take(Steady::duration wait) {
    WaitScope scope(wait);
    std::unique_lock lock(mutex_);
    if (!wake_.wait_for(lock, wait, [&] { return !messages_.empty(); })) return std::nullopt;
    Message message = std::move(messages_.front());
    messages_.pop_front();
    return message;
  }
  bool Empty() const {
    std::lock_guard lock(mutex_);
    return messages_.empty();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Message> messages_;
};

// Random choices of one thread or one lock's holder.
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  bool Chance(double p) { return std::bernoulli_distribution(p)(engine_); }
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }

 private:
  std::mt19937_64 engine_;
};

// Named counts of a run, printed at its end.
class Tally {
 public:
  void Add(const std::string& name, long n = 1) {
    std::lock_guard lock(mutex_);
    counts_[name] += n;
  }
  void Print(const char* title) const {
    std::lock_guard lock(mutex_);
    std::printf("%s:", title);
    for (const auto& [name, n] : counts_) std::printf(" %s=%ld", name.c_str(), n);
    std::printf("\n");
    std::fflush(stdout);
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, long> counts_;
};

// The seed of a run: TELIOX_STRESS_SEED, or a fresh one.
inline std::uint64_t StressSeed() {
  if (const char* text = std::getenv("TELIOX_STRESS_SEED")) return std::strtoull(text, nullptr, 0);
  return (std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}();
}

// Seconds of random faults per test: TELIOX_STRESS_SECONDS, default `fallback`.
inline int StressSeconds(int fallback) {
  const char* text = std::getenv("TELIOX_STRESS_SECONDS");
  const int seconds = text ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : fallback;
}

// Polls `done` every 2 ms for at most `limit`.
template <typename Predicate>
bool WaitFor(Predicate done, Steady::duration limit) {
  const auto end = Steady::now() + limit;
  while (!done()) {
    if (Steady::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

}  // namespace stress
