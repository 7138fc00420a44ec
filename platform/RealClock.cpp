#include "platform/RealClock.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class RealEvent final : public Event {
 public:
  explicit RealEvent(bool initiallySet) : set_(initiallySet) {}

  void Set() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      set_ = true;
      ++setCount_;
    }
    cv_.notify_all();
  }

  void Reset() override {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
  }

  bool Wait(std::uint32_t timeoutMs) override {
    std::unique_lock<std::mutex> lock(mutex_);
    // As with a Win32 manual-reset event, a Set releases everyone waiting at that moment even
    // if a Reset follows before they get to run.
    const std::uint64_t setCountAtStart = setCount_;
    auto released = [&] { return set_ || setCount_ != setCountAtStart; };
    if (timeoutMs == kInfinite) {
      cv_.wait(lock, released);
      return true;
    }
    return cv_.wait_until(lock, steady_clock::now() + milliseconds(timeoutMs), released);
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_;
  std::uint64_t setCount_ = 0;
};

}  // namespace

void RealClock::Sleep(std::uint32_t ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  if (ms == kInfinite) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  // A coarse OS timer can end sleep_for a little early (seen under Wine), so sleep on until the
  // monotonic clock agrees. The rest is slept in whole milliseconds: mingw's nanosleep drops a
  // fraction of a millisecond, and a remainder under one would return at once, over and over.
  const auto deadline = steady_clock::now() + milliseconds(ms);
  for (auto now = steady_clock::now(); now < deadline; now = steady_clock::now()) {
    std::this_thread::sleep_for(std::chrono::ceil<milliseconds>(deadline - now));
  }
}

std::uint32_t RealClock::TickCount() {
  const auto sinceStart = std::chrono::duration_cast<milliseconds>(steady_clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(sinceStart.count());
}

std::unique_ptr<Event> RealClock::MakeEvent(bool initiallySet) { return std::make_unique<RealEvent>(initiallySet); }

}  // namespace platform
