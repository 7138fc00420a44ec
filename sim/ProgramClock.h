// One simulated program's view of the virtual clock. Sleeps, ticks and events behave exactly as
// the VirtualClock's, until the program is killed: from then on every blocking call (Sleep, a
// blocking Event::Wait) throws ProcessEnded, at once if the thread is already blocked there, so a
// thread of an ended program unwinds wherever it stands, as a real process ends with its threads.
//
// ProcessEnded is the simulation's stand-in for process termination. It is thrown only on the
// threads of a killed program and caught at the top of those threads (SimUi starts them); it
// never reaches production code as something to handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/Clock.h"
#include "sim/VirtualClock.h"

namespace sim {

// Thrown on a killed program's threads from their blocking points.
struct ProcessEnded {};

class ProgramClock final : public platform::Clock {
 public:
  explicit ProgramClock(VirtualClock& clock) : clock_(clock) {}
  ProgramClock(const ProgramClock&) = delete;
  ProgramClock& operator=(const ProgramClock&) = delete;

  // platform::Clock. Sleep(0) yields as the virtual clock's does; Sleep(kInfinite) blocks until
  // the program is killed. Events are manual-reset: Set releases every waiter, even if Reset
  // follows before they run, and a time-out returns false at exactly its deadline.
  void Sleep(std::uint32_t ms) override;
  std::uint32_t TickCount() override;
  std::unique_ptr<platform::Event> MakeEvent(bool initiallySet = false) override;

  // Ends the program's time: wakes every thread blocked here and makes every later blocking
  // call throw. Any thread; idempotent.
  void Kill();
  bool Killed() const { return killed_.load(); }

  // A blocking point like VirtualClock::WaitFor that throws ProcessEnded once killed.
  bool WaitFor(const std::function<bool()>& ready, std::optional<std::uint64_t> deadline = std::nullopt);

  VirtualClock& Virtual() { return clock_; }

 private:
  class EventImpl;
  void ThrowIfKilled() const;

  VirtualClock& clock_;
  std::atomic<bool> killed_{false};
};

}  // namespace sim
