#include "sim/RealTimePacer.h"

namespace sim {

RealTimePacer::RealTimePacer(VirtualClock& clock) : clock_(clock) {}

RealTimePacer::~RealTimePacer() { Stop(); }

void RealTimePacer::Start() {
  std::lock_guard life(lifeMutex_);
  if (thread_.joinable()) return;
  {
    std::lock_guard wake(wakeMutex_);
    stop_ = false;
    watcherStop_ = false;
    poked_ = false;
  }
  {
    std::lock_guard advance(advanceMutex_);
    running_ = true;
    origin_ = clock_.Now();
    start_ = std::chrono::steady_clock::now();
  }
  watcher_ = clock_.Spawn([this] { Watch(); });
  thread_ = std::thread([this] { Run(); });
}

void RealTimePacer::Stop() {
  std::lock_guard life(lifeMutex_);
  {
    std::lock_guard wake(wakeMutex_);
    stop_ = true;
    watcherStop_ = true;
  }
  wakeCv_.notify_all();
  {
    // Waits for an advance in progress, on the thread or in a CatchUp; none starts after this.
    std::lock_guard advance(advanceMutex_);
    running_ = false;
  }
  if (thread_.joinable()) thread_.join();
  if (watcher_.joinable()) {
    clock_.Notify();  // the watcher's predicate now says stop
    watcher_.join();
  }
}

bool RealTimePacer::Running() const {
  std::lock_guard life(lifeMutex_);
  return thread_.joinable();
}

void RealTimePacer::CatchUp() {
  {
    std::lock_guard advance(advanceMutex_);
    if (!running_) return;
    AdvanceLocked();
  }
  // What fell due may have set new deadlines; tell the pacing thread only when they differ.
  const auto next = clock_.NextDeadline();
  std::lock_guard wake(wakeMutex_);
  if (next == waitingFor_) return;
  poked_ = true;
  wakeCv_.notify_one();
}

void RealTimePacer::Poke() { Wake(); }

std::uint64_t RealTimePacer::Advances() const {
  std::lock_guard wake(wakeMutex_);
  return advances_;
}

void RealTimePacer::Wake() {
  std::lock_guard wake(wakeMutex_);
  poked_ = true;
  wakeCv_.notify_one();
}

void RealTimePacer::AdvanceLocked() {
  if (!running_) return;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
  clock_.AdvanceTo(origin_ + static_cast<std::uint64_t>(elapsed.count()));
}

void RealTimePacer::Watch() {
  // Called under the clock's lock on every Notify: only flags the pacing thread.
  clock_.WaitFor([this] {
    std::lock_guard wake(wakeMutex_);
    poked_ = true;
    wakeCv_.notify_one();
    return watcherStop_;
  });
}

void RealTimePacer::Run() {
  std::uint64_t origin;
  std::chrono::steady_clock::time_point start;
  {
    std::lock_guard advance(advanceMutex_);
    origin = origin_;
    start = start_;
  }
  for (;;) {
    {
      // Cleared before the advance: a Notify from now on is seen below, and one before it woke
      // participants that the advance waits for, so their new deadlines are in place.
      std::lock_guard wake(wakeMutex_);
      if (stop_) return;
      poked_ = false;
      ++advances_;
    }
    {
      std::lock_guard advance(advanceMutex_);
      AdvanceLocked();
    }
    const auto next = clock_.NextDeadline();
    std::unique_lock wake(wakeMutex_);
    waitingFor_ = next;
    const auto due = [this] { return stop_ || poked_; };
    if (next) {
      const auto at = start + std::chrono::milliseconds(*next > origin ? *next - origin : 0);
      wakeCv_.wait_until(wake, at, due);
    } else {
      wakeCv_.wait(wake, due);
    }
    waitingFor_.reset();
  }
}

}  // namespace sim
