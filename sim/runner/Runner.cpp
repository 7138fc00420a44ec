#include "sim/runner/Runner.h"

#include <cstdio>
#include <filesystem>
#include <ostream>

#include "sim/scenario/Expectations.h"

namespace sim {
namespace {

void PrintTranscript(const Transcript& transcript, std::ostream& out) {
  for (const auto& line : transcript.Lines()) out << Transcript::Format(line) << '\n';
  out.flush();
}

// One file per stream, named by the virtual time it started, zero-padded to ten digits so a plain
// sort of the names gives the playing order; streams starting at the same instant are told apart
// by their order.
bool DumpAudio(const AudioWorld& audio, const std::string& directory, std::ostream& err) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    err << "cannot create " << directory << ": " << error.message() << '\n';
    return false;
  }
  std::uint64_t lastStart = ~std::uint64_t{0};
  int sameInstant = 0;
  bool ok = true;
  for (const auto& stream : audio.WaveStreams()) {
    sameInstant = stream.startTime == lastStart ? sameInstant + 1 : 0;
    lastStart = stream.startTime;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%010llu", static_cast<unsigned long long>(stream.startTime));
    std::string name = stamp;
    name.append("ms");
    if (sameInstant) name.append("-").append(std::to_string(sameInstant));
    name.append(".wav");
    const auto path = (std::filesystem::path(directory) / name).string();
    if (!AudioWorld::WriteWav(stream, path)) {
      err << "cannot write " << path << '\n';
      ok = false;
    }
  }
  return ok;
}

}  // namespace

int RunScenario(std::string_view text, const RunOptions& options, ProgramFactory* factory, std::ostream& out,
                std::ostream& err) {
  const auto parsed = ParseScenario(text);
  if (!parsed.Ok()) {
    err << parsed.error->ToString() << '\n';
    return kScenarioMalformed;
  }

  World world(factory);
  Expectations expectations(world.Log(), world.Time());
  int code = kScenarioHeld;
  for (const auto& directive : parsed.directives) {
    const auto where = "line " + std::to_string(directive.line) + ": " + directive.source + ": ";
    if (Expectations::Handles(directive)) {
      const auto outcome = expectations.Run(directive);
      if (!outcome.held) {
        err << outcome.failure << '\n';
        code = kScenarioFailed;
      }
    } else if (const auto result = world.Perform(directive); !result.ok) {
      err << where << result.message << '\n';
      code = result.unsupported ? kScenarioMalformed : kScenarioFailed;
    }
    // A program may refuse later what a directive asked of it (an answer its window cannot take).
    if (code == kScenarioHeld) {
      for (const auto& failure : world.TakeFailures()) {
        err << where << failure << '\n';
        code = kScenarioFailed;
      }
    }
    if (code != kScenarioHeld) break;
  }
  // A failed scenario shows the transcript as it stood; a finished one also how the programs end.
  if (code == kScenarioHeld) world.Shutdown();
  PrintTranscript(world.Log(), out);
  // Written also for a failed scenario: the sound is often what tells why.
  if (options.audioDirectory && !DumpAudio(world.Audio(), *options.audioDirectory, err) && code == kScenarioHeld) {
    code = kScenarioFailed;
  }
  return code;
}

}  // namespace sim
