#include "sim/ProgramClock.h"

namespace sim {

// State shared with waiters, so an event destroyed while someone still waits leaves them a
// time-out instead of a dangling reference (as the virtual clock's own events do).
class ProgramClock::EventImpl final : public platform::Event {
 public:
  EventImpl(ProgramClock& owner, bool initiallySet) : owner_(owner), state_(std::make_shared<State>()) {
    state_->set = initiallySet;
  }

  ~EventImpl() override {
    state_->gone = true;
    owner_.clock_.Notify();
  }

  void Set() override {
    state_->set = true;
    state_->generation.fetch_add(1);
    owner_.clock_.Notify();
  }

  void Reset() override { state_->set = false; }

  bool Wait(std::uint32_t timeoutMs) override {
    owner_.ThrowIfKilled();
    if (state_->set) return true;
    if (timeoutMs == 0) return false;
    std::optional<std::uint64_t> deadline;
    if (timeoutMs != platform::kInfinite) deadline = owner_.clock_.Now() + timeoutMs;
    // A Set while we wait counts even if a Reset follows before this thread runs again.
    const std::uint64_t since = state_->generation.load();
    auto state = state_;
    ProgramClock& owner = owner_;
    owner.clock_.WaitFor(
        [state, since, &owner] {
          return state->set.load() || state->generation.load() != since || state->gone.load() || owner.Killed();
        },
        deadline);
    owner.ThrowIfKilled();
    return !state->gone.load() && (state->set.load() || state->generation.load() != since);
  }

 private:
  struct State {
    std::atomic<bool> set{false};
    std::atomic<std::uint64_t> generation{0};
    std::atomic<bool> gone{false};
  };

  ProgramClock& owner_;
  std::shared_ptr<State> state_;
};

void ProgramClock::ThrowIfKilled() const {
  if (killed_.load()) throw ProcessEnded{};
}

void ProgramClock::Sleep(std::uint32_t ms) {
  ThrowIfKilled();
  if (ms == 0) {
    clock_.Sleep(0);
    ThrowIfKilled();
    return;
  }
  std::optional<std::uint64_t> deadline;
  if (ms != platform::kInfinite) deadline = clock_.Now() + ms;
  clock_.WaitFor([this] { return killed_.load(); }, deadline);
  ThrowIfKilled();
}

std::uint32_t ProgramClock::TickCount() { return clock_.TickCount(); }

std::unique_ptr<platform::Event> ProgramClock::MakeEvent(bool initiallySet) {
  return std::make_unique<EventImpl>(*this, initiallySet);
}

void ProgramClock::Kill() {
  killed_.store(true);
  clock_.Notify();
}

bool ProgramClock::WaitFor(const std::function<bool()>& ready, std::optional<std::uint64_t> deadline) {
  ThrowIfKilled();
  const bool result = clock_.WaitFor([this, &ready] { return killed_.load() || ready(); }, deadline);
  ThrowIfKilled();
  return result;
}

}  // namespace sim
