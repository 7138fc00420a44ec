#include "tests/soak/Soak.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <stdexcept>

#include "sim/programs/BridgeHost.h"
#include "sim/scenario/Scenario.h"
#include "tests/soak/SoakChecks.h"
#include "tests/soak/SoakUser.h"

namespace soak {
namespace {

constexpr std::uint64_t kCheckEveryMs = 100;
constexpr std::uint64_t kPingEveryMs = 30000;
constexpr std::uint64_t kDayMs = 24ull * 3600 * 1000;
constexpr std::uint64_t kProgressEveryMs = 6ull * 3600 * 1000;
// Resident memory may grow this much from the first tenth of a run to its end (allocator slack).
constexpr std::uint64_t kMemoryGrowthKb = 2048;
// Under AddressSanitizer the figure holds the sanitizer's own bookkeeping, which grows with every
// new allocating call stack; only an uninstrumented build measures the programs' memory.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasuresMemory = false;
#else
constexpr bool kMeasuresMemory = true;
#endif

// Resident memory of this process in kB (0 where /proc is not there).
std::uint64_t ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == "VmRSS:") {
      std::uint64_t kb = 0;
      status >> kb;
      return kb;
    }
  }
  return 0;
}

// The manager's changed-devices question, the one modal window the soak's world raises.
bool OpensModal(const sim::TranscriptLine& line) {
  return line.channel == "ui" && line.payload == "manager:149 create";
}

// What a failure message adds about the world: the handset and the client's calls.
std::string Describe(sim::World& world) {
  const auto& handset = world.Handset();
  std::string text = std::string("handset ") + (handset.Plugged() ? "plugged" : "unplugged") +
                     (handset.Opened() ? ", open" : "") +
                     (handset.RingerState() != sim::HandsetModel::Ringer::kQuiet ? ", ringing" : "") + "; client " +
                     (world.Client().Running() ? "running" : "stopped") +
                     (world.Client().Attached() ? ", attached" : "") + "; calls:";
  for (const auto& call : world.Client().Calls()) {
    text += " " + std::to_string(call.id) + " " + call.status + (call.incoming ? " in" : " out");
  }
  return text;
}

}  // namespace

std::string FormatTime(std::uint64_t ms) {
  char text[40];
  std::snprintf(text, sizeof text, "%llud %02llu:%02llu:%02llu.%03llu", static_cast<unsigned long long>(ms / kDayMs),
                static_cast<unsigned long long>(ms / 3600000 % 24), static_cast<unsigned long long>(ms / 60000 % 60),
                static_cast<unsigned long long>(ms / 1000 % 60), static_cast<unsigned long long>(ms % 1000));
  return text;
}

Outcome Run(const Options& options, sim::ProgramFactory& factory) {
  const auto wallStart = std::chrono::steady_clock::now();
  Outcome outcome;
  Checks checks;
  std::atomic<int> modalsOpened{0};

  sim::World world(&factory);
  auto& log = world.Log();
  // Days of lines are handed to the checks and not kept.
  log.KeepNoLines();
  world.Audio().KeepNoClosedWaveStreams();
  log.SetListener([&](const sim::TranscriptLine& line) {
    checks.OnLine(line);
    if (OpensModal(line)) ++modalsOpened;
  });

  for (const auto& line : User::SetupLines()) {
    auto parsed = sim::ParseScenario(line);
    if (!parsed.Ok()) throw std::logic_error("the soak's set-up does not parse: " + line);
    if (auto result = world.Perform(parsed.directives.front()); !result.ok) {
      outcome.held = false;
      outcome.failure = "set-up: " + line + ": " + result.message;
      return outcome;
    }
  }

  User user(options.seed, world);
  auto& clock = world.Clock();
  const auto end = options.virtualMs;
  std::uint64_t nextCheck = kCheckEveryMs, nextPing = kPingEveryMs, nextProgress = kProgressEveryMs;
  const std::uint64_t early = end / 10;
  bool earlyTaken = false;

  const auto ping = [&](sim::Program program, int index, std::uint64_t now) {
    auto* host = world.Host(program);
    if (!host) return;
    // The pong may come on the program's thread before Ping returns.
    checks.PingSent(index, now);
    if (!host->Ping([&checks, &clock, index] { checks.Pong(index, clock.Now()); })) checks.Pong(index, now);
  };

  while (clock.Now() < end) {
    const auto next = std::min({user.NextAt(), nextCheck, end});
    clock.AdvanceTo(next);
    const auto now = clock.Now();
    for (int opened = modalsOpened.exchange(0); opened > 0; --opened) user.ModalOpened(now);
    user.ActDue(now);
    // An answer a window could not take is the soak's own doing, not the programs'.
    (void)world.TakeFailures();
    if (now >= nextPing) {
      ping(sim::Program::kBridge, 0, now);
      ping(sim::Program::kManager, 1, now);
      world.Settle();
      nextPing += kPingEveryMs;
    }
    if (now >= nextCheck) {
      nextCheck += kCheckEveryMs;
      Snapshot s;
      s.now = now;
      const auto& handset = world.Handset();
      s.plugged = handset.Plugged();
      s.opened = handset.Opened();
      // An unplugged handset has no power to ring with, whatever it did before.
      s.ringing = s.plugged && handset.RingerState() != sim::HandsetModel::Ringer::kQuiet;
      s.keyActivity = handset.KeyActivityOn();
      for (const auto& call : world.Client().Calls()) s.callRinging |= call.status == "RINGING" && call.incoming;
      s.lastKeyAt = user.LastKeyAt();
      s.clientSilent = user.ClientHoldsReplies();
      s.registryHandles = world.Registry().OpenHandleCount();
      if (auto* bridge = dynamic_cast<sim::BridgeHost*>(world.Host(sim::Program::kBridge))) {
        s.queueLength = bridge->HandsetQueueLength();
      }
      ++outcome.figures.checks;
      if (auto problem = checks.Check(s)) {
        outcome.held = false;
        outcome.failure = *problem + " (" + Describe(world) + ")";
        outcome.failedAtMs = now;
        break;
      }
    }
    if (!earlyTaken && now >= early) {
      earlyTaken = true;
      outcome.figures.residentEarlyKb = ResidentKb();
    }
    if (now >= nextProgress) {
      nextProgress += kProgressEveryMs;
      if (options.progress) {
        *options.progress << "soak: " << FormatTime(now) << " done, "
                          << std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count()
                          << " s, " << ResidentKb() << " kB resident" << std::endl;
      }
    }
  }
  outcome.figures.residentEndKb = ResidentKb();
  if (outcome.held && kMeasuresMemory && earlyTaken &&
      outcome.figures.residentEndKb > outcome.figures.residentEarlyKb + kMemoryGrowthKb) {
    outcome.held = false;
    outcome.failure = "resident memory grew from " + std::to_string(outcome.figures.residentEarlyKb) + " kB to " +
                      std::to_string(outcome.figures.residentEndKb) + " kB";
    outcome.failedAtMs = clock.Now();
  }
  outcome.figures.virtualMs = clock.Now();
  outcome.figures.actions = user.Counts();
  outcome.figures.faults = user.Faults();
  if (!outcome.held) {
    outcome.recentActions = user.RecentActions();
    outcome.recentLines = checks.RecentLines();
  }
  checks.AddTo(outcome.figures);
  world.Shutdown();
  log.SetListener(nullptr);
  outcome.figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  return outcome;
}

void PrintFigures(const Figures& f, std::ostream& out) {
  out << "simulated " << FormatTime(f.virtualMs) << " in " << f.wallSeconds << " s of wall time\n";
  out << "actions:";
  std::uint64_t total = 0;
  for (const auto& [kind, count] : f.actions) {
    out << ' ' << kind << '=' << count;
    total += count;
  }
  out << " (" << total << " in all, " << f.faults << " of them faults)\n";
  out << "checks: " << f.checks << " at 100 ms steps over " << f.transcriptLines << " transcript lines\n";
  out << "longest: ringing without a ringing call " << f.longestRingWithoutCall << " ms, gap between status reports "
      << f.longestStatusGap << " ms, plugged to opened " << f.longestPlugToOpen << " ms, key activity after the last key "
      << f.longestKeyActivity << " ms, user-interface thread ping " << f.longestPing << " ms\n";
  out << "most: " << f.longestQueue << " handset commands queued, " << f.mostRegistryHandles
      << " registry keys open\n";
  out << "resident memory: " << f.residentEarlyKb << " kB after a tenth of the run, " << f.residentEndKb
      << " kB at its end\n";
}

}  // namespace soak
