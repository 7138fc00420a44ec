// Scenario files of any text through the scenario parser, parsing only (nothing runs). The whole
// input is the file. A scenario that parses must hold line by line: each directive's source
// text, parsed on its own, is that same directive again. The number and duration forms are
// also fed each whitespace-separated word of the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "sim/scenario/Scenario.h"

namespace {

#define CHECK(condition)                \
  do {                                  \
    if (!(condition)) __builtin_trap(); \
  } while (0)

void CheckWord(std::string_view word) {
  if (const auto number = sim::ParseNumber(word)) {
    // Decimal spelling of any number reads back as itself.
    CHECK(sim::ParseNumber(std::to_string(*number)) == number);
  }
  if (const auto ms = sim::ParseDuration(word)) {
    CHECK(sim::ParseDuration(std::to_string(*ms) + "ms") == ms);
  }
  sim::IsTranscriptChannel(word);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const sim::ParseResult result = sim::ParseScenario(text);
  if (!result.Ok()) {
    CHECK(result.directives.empty());
    CHECK(result.error->line >= 1);
    CHECK(!result.error->message.empty());
    result.error->ToString();
  } else {
    int previous = 0;
    for (const auto& directive : result.directives) {
      CHECK(directive.line > previous);
      previous = directive.line;
      CHECK(!directive.source.empty() && !directive.verb.empty());
      // What a message quotes as the line is the directive itself.
      const sim::ParseResult again = sim::ParseScenario(directive.source);
      CHECK(again.Ok() && again.directives.size() == 1);
      const auto& copy = again.directives.front();
      CHECK(copy.source == directive.source && copy.verb == directive.verb);
      CHECK(copy.program == directive.program && copy.args.index() == directive.args.index());
    }
  }
  // The word forms on their own, on the first few kilobytes.
  std::string_view rest = text.substr(0, 4096);
  while (!rest.empty()) {
    const auto blank = rest.find_first_of(" \t\r\n");
    if (blank != 0) CheckWord(rest.substr(0, blank));
    if (blank == std::string_view::npos) break;
    rest.remove_prefix(blank + 1);
  }
  return 0;
}
