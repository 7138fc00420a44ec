// Moves a manual VirtualClock along with the wall clock, so the models and their Scheduler can
// serve a real program in real time (the sim flavour of the HID library runs the handset model
// this way).
//
// A thread of its own is the clock's controller. It advances the clock to origin + the real
// milliseconds since Start, then sleeps until the real instant of the clock's next deadline, or
// for good when there is none: a simulation at rest costs nothing. AdvanceTo runs each instant
// until idle, so a participant that works for a while holds time back, and time then catches up
// instant by instant; virtual time never runs ahead of real time.
//
// New work wakes the thread early: the pacer keeps a participant of its own waiting in WaitFor,
// so every Notify (a Scheduler's At from any thread, a simulated window's message) tells it to
// look at the deadlines again. A participant woken from outside by other means (an Event's Set,
// a participant spawned from outside) must be followed by Poke.
//
// At rest virtual time stands still between deadlines. Work that reads the time or starts a
// delay from outside, like a program's write that the handset answers 5 ms later, calls CatchUp
// first, so the time is the real instant's and the delay counts from it.
//
// Rules: the clock must be in manual mode and outlive the pacer; nobody else may advance it while
// the pacer runs (CatchUp advances it, one controller at a time). Stop (and the destructor) join
// the threads: the pacing thread returns once the current AdvanceTo does, so every participant
// must reach a blocking point in bounded time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/VirtualClock.h"

namespace sim {

class RealTimePacer {
 public:
  explicit RealTimePacer(VirtualClock& clock);
  ~RealTimePacer();
  RealTimePacer(const RealTimePacer&) = delete;
  RealTimePacer& operator=(const RealTimePacer&) = delete;

  // Virtual time Now() at this call matches the real instant of this call. Does nothing when
  // already running.
  void Start();
  // Joins the threads; time stays where it got to. Start may follow again.
  void Stop();
  bool Running() const;
  // Brings virtual time up to the real instant now, on the calling thread, running whatever
  // falls due on the way. For threads that are not participants of the clock (a participant
  // would wait for itself). Does nothing while stopped.
  void CatchUp();
  // Something outside changed what the participants wait for without the clock's Notify: the
  // pacing thread looks at the deadlines again.
  void Poke();
  // How often the pacing thread has advanced the clock: it rests while nothing falls due.
  std::uint64_t Advances() const;

 private:
  void Run();
  void Watch();
  // Under advanceMutex_.
  void AdvanceLocked();
  void Wake();

  VirtualClock& clock_;
  // Start and Stop, one at a time; guards the two threads.
  mutable std::mutex lifeMutex_;
  std::thread thread_;
  std::thread watcher_;
  // A leaf: nothing else is taken or called while it is held (the watcher's predicate takes it
  // under the clock's lock).
  mutable std::mutex wakeMutex_;
  std::condition_variable wakeCv_;
  bool stop_ = false;  // guarded by wakeMutex_, as are the four below
  bool watcherStop_ = false;
  bool poked_ = false;
  std::optional<std::uint64_t> waitingFor_;  // the deadline the pacing thread sleeps towards
  std::uint64_t advances_ = 0;
  // Held across AdvanceTo: the clock takes one controller at a time.
  std::mutex advanceMutex_;
  bool running_ = false;  // guarded by advanceMutex_, as are the two below
  std::uint64_t origin_ = 0;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace sim
