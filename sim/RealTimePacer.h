// Moves a manual VirtualClock along with the wall clock, so the models and their Scheduler can
// serve a real program in real time (the sim flavour of the HID library runs the handset model
// this way).
//
// A thread of its own is the clock's controller: about every `step` it calls AdvanceTo(origin +
// real milliseconds since Start). AdvanceTo runs each instant until idle, so a participant that
// works for a while holds time back, and time then catches up instant by instant; virtual time
// never runs ahead of real time.
//
// Between two steps virtual time lags a little (more when the OS wakes the thread late: several
// milliseconds under Wine). Work that starts a delay from outside, like a program's write that
// the handset answers 5 ms later, calls CatchUp first, so the delay counts from the real instant
// and not from the last step.
//
// Rules: the clock must be in manual mode and outlive the pacer; nobody else may advance it while
// the pacer runs (CatchUp advances it, one controller at a time). Stop (and the destructor) join
// the thread: it returns once the current AdvanceTo does, so every participant must reach a
// blocking point in bounded time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "sim/VirtualClock.h"

namespace sim {

class RealTimePacer {
 public:
  explicit RealTimePacer(VirtualClock& clock, std::chrono::milliseconds step = std::chrono::milliseconds(1));
  ~RealTimePacer();
  RealTimePacer(const RealTimePacer&) = delete;
  RealTimePacer& operator=(const RealTimePacer&) = delete;

  // Virtual time Now() at this call matches the real instant of this call. Does nothing when
  // already running.
  void Start();
  // Joins the pacing thread; time stays where it got to. Start may follow again.
  void Stop();
  bool Running() const;
  // Brings virtual time up to the real instant now, on the calling thread, running whatever
  // falls due on the way. For threads that are not participants of the clock (a participant
  // would wait for itself). Does nothing while stopped.
  void CatchUp();

 private:
  void Run();
  // Under advanceMutex_.
  void AdvanceLocked();

  VirtualClock& clock_;
  const std::chrono::milliseconds step_;
  mutable std::mutex mutex_;  // stop_ and thread_
  std::condition_variable stopCv_;
  bool stop_ = false;
  std::thread thread_;
  // Held across AdvanceTo: the clock takes one controller at a time.
  std::mutex advanceMutex_;
  bool running_ = false;  // guarded by advanceMutex_, as are the two below
  std::uint64_t origin_ = 0;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace sim
