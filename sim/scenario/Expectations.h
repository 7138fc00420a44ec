// The time and expectation directives of a scenario (wait, at, mark, expect, expect-next,
// expect-count, expect-not) over a transcript, with time moved through a TimeDriver so the rules
// can be checked without any program running.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/scenario/Scenario.h"

namespace sim {

// How the engine moves time. Between calls the world is quiescent: all work due at Now() is done.
class TimeDriver {
 public:
  virtual ~TimeDriver() = default;
  virtual std::uint64_t Now() = 0;
  // The earliest time after Now() at which something is due, if anything is.
  virtual std::optional<std::uint64_t> NextEventTime() = 0;
  // Runs every instant up to `t` to quiescence, then stands at `t`.
  virtual void AdvanceTo(std::uint64_t t) = 0;
};

// The runner's driver: a VirtualClock in manual mode, driven from a thread that is not a
// participant.
class ClockTimeDriver final : public TimeDriver {
 public:
  explicit ClockTimeDriver(VirtualClock& clock) : clock_(clock) {}
  std::uint64_t Now() override;
  std::optional<std::uint64_t> NextEventTime() override;
  void AdvanceTo(std::uint64_t t) override;

 private:
  VirtualClock& clock_;
};

struct Outcome {
  bool held = true;
  std::string failure;  // "line <n>: <directive>: <what was seen>"
};

class Expectations {
 public:
  Expectations(const Transcript& transcript, TimeDriver& time) : transcript_(transcript), time_(time) {}

  // True for wait, at, mark and the expect family: the directives Run takes.
  static bool Handles(const Directive& directive);

  // Call at quiescence. An expect stops time at the instant its line appears, so the next
  // directive acts then. Any other directive is refused with a failure.
  Outcome Run(const Directive& directive);

  // Lines from this index on are "after the match position".
  std::size_t Position() const { return position_; }

 private:
  Outcome Expect(const Directive& directive, const scenario::Expect& expect);
  Outcome ExpectNext(const Directive& directive, const scenario::Expect& expect);
  Outcome ExpectCount(const Directive& directive, const scenario::Expect& expect);
  Outcome ExpectNot(const Directive& directive, const scenario::Expect& expect);
  // Advances to the next event or the deadline, whichever is first; false once the deadline has
  // passed with nothing more to look at.
  bool Step(std::uint64_t deadline);

  const Transcript& transcript_;
  TimeDriver& time_;
  std::size_t position_ = 0;
};

}  // namespace sim
