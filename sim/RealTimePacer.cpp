#include "sim/RealTimePacer.h"

namespace sim {

RealTimePacer::RealTimePacer(VirtualClock& clock, std::chrono::milliseconds step)
    : clock_(clock), step_(step.count() > 0 ? step : std::chrono::milliseconds(1)) {}

RealTimePacer::~RealTimePacer() { Stop(); }

void RealTimePacer::Start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  stop_ = false;
  {
    std::lock_guard advance(advanceMutex_);
    running_ = true;
    origin_ = clock_.Now();
    start_ = std::chrono::steady_clock::now();
  }
  thread_ = std::thread([this] { Run(); });
}

void RealTimePacer::Stop() {
  std::thread thread;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    thread = std::move(thread_);
  }
  stopCv_.notify_all();
  {
    // Waits for an advance in progress, on the thread or in a CatchUp; none starts after this.
    std::lock_guard advance(advanceMutex_);
    running_ = false;
  }
  if (thread.joinable()) thread.join();
}

bool RealTimePacer::Running() const {
  std::lock_guard lock(mutex_);
  return thread_.joinable();
}

void RealTimePacer::CatchUp() {
  std::lock_guard advance(advanceMutex_);
  AdvanceLocked();
}

void RealTimePacer::AdvanceLocked() {
  if (!running_) return;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
  clock_.AdvanceTo(origin_ + static_cast<std::uint64_t>(elapsed.count()));
}

void RealTimePacer::Run() {
  auto next = std::chrono::steady_clock::now();
  for (;;) {
    {
      std::lock_guard advance(advanceMutex_);
      AdvanceLocked();
    }
    // Aim at a fixed grid rather than "step after this advance", so a slow advance does not
    // make the next one later still; after a long stall, start the grid afresh.
    next += step_;
    const auto now = std::chrono::steady_clock::now();
    if (next < now) next = now;
    std::unique_lock lock(mutex_);
    if (stopCv_.wait_until(lock, next, [this] { return stop_; })) return;
  }
}

}  // namespace sim
