#include "sim/scenario/Expectations.h"

#include <algorithm>
#include <regex>
#include <variant>
#include <vector>

namespace sim {
namespace {

Outcome Failure(const Directive& directive, const std::string& reason) {
  return Outcome{false, "line " + std::to_string(directive.line) + ": " + directive.source + ": " + reason};
}

// Searches the line's body, never its timestamp. A regex that blows up on a long line is a
// failure of the directive, not of the runner.
bool Search(const std::regex& regex, const TranscriptLine& line, std::string& error) {
  try {
    return std::regex_search(Transcript::Body(line), regex);
  } catch (const std::regex_error& e) {
    error = std::string("regex search failed: ") + e.what();
    return false;
  }
}

}  // namespace

std::uint64_t ClockTimeDriver::Now() { return clock_.Now(); }

std::optional<std::uint64_t> ClockTimeDriver::NextEventTime() {
  // Threads woken by the runner's own actions must block again before their deadlines count.
  clock_.RunUntilIdle();
  return clock_.NextDeadline();
}

void ClockTimeDriver::AdvanceTo(std::uint64_t t) { clock_.AdvanceTo(t); }

bool Expectations::Handles(const Directive& directive) {
  const auto& args = directive.args;
  return std::holds_alternative<scenario::Wait>(args) || std::holds_alternative<scenario::At>(args) ||
         std::holds_alternative<scenario::Mark>(args) || std::holds_alternative<scenario::Expect>(args);
}

Outcome Expectations::Run(const Directive& directive) {
  if (const auto* wait = std::get_if<scenario::Wait>(&directive.args)) {
    time_.AdvanceTo(time_.Now() + wait->ms);
    return {};
  }
  if (const auto* at = std::get_if<scenario::At>(&directive.args)) {
    const std::uint64_t now = time_.Now();
    if (at->ms < now) return Failure(directive, "time is already " + std::to_string(now) + " ms");
    time_.AdvanceTo(at->ms);
    return {};
  }
  if (std::holds_alternative<scenario::Mark>(directive.args)) {
    position_ = transcript_.Size();
    return {};
  }
  if (const auto* expect = std::get_if<scenario::Expect>(&directive.args)) {
    switch (expect->kind) {
      case scenario::ExpectKind::kExpect:
        return Expect(directive, *expect);
      case scenario::ExpectKind::kNext:
        return ExpectNext(directive, *expect);
      case scenario::ExpectKind::kCount:
        return ExpectCount(directive, *expect);
      case scenario::ExpectKind::kNot:
        return ExpectNot(directive, *expect);
    }
  }
  return Failure(directive, "not a time or expectation directive");
}

bool Expectations::Step(std::uint64_t deadline) {
  const std::uint64_t now = time_.Now();
  if (now >= deadline) return false;
  std::uint64_t target = deadline;
  // One instant at a time, so time stops exactly where the awaited line appears.
  if (const auto next = time_.NextEventTime()) target = std::min(deadline, std::max(*next, now + 1));
  time_.AdvanceTo(target);
  return true;
}

Outcome Expectations::Expect(const Directive& directive, const scenario::Expect& expect) {
  const std::uint64_t deadline = time_.Now() + expect.windowMs;
  std::size_t scan = position_;
  std::string error;
  do {
    for (const std::size_t size = transcript_.Size(); scan < size; ++scan) {
      if (Search(expect.regex, transcript_.At(scan), error)) {
        position_ = scan + 1;
        return {};
      }
      if (!error.empty()) return Failure(directive, error);
    }
  } while (Step(deadline));
  return Failure(directive, "no matching line by " + std::to_string(deadline) + " ms");
}

Outcome Expectations::ExpectNext(const Directive& directive, const scenario::Expect& expect) {
  const std::uint64_t deadline = time_.Now() + expect.windowMs;
  std::size_t scan = position_;
  std::string error;
  do {
    for (const std::size_t size = transcript_.Size(); scan < size; ++scan) {
      const TranscriptLine line = transcript_.At(scan);
      if (line.channel != expect.channel) continue;
      if (Search(expect.regex, line, error)) {
        position_ = scan + 1;
        return {};
      }
      if (!error.empty()) return Failure(directive, error);
      return Failure(directive, "the next " + expect.channel + " line does not match: " + Transcript::Format(line));
    }
  } while (Step(deadline));
  return Failure(directive, "no " + expect.channel + " line by " + std::to_string(deadline) + " ms");
}

Outcome Expectations::ExpectCount(const Directive& directive, const scenario::Expect& expect) {
  time_.AdvanceTo(time_.Now() + expect.windowMs);
  std::vector<std::string> matched;
  std::string error;
  for (std::size_t i = position_, size = transcript_.Size(); i < size; ++i) {
    const TranscriptLine line = transcript_.At(i);
    if (Search(expect.regex, line, error)) matched.push_back(Transcript::Format(line));
    if (!error.empty()) return Failure(directive, error);
  }
  if (matched.size() == expect.count) return {};
  std::string reason = std::to_string(matched.size()) + " matching lines, expected " + std::to_string(expect.count);
  for (const auto& line : matched) reason += "\n  " + line;
  return Failure(directive, reason);
}

Outcome Expectations::ExpectNot(const Directive& directive, const scenario::Expect& expect) {
  time_.AdvanceTo(time_.Now() + expect.windowMs);
  std::string error;
  for (std::size_t i = position_, size = transcript_.Size(); i < size; ++i) {
    const TranscriptLine line = transcript_.At(i);
    if (Search(expect.regex, line, error)) return Failure(directive, "matching line: " + Transcript::Format(line));
    if (!error.empty()) return Failure(directive, error);
  }
  return {};
}

}  // namespace sim
