// Virtual clock: deterministic time for unit tests and the scenario runner.
//
// Threads that take part ("participants") run one at a time. The one holding the baton runs; the
// others are either runnable, waiting their turn in a FIFO run queue, or blocked in a clock call
// (Sleep, Event::Wait, WaitFor). A participant gives up the baton only when it blocks or ends, so
// the order of effects at one instant depends only on the thread bodies, never on the OS.
//
// When the baton is free and nobody is runnable, every participant is blocked. In auto-advance
// mode time then jumps to the earliest deadline and the waiters due then become runnable in the
// order (deadline, order they blocked). In manual mode time moves only through AdvanceTo/AdvanceBy.
// If no blocked participant has a deadline, nothing happens until an outside Set or Notify.
//
// Rules for code running on it:
// - A participant must not block outside the clock (join a participant, wait on a lock another
//   participant holds across a clock call): it holds the baton, so everyone else stands still.
//   Join spawned threads from a thread that is not a participant.
// - To start several threads at one instant in auto-advance mode, spawn them while holding a
//   Participant guard; otherwise the first may run ahead before the next one is registered.
// - Events must not outlive their clock; the clock must outlive its participants.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Clock.h"

namespace sim {

class VirtualClock final : public platform::Clock {
  struct Record;  // one per participant, owned by the clock

 public:
  struct Options {
    // Jump to the next deadline whenever every participant is blocked.
    bool autoAdvance = true;
    // TickCount() at virtual time 0; set it near 0xFFFFFFFF to cross the 32-bit wrap.
    std::uint32_t startTick = 0;
  };

  // Registers the calling thread as a participant for the guard's lifetime. The constructor
  // returns once the thread holds the baton.
  class Participant {
   public:
    explicit Participant(VirtualClock& clock);
    ~Participant();
    Participant(const Participant&) = delete;
    Participant& operator=(const Participant&) = delete;

   private:
    VirtualClock& clock_;
    Record* record_;
  };

  VirtualClock();
  explicit VirtualClock(Options options);
  ~VirtualClock() override;
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;

  // platform::Clock. Sleep(0) moves a participant to the back of the run queue; Sleep(kInfinite)
  // has no deadline. Called by a non-participant, Sleep and a blocking Event::Wait make the
  // caller a participant for the duration of the call (in manual mode someone else must then
  // advance time).
  void Sleep(std::uint32_t ms) override;
  std::uint32_t TickCount() override;
  // Manual-reset events. Set wakes every waiter; a running participant keeps the baton. A
  // time-out returns false at exactly its deadline.
  std::unique_ptr<platform::Event> MakeEvent(bool initiallySet = false) override;

  // Virtual milliseconds since construction.
  std::uint64_t Now();
  // The earliest deadline among blocked participants, if any.
  std::optional<std::uint64_t> NextDeadline();

  // Starts a participant thread. It is registered (queued for the baton) before the OS thread
  // exists and leaves when `body` returns.
  std::thread Spawn(std::function<void()> body);

  // Generic blocking point, e.g. a simulated message loop waiting for its next message. Blocks
  // until `ready()` is true or virtual time reaches `deadline` (absolute, as Now()); returns the
  // last value of `ready()`. `ready` is evaluated under the clock's lock: keep it short, let it
  // call nothing on the clock, and never call into the clock while holding a lock it takes.
  bool WaitFor(const std::function<bool()>& ready, std::optional<std::uint64_t> deadline = std::nullopt);
  // Re-evaluates the predicates of all WaitFor callers and wakes those that are ready. Call it
  // after changing their state (posting a message), from any thread.
  void Notify();

  // Controller, for a thread that is not a participant (a participant calling these aborts).
  // RunUntilIdle returns once the baton is free and nobody is runnable: in manual mode that is
  // the end of the current instant, in auto-advance mode also no deadline is left.
  void RunUntilIdle();
  // Runs the instants up to `t` one by one, each until idle, then sets Now() to `t` (time never
  // goes back). In auto-advance mode time may run on as soon as this returns.
  void AdvanceTo(std::uint64_t t);
  void AdvanceBy(std::uint64_t ms);

 private:
  class EventImpl;
  using Lock = std::unique_lock<std::mutex>;
  using DeadlineKey = std::pair<std::uint64_t, std::uint64_t>;  // (deadline, block order)

  static Record*& ThreadTop();
  Record* Current() const;
  void RequireNonParticipant(const char* what) const;
  Record* Register();
  void Leave(Record* self);
  void AwaitBaton(Lock& lock, Record* self);
  void Yield(Lock& lock, Record* self);
  bool Block(Lock& lock, Record* self, std::optional<std::uint64_t> deadline, std::vector<Record*>* waitList,
             const std::function<bool()>* ready);
  void Wake(Record* record, bool timedOut);
  void WakeReadyWaiters();
  void Dispatch();
  bool Idle() const;
  void AdvanceLocked(Lock& lock, std::uint64_t t);

  std::mutex mutex_;
  std::condition_variable idleCv_;
  const bool autoAdvance_;
  const std::uint32_t startTick_;
  std::uint64_t now_ = 0;
  std::uint64_t blockCount_ = 0;
  // While a controller advances, time may jump no further than this.
  std::optional<std::uint64_t> advanceLimit_;
  std::list<Record> records_;
  Record* running_ = nullptr;
  std::deque<Record*> runQueue_;
  std::map<DeadlineKey, Record*> deadlines_;
  std::vector<Record*> genericWaiters_;
};

}  // namespace sim
