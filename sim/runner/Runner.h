// Plays a scenario in a fresh world and reports what happened: the scenario runner behind
// teliox-sim, callable from tests.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "sim/runner/World.h"

namespace sim {

struct RunOptions {
  // Where to write every waveOut stream as a WAV file, if anywhere.
  std::optional<std::string> audioDirectory;
};

enum ExitCode : int { kScenarioHeld = 0, kScenarioFailed = 1, kScenarioMalformed = 2 };

// Runs `text` and writes the transcript to `out` (also when an expectation failed, up to that
// point); the failing line, or what is malformed, goes to `err`. Returns the exit code.
int RunScenario(std::string_view text, const RunOptions& options, ProgramFactory* factory, std::ostream& out,
                std::ostream& err);

}  // namespace sim
