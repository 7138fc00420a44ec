// The people and things around the programs during a soak: callers and the client, the person at
// the handset, the handset's cable and firmware, the audio devices and the registry. Everything
// it does is a scenario directive (so a failing run reads as a scenario) or, for the few faults
// the language has no directive for, a named step on the world.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <queue>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sim/runner/World.h"

namespace soak {

class User {
 public:
  User(std::uint64_t seed, sim::World& world);

  // The world and programs at virtual time 0, as scenario lines.
  static std::vector<std::string> SetupLines();

  // When the next planned action is due.
  std::uint64_t NextAt() const;
  // Carries out every action due at or before `now` (the world's current time).
  void ActDue(std::uint64_t now);

  // A modal window of the manager opened (seen in the transcript): someone answers it later.
  void ModalOpened(std::uint64_t now);

  std::uint64_t LastKeyAt() const { return lastKeyAt_; }
  bool ClientHoldsReplies() const { return holdingReplies_; }
  const std::map<std::string, std::uint64_t>& Counts() const { return counts_; }
  std::uint64_t Faults() const { return faults_; }
  // The newest actions, "<time> <kind>: <line>", oldest first.
  std::vector<std::string> RecentActions() const { return {recent_.begin(), recent_.end()}; }

 private:
  struct Planned {
    std::uint64_t at = 0;
    std::uint64_t order = 0;
    std::function<void()> step;
    bool operator>(const Planned& other) const { return at != other.at ? at > other.at : order > other.order; }
  };

  // Plans `step` `delayMs` after now.
  void Plan(std::uint64_t delayMs, std::function<void()> step);
  // Performs one directive; `kind` names it in the figures, `fault` counts it as a fault.
  void Do(const std::string& kind, const std::string& line, bool fault = false);
  void Note(const std::string& kind, const std::string& what, bool fault);

  // Something happens now, then the next spontaneous event is planned.
  void Spontaneous();
  void IncomingCall();
  void CallFate(int id, int tries);
  void Key(std::uint8_t code);
  void KeyBurst();
  void Unplug();
  void Plug();
  void AckFault();
  void ClientFault();
  void AudioChange();
  void RegistryLocked();

  std::uint64_t Uniform(std::uint64_t low, std::uint64_t high);
  bool Chance(double p);
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Uniform(0, items.size() - 1)];
  }

  sim::World& world_;
  std::mt19937_64 random_;
  std::priority_queue<Planned, std::vector<Planned>, std::greater<>> agenda_;
  std::uint64_t order_ = 0;
  std::uint64_t now_ = 0;
  std::map<std::string, std::uint64_t> counts_;
  std::uint64_t faults_ = 0;
  std::vector<std::string> recent_;
  std::uint64_t lastKeyAt_ = 0;
  int nextCallId_ = 100;
  // The calls whose end is planned.
  std::set<int> fated_;
  bool plugged_ = true;
  bool unplugPlanned_ = false;
  bool clientDown_ = false;
  bool registryLocked_ = false;
  bool versionFault_ = false;
  bool holdingReplies_ = false;
  std::uint64_t queryFaultUntil_ = 0;
  std::vector<std::string> extraDevices_;
  int nextDevice_ = 1;
};

}  // namespace soak
