// Runs callbacks at given virtual times on a participant thread of its own: how the models act
// later (an acknowledgement 5 ms after a write, a played block completing, a timer firing).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "sim/VirtualClock.h"

namespace sim {

class Scheduler {
 public:
  explicit Scheduler(VirtualClock& clock);
  // Runs nothing more; callbacks still queued are dropped.
  ~Scheduler();
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // Callbacks due at the same time run in the order they were scheduled. A time in the past runs
  // at the next opportunity. Returns an id for Cancel.
  std::uint64_t At(std::uint64_t time, std::function<void()> callback);
  std::uint64_t After(std::uint64_t delay, std::function<void()> callback);
  void Cancel(std::uint64_t id);

 private:
  void Run();

  VirtualClock& clock_;
  std::mutex mutex_;
  // (time, id) -> callback; ids grow, so equal times keep their order.
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::function<void()>> queue_;
  std::uint64_t nextId_ = 1;
  bool changed_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace sim
