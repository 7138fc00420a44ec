#include "sim/Scheduler.h"

#include <optional>

namespace sim {

Scheduler::Scheduler(VirtualClock& clock) : clock_(clock) {
  thread_ = clock_.Spawn([this] { Run(); });
}

Scheduler::~Scheduler() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  clock_.Notify();
  thread_.join();
}

std::uint64_t Scheduler::At(std::uint64_t time, std::function<void()> callback) {
  std::uint64_t id;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
    queue_.emplace(std::make_pair(time, id), std::move(callback));
    changed_ = true;
  }
  clock_.Notify();  // outside our lock: the clock evaluates our predicate under its own
  return id;
}

std::uint64_t Scheduler::After(std::uint64_t delay, std::function<void()> callback) {
  return At(clock_.Now() + delay, std::move(callback));
}

void Scheduler::Cancel(std::uint64_t id) {
  std::lock_guard lock(mutex_);
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (it->first.second == id) {
      queue_.erase(it);
      return;
    }
  }
}

void Scheduler::Run() {
  for (;;) {
    std::optional<std::uint64_t> deadline;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      changed_ = false;
      if (!queue_.empty()) deadline = queue_.begin()->first.first;
    }
    // Wake when the earliest entry is due, or when the queue changed (an earlier entry may have
    // arrived), or on stop.
    clock_.WaitFor(
        [this] {
          std::lock_guard lock(mutex_);
          return stop_ || changed_;
        },
        deadline);
    for (;;) {
      std::function<void()> callback;
      const std::uint64_t now = clock_.Now();  // never ask the clock while holding our lock
      {
        std::lock_guard lock(mutex_);
        if (stop_) return;
        if (queue_.empty() || queue_.begin()->first.first > now) break;
        callback = std::move(queue_.begin()->second);
        queue_.erase(queue_.begin());
      }
      callback();
    }
  }
}

}  // namespace sim
