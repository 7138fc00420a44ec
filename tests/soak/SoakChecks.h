// The rules the soak holds the programs to, checked against what the world shows: the transcript
// as it is written and the models' state at each check.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/Transcript.h"
#include "tests/soak/Soak.h"

namespace soak {

// Bounds, in virtual milliseconds. Each is the program's own worst case with room for the faults
// the soak injects (acknowledgements dropped or late).
struct Limits {
  // The indicator thread notices an ended call after at most one second's pause; the stop command
  // may wait behind one command being retried (three tries, about 900 ms).
  std::uint64_t ringWithoutCall = 3000;
  // The indicator thread writes a status report every 100 ms at rest, every 70 ms while a call
  // rings, every 500 ms while the client is muted, and pauses one second between ring bursts.
  std::uint64_t statusGap = 1500;
  // The device monitor probes once a pass (about 5.1 s), alternating the two product ids, and
  // first has to notice the old handset gone: three passes.
  std::uint64_t plugToOpen = 20000;
  // Five counted seconds after the last key, plus the pass that notices it and one second in
  // which a key came during the countdown.
  std::uint64_t keyActivity = 7000;
  // A program's user-interface thread comes back to its message loop.
  std::uint64_t ping = 2000;
  std::size_t queue = 32;
  std::size_t registryHandles = 32;
};

// The models' state at one check.
struct Snapshot {
  std::uint64_t now = 0;
  bool plugged = false;
  bool opened = false;
  bool ringing = false;      // the handset's ringer, aloud or silent
  bool callRinging = false;  // the client has an incoming call ringing
  // The client holds its notifications back: the bridge cannot know what its calls do.
  bool clientSilent = false;
  bool keyActivity = false;  // the key-activity bit of the handset's last status report
  std::uint64_t lastKeyAt = 0;
  std::optional<std::size_t> queueLength;
  std::size_t registryHandles = 0;
};

class Checks {
 public:
  explicit Checks(Limits limits = {}) : limits_(limits) {}

  // Every transcript line, on whichever thread wrote it.
  void OnLine(const sim::TranscriptLine& line);
  // A ping was sent to a program at `sentAt`; Pong when it came back.
  void PingSent(int program, std::uint64_t sentAt);
  void Pong(int program, std::uint64_t at);
  // Checks the rules at one instant; the first broken one, if any. Updates the figures.
  std::optional<std::string> Check(const Snapshot& snapshot);
  // The figures the checks keep (the longest spans seen).
  void AddTo(Figures& figures) const;
  // The newest transcript lines, oldest first.
  std::vector<std::string> RecentLines() const;

  // What a registry write line must hold: nullopt when the value is one the programs may store.
  static std::optional<std::string> RegistryWriteProblem(const std::string& payload);

 private:
  static constexpr std::size_t kRecentLines = 80;
  static constexpr int kPrograms = 2;

  const Limits limits_;
  mutable std::mutex mutex_;
  // From the transcript (under mutex_).
  std::uint64_t lines_ = 0;
  std::deque<sim::TranscriptLine> recent_;  // formatted only when a failure shows them
  std::optional<std::uint64_t> lastStatusWrite_;
  std::optional<std::string> lineProblem_;
  std::optional<std::uint64_t> pingSent_[kPrograms];
  // The check's own, on the soak's thread.
  std::optional<std::uint64_t> ringingAloneSince_;
  std::optional<std::uint64_t> pluggedSince_;
  std::optional<std::uint64_t> openedSince_;
  std::uint64_t longestRing_ = 0, longestGap_ = 0, longestOpen_ = 0, longestActivity_ = 0, longestPing_ = 0;
  std::size_t longestQueue_ = 0, mostHandles_ = 0;
};

}  // namespace soak
