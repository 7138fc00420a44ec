#include "sim/VirtualClock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace sim {

namespace {

// Misuse that would otherwise hang the whole simulation: say so and stop.
[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "sim::VirtualClock: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

struct VirtualClock::Record {
  VirtualClock* clock = nullptr;
  std::list<Record>::iterator self;
  // Signalled when this participant is handed the baton.
  std::condition_variable cv;
  // Next outer participation of the same OS thread (another clock), for Current().
  Record* outer = nullptr;
  // While blocked.
  std::optional<DeadlineKey> deadline;
  std::vector<Record*>* waitList = nullptr;
  const std::function<bool()>* ready = nullptr;
  bool timedOut = false;
};

class VirtualClock::EventImpl final : public platform::Event {
 public:
  EventImpl(VirtualClock& clock, bool initiallySet) : clock_(clock), set_(initiallySet) {}

  ~EventImpl() override {
    // Nobody should still wait; if someone does, release them as timed out rather than leave
    // them pointing at a dead event.
    Lock lock(clock_.mutex_);
    while (!waiters_.empty()) clock_.Wake(waiters_.front(), true);
    clock_.Dispatch();
  }

  void Set() override {
    Lock lock(clock_.mutex_);
    set_ = true;
    while (!waiters_.empty()) clock_.Wake(waiters_.front(), false);
    clock_.Dispatch();
  }

  void Reset() override {
    Lock lock(clock_.mutex_);
    set_ = false;
  }

  bool Wait(std::uint32_t timeoutMs) override {
    Record* self = clock_.Current();
    {
      Lock lock(clock_.mutex_);
      if (set_) return true;
      if (timeoutMs == 0) return false;
      if (self != nullptr) {
        std::optional<std::uint64_t> deadline;
        if (timeoutMs != platform::kInfinite) deadline = clock_.now_ + timeoutMs;
        return clock_.Block(lock, self, deadline, &waiters_, nullptr);
      }
    }
    Participant temporary(clock_);
    return Wait(timeoutMs);
  }

 private:
  VirtualClock& clock_;
  bool set_;                      // guarded by clock_.mutex_
  std::vector<Record*> waiters_;  // in the order they blocked
};

VirtualClock::Participant::Participant(VirtualClock& clock) : clock_(clock) {
  if (clock.Current() != nullptr) Fail("thread is already a participant");
  Lock lock(clock.mutex_);
  record_ = clock.Register();
  record_->outer = ThreadTop();
  ThreadTop() = record_;
  clock.AwaitBaton(lock, record_);
}

VirtualClock::Participant::~Participant() {
  ThreadTop() = record_->outer;
  Lock lock(clock_.mutex_);
  clock_.Leave(record_);
}

VirtualClock::VirtualClock() : VirtualClock(Options{}) {}

VirtualClock::VirtualClock(Options options) : autoAdvance_(options.autoAdvance), startTick_(options.startTick) {}

VirtualClock::~VirtualClock() {
  Lock lock(mutex_);
  if (!records_.empty()) Fail("destroyed while participants are registered");
}

void VirtualClock::Sleep(std::uint32_t ms) {
  Record* self = Current();
  if (self == nullptr) {
    if (ms == 0) return;  // not scheduled by us: nothing to yield to
    Participant temporary(*this);
    Sleep(ms);
    return;
  }
  Lock lock(mutex_);
  if (ms == 0) {
    Yield(lock, self);
    return;
  }
  std::optional<std::uint64_t> deadline;
  if (ms != platform::kInfinite) deadline = now_ + ms;
  Block(lock, self, deadline, nullptr, nullptr);
}

std::uint32_t VirtualClock::TickCount() {
  Lock lock(mutex_);
  return static_cast<std::uint32_t>(startTick_ + now_);
}

std::unique_ptr<platform::Event> VirtualClock::MakeEvent(bool initiallySet) {
  return std::make_unique<EventImpl>(*this, initiallySet);
}

std::uint64_t VirtualClock::Now() {
  Lock lock(mutex_);
  return now_;
}

std::optional<std::uint64_t> VirtualClock::NextDeadline() {
  Lock lock(mutex_);
  if (deadlines_.empty()) return std::nullopt;
  return deadlines_.begin()->first.first;
}

std::thread VirtualClock::Spawn(std::function<void()> body) {
  Record* record;
  {
    Lock lock(mutex_);
    record = Register();
  }
  auto run = [this, record, body = std::move(body)] {
    record->outer = ThreadTop();
    ThreadTop() = record;
    {
      Lock lock(mutex_);
      AwaitBaton(lock, record);
    }
    body();
    ThreadTop() = record->outer;
    Lock lock(mutex_);
    Leave(record);
  };
  try {
    return std::thread(std::move(run));
  } catch (...) {
    // The record would hold the baton or its place in the queue for ever.
    Fail("cannot start a participant thread");
  }
}

bool VirtualClock::WaitFor(const std::function<bool()>& ready, std::optional<std::uint64_t> deadline) {
  Record* self = Current();
  {
    Lock lock(mutex_);
    if (ready()) return true;
    if (deadline && *deadline <= now_) return false;
    if (self != nullptr) {
      // Woken by Notify only when ready, but a non-participant may have changed things again
      // before we got the baton.
      do {
        Block(lock, self, deadline, &genericWaiters_, &ready);
        if (ready()) return true;
      } while (!deadline || *deadline > now_);
      return false;
    }
  }
  Participant temporary(*this);
  return WaitFor(ready, deadline);
}

void VirtualClock::Notify() {
  Lock lock(mutex_);
  WakeReadyWaiters();
  Dispatch();
}

void VirtualClock::RunUntilIdle() {
  RequireNonParticipant("RunUntilIdle");
  Lock lock(mutex_);
  idleCv_.wait(lock, [this] { return Idle(); });
}

void VirtualClock::AdvanceTo(std::uint64_t t) {
  RequireNonParticipant("AdvanceTo");
  Lock lock(mutex_);
  AdvanceLocked(lock, t);
}

void VirtualClock::AdvanceBy(std::uint64_t ms) {
  RequireNonParticipant("AdvanceBy");
  Lock lock(mutex_);
  AdvanceLocked(lock, now_ + ms);
}

VirtualClock::Record*& VirtualClock::ThreadTop() {
  thread_local Record* top = nullptr;
  return top;
}

VirtualClock::Record* VirtualClock::Current() const {
  for (Record* r = ThreadTop(); r != nullptr; r = r->outer) {
    if (r->clock == this) return r;
  }
  return nullptr;
}

void VirtualClock::RequireNonParticipant(const char* what) const {
  // A participant holds the baton, so waiting for idle would wait for itself.
  if (Current() != nullptr) {
    std::fprintf(stderr, "sim::VirtualClock: %s called by a participant\n", what);
    Fail("controller misuse");
  }
}

// All private helpers below run with mutex_ held.

VirtualClock::Record* VirtualClock::Register() {
  Record& record = records_.emplace_back();
  record.clock = this;
  record.self = std::prev(records_.end());
  runQueue_.push_back(&record);
  Dispatch();
  return &record;
}

void VirtualClock::Leave(Record* self) {
  if (running_ != self) Fail("participant left without holding the baton");
  running_ = nullptr;
  records_.erase(self->self);
  Dispatch();
}

void VirtualClock::AwaitBaton(Lock& lock, Record* self) {
  self->cv.wait(lock, [this, self] { return running_ == self; });
}

void VirtualClock::Yield(Lock& lock, Record* self) {
  runQueue_.push_back(self);
  running_ = nullptr;
  Dispatch();
  AwaitBaton(lock, self);
}

bool VirtualClock::Block(Lock& lock, Record* self, std::optional<std::uint64_t> deadline,
                         std::vector<Record*>* waitList, const std::function<bool()>* ready) {
  self->timedOut = false;
  self->waitList = waitList;
  if (waitList != nullptr) waitList->push_back(self);
  self->ready = ready;
  ++blockCount_;
  if (deadline) {
    self->deadline = DeadlineKey(*deadline, blockCount_);
    deadlines_.emplace(*self->deadline, self);
  }
  running_ = nullptr;
  Dispatch();
  AwaitBaton(lock, self);
  return !self->timedOut;
}

void VirtualClock::Wake(Record* record, bool timedOut) {
  if (record->deadline) {
    deadlines_.erase(*record->deadline);
    record->deadline.reset();
  }
  if (record->waitList != nullptr) {
    std::vector<Record*>& list = *record->waitList;
    list.erase(std::find(list.begin(), list.end(), record));
    record->waitList = nullptr;
  }
  record->ready = nullptr;
  record->timedOut = timedOut;
  runQueue_.push_back(record);
}

void VirtualClock::WakeReadyWaiters() {
  for (std::size_t i = 0; i < genericWaiters_.size();) {
    Record* waiter = genericWaiters_[i];
    if ((*waiter->ready)()) {
      Wake(waiter, false);  // removes it from genericWaiters_
    } else {
      ++i;
    }
  }
}

void VirtualClock::Dispatch() {
  while (running_ == nullptr) {
    if (!runQueue_.empty()) {
      running_ = runQueue_.front();
      runQueue_.pop_front();
      running_->cv.notify_one();
      return;
    }
    // Everyone is blocked: move time on if allowed.
    std::optional<std::uint64_t> limit = advanceLimit_;
    if (!limit && autoAdvance_) limit = std::numeric_limits<std::uint64_t>::max();
    if (deadlines_.empty() || !limit || deadlines_.begin()->first.first > *limit) {
      idleCv_.notify_all();
      return;
    }
    now_ = deadlines_.begin()->first.first;
    while (!deadlines_.empty() && deadlines_.begin()->first.first == now_) Wake(deadlines_.begin()->second, true);
  }
}

bool VirtualClock::Idle() const { return running_ == nullptr && runQueue_.empty(); }

void VirtualClock::AdvanceLocked(Lock& lock, std::uint64_t t) {
  // Dispatch steps through the deadlines up to t; each instant runs until idle before the next.
  advanceLimit_ = t;
  Dispatch();
  idleCv_.wait(lock, [this] { return Idle(); });
  now_ = std::max(now_, t);
  advanceLimit_.reset();
  Dispatch();
}

}  // namespace sim
