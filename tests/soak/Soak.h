// The fault soak: days of simulated use of both programs on the virtual clock, with the handset,
// the client, the audio devices and the registry misbehaving at random, and the rules a user
// relies on checked all along. A run is reproducible from its seed: the same seed and length
// give the same actions at the same virtual instants.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "sim/runner/World.h"

namespace soak {

struct Options {
  std::uint64_t seed = 1;
  // Simulated time to run.
  std::uint64_t virtualMs = 24ull * 3600 * 1000;
  // Where a line of progress goes every six simulated hours; null for none.
  std::ostream* progress = nullptr;
};

// What a run did and the extremes it saw, for the figures.
struct Figures {
  std::uint64_t virtualMs = 0;
  double wallSeconds = 0;
  // Actions by kind ("call", "key", "unplug" ...), and how many of them were faults.
  std::map<std::string, std::uint64_t> actions;
  std::uint64_t faults = 0;
  std::uint64_t checks = 0;
  std::uint64_t transcriptLines = 0;
  // The longest the handset went on ringing with no call ringing, and other spans the checks
  // bound (milliseconds of virtual time).
  std::uint64_t longestRingWithoutCall = 0;
  std::uint64_t longestStatusGap = 0;
  std::uint64_t longestPlugToOpen = 0;
  std::uint64_t longestKeyActivity = 0;
  std::uint64_t longestPing = 0;
  std::size_t longestQueue = 0;
  std::size_t mostRegistryHandles = 0;
  // Resident memory of this process after the first tenth of the run and at its end, in kB.
  std::uint64_t residentEarlyKb = 0;
  std::uint64_t residentEndKb = 0;
};

struct Outcome {
  bool held = true;
  std::string failure;
  std::uint64_t failedAtMs = 0;
  // The actions and transcript lines just before the failure, oldest first.
  std::vector<std::string> recentActions;
  std::vector<std::string> recentLines;
  Figures figures;
};

// Runs the soak with the programs `factory` builds.
Outcome Run(const Options& options, sim::ProgramFactory& factory);

// "1d 02:03:04.005" for a virtual time.
std::string FormatTime(std::uint64_t ms);
// The figures as the command prints them.
void PrintFigures(const Figures& figures, std::ostream& out);

}  // namespace soak
