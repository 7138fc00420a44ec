// teliox-soak [--days N] [--hours N] [--seed N]: simulated days of use of both programs with
// faults injected at random, the rules checked throughout. Prints its figures; on a broken rule
// prints what broke, when, the last actions and transcript lines, and how to replay the run, and
// exits with 1.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "sim/programs/Programs.h"
#include "tests/soak/Soak.h"

namespace {

int Usage() {
  std::cerr << "usage: teliox-soak [--days N] [--hours N] [--seed N]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  soak::Options options;
  options.seed = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) % 1000000007;
  double hours = 24;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 == argc) return Usage();
    const char* value = argv[++i];
    char* end = nullptr;
    if (arg == "--days") {
      hours = std::strtod(value, &end) * 24;
    } else if (arg == "--hours") {
      hours = std::strtod(value, &end);
    } else if (arg == "--seed") {
      options.seed = std::strtoull(value, &end, 10);
    } else {
      return Usage();
    }
    if (!end || *end != '\0' || hours <= 0) return Usage();
  }
  options.virtualMs = static_cast<std::uint64_t>(hours * 3600 * 1000);
  options.progress = &std::cout;

  sim::SimPrograms programs(sim::DefaultSourceDir());
  if (!programs.Error().empty()) {
    std::cerr << "the programs' resources do not parse: " << programs.Error() << '\n';
    return 2;
  }
  std::cout << "soak: seed " << options.seed << ", " << hours << " simulated hours" << std::endl;
  const auto outcome = soak::Run(options, programs);
  soak::PrintFigures(outcome.figures, std::cout);
  if (outcome.held) {
    std::cout << "soak: every rule held\n";
    return 0;
  }
  std::cout << "soak: FAILED at " << soak::FormatTime(outcome.failedAtMs) << ": " << outcome.failure << '\n';
  std::cout << "the last actions:\n";
  for (const auto& action : outcome.recentActions) std::cout << "  " << action << '\n';
  std::cout << "the last transcript lines:\n";
  for (const auto& line : outcome.recentLines) std::cout << "  " << line << '\n';
  std::cout << "replay: teliox-soak --seed " << options.seed << " --hours " << hours << '\n';
  return 1;
}
