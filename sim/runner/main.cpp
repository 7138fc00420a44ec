// teliox-sim SCENARIO [--dump-audio DIR]: plays a scenario on the virtual clock and prints its
// transcript. Exit status 0 when every expectation held, 1 when one failed, 2 when the scenario
// is malformed or needs what this build does not have.
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "sim/programs/Programs.h"
#include "sim/runner/Runner.h"

namespace {

int Usage() {
  std::cerr << "usage: teliox-sim SCENARIO [--dump-audio DIR]\n";
  return sim::kScenarioMalformed;
}

}  // namespace

int main(int argc, char** argv) {
  std::string scenarioPath;
  sim::RunOptions options;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dump-audio") == 0) {
      if (++i == argc) return Usage();
      options.audioDirectory = argv[i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Usage();
    } else if (scenarioPath.empty()) {
      scenarioPath = argv[i];
    } else {
      return Usage();
    }
  }
  if (scenarioPath.empty()) return Usage();

  std::stringstream text;
  if (scenarioPath == "-") {
    text << std::cin.rdbuf();
  } else {
    std::ifstream file(scenarioPath, std::ios::binary);
    if (!file) {
      std::cerr << "cannot read " << scenarioPath << '\n';
      return sim::kScenarioMalformed;
    }
    text << file.rdbuf();
  }
  sim::SimPrograms programs(sim::DefaultSourceDir());
  if (!programs.Error().empty()) {
    std::cerr << "the programs' resources do not parse: " << programs.Error() << '\n';
    return sim::kScenarioMalformed;
  }
  return sim::RunScenario(text.str(), options, &programs, std::cout, std::cerr);
}
