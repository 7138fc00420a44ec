#include "tests/soak/SoakUser.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "sim/scenario/Scenario.h"
#include "tests/soak/Soak.h"

namespace soak {
namespace {

constexpr std::size_t kRecentActions = 40;
// Mean pause between two spontaneous events.
constexpr std::uint64_t kMeanPauseMs = 20000;

// Every key of the handset; digits come more often.
const std::vector<std::uint8_t> kKeys = {0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x23, 0x24, 0x2F, 0x32, 0x33, 0xB0, 0xB1,
                                         0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xC1, 0xC2,
                                         0xC3, 0xB1, 0xB5, 0xB9, 0x20, 0x1F};
constexpr std::uint8_t kKeyNo = 0x1F, kKeyYes = 0x20, kKeyHold = 0x23, kKeyMute = 0x2F;

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

}  // namespace

User::User(std::uint64_t seed, sim::World& world) : world_(world), random_(seed) {
  Plan(Uniform(1000, 2 * kMeanPauseMs), [this] { Spontaneous(); });
}

std::vector<std::string> User::SetupLines() {
  return {
      // The user's devices are chosen and kept automatically; the changed-devices question comes
      // only when a fault turns that off.
      R"(registry set HKCU\SOFTWARE\VORLANE\AUDIO_MANAGER DEFAULT_DEVICE_IN sz "Microphone")",
      R"(registry set HKCU\SOFTWARE\VORLANE\AUDIO_MANAGER DEFAULT_DEVICE_OUT sz "Speakers")",
      R"(registry set HKCU\SOFTWARE\VORLANE\AUDIO_MANAGER WIZARD_AUTOMATIC dword 1)",
      R"(registry set HKCU\SOFTWARE\VORLANE\TELIOX\Teliox LANGUAGE dword 1)",
      R"(audio playback "Speakers")",
      R"(audio recording "Microphone")",
      R"(audio handset "USB Phone" product 0x1402)",
      R"(audio default "Microphone" "Speakers")",
      R"(client voicemails 7:1230768000:5:"Alice" 8:1230771600:6:"Bob")",
      "handset plug 0x1402",
      "client start",
      "start manager",
      "start",
  };
}

std::uint64_t User::NextAt() const { return agenda_.empty() ? ~std::uint64_t{0} : agenda_.top().at; }

void User::ActDue(std::uint64_t now) {
  now_ = now;
  while (!agenda_.empty() && agenda_.top().at <= now) {
    auto step = agenda_.top().step;
    agenda_.pop();
    step();
  }
}

void User::Plan(std::uint64_t delayMs, std::function<void()> step) {
  agenda_.push(Planned{now_ + delayMs, order_++, std::move(step)});
}

void User::Note(const std::string& kind, const std::string& what, bool fault) {
  ++counts_[kind];
  if (fault) ++faults_;
  recent_.push_back(FormatTime(now_) + " " + kind + ": " + what);
  if (recent_.size() > kRecentActions) recent_.erase(recent_.begin());
}

void User::Do(const std::string& kind, const std::string& line, bool fault) {
  Note(kind, line, fault);
  auto parsed = sim::ParseScenario(line);
  if (!parsed.Ok() || parsed.directives.size() != 1) throw std::logic_error("the soak wrote a bad directive: " + line);
  // A directive the world cannot carry out now (a key on an unplugged handset) is what a user
  // would meet too; the programs' failures are what the checks look at.
  (void)world_.Perform(parsed.directives.front());
}

std::uint64_t User::Uniform(std::uint64_t low, std::uint64_t high) {
  return std::uniform_int_distribution<std::uint64_t>(low, high)(random_);
}

bool User::Chance(double p) { return std::bernoulli_distribution(p)(random_); }

void User::Spontaneous() {
  struct Choice {
    double weight;
    void (User::*act)();
  };
  static const Choice kChoices[] = {
      {10, &User::IncomingCall}, {10, &User::KeyBurst},    {3, &User::Unplug},         {3, &User::AckFault},
      {3, &User::ClientFault},   {3, &User::AudioChange}, {0.7, &User::RegistryLocked},
  };
  double total = 0;
  for (const auto& choice : kChoices) total += choice.weight;
  double pick = std::uniform_real_distribution<double>(0, total)(random_);
  for (const auto& choice : kChoices) {
    if ((pick -= choice.weight) <= 0) {
      (this->*choice.act)();
      break;
    }
  }
  // Calls the client placed for the bridge (a redial, a number dialled) end some time too.
  for (const auto& call : world_.Client().Calls()) {
    if (fated_.insert(call.id).second) Plan(Uniform(2000, 300000), [this, id = call.id] { CallFate(id, 0); });
  }
  const auto pause = static_cast<std::uint64_t>(std::exponential_distribution<double>(1.0 / kMeanPauseMs)(random_));
  Plan(pause + 1, [this] { Spontaneous(); });
}

// ---- calls ----

void User::IncomingCall() {
  // A client tells only an attached bridge of its calls.
  if (!world_.Client().Attached()) return;
  // The client numbers the calls it places itself (a redial) on from the highest it has seen.
  for (const auto& call : world_.Client().Calls()) nextCallId_ = std::max(nextCallId_, call.id + 1);
  const int id = nextCallId_++;
  fated_.insert(id);
  Do("call", "client call " + std::to_string(id) + " RINGING partner \"caller" + std::to_string(id % 50) + "\"");
  Plan(Uniform(300, 40000), [this, id] { CallFate(id, 0); });
}

void User::CallFate(int id, int tries) {
  const auto call = world_.Client().FindCall(id);
  if (!call || tries > 200) {
    fated_.erase(id);  // ended, or forgotten by a client that stopped
    return;
  }
  const auto again = [&](std::uint64_t low, std::uint64_t high) {
    Plan(Uniform(low, high), [this, id, tries] { CallFate(id, tries + 1); });
  };
  if (!world_.Client().Attached()) return again(5000, 30000);
  const auto status = [&](const char* text) { Do("call", "client call " + std::to_string(id) + " " + text); };
  if (call->status == "RINGING") {
    const int roll = static_cast<int>(Uniform(0, 99));
    if (roll < 30) {
      Key(kKeyYes);
    } else if (roll < 40) {
      Key(kKeyNo);
    } else if (roll < 55) {
      status("MISSED");
    } else if (roll < 65) {
      status("INPROGRESS");
    } else if (roll < 70) {
      status("CANCELLED");
    } else if (roll < 73) {
      status("BUSY");
    } else if (roll < 76) {
      status("REFUSED");
    } else if (roll < 80) {
      status("FINISHED");
    } else if (roll < 82) {
      status("FAILED");
    }
    return again(500, 30000);
  }
  const int roll = static_cast<int>(Uniform(0, 99));
  if (roll < 15) {
    Key(kKeyHold);
  } else if (roll < 35) {
    Key(kKeyNo);
  } else if (roll < 60) {
    status("FINISHED");
  } else if (roll < 70) {
    IncomingCall();  // a second call while this one goes on
  } else if (roll < 75) {
    Do("call", "client call " + std::to_string(id) + " " + call->status + " conference 1");
  } else if (roll < 85) {
    for (int digits = static_cast<int>(Uniform(1, 6)); digits > 0; --digits) Key(static_cast<std::uint8_t>(Uniform(0xB0, 0xBB)));
  } else if (roll < 90) {
    Key(kKeyMute);
  }
  again(2000, 300000);
}

// ---- the person at the handset ----

void User::Key(std::uint8_t code) {
  lastKeyAt_ = now_;
  Do("key", "handset key " + Hex(code));
}

void User::KeyBurst() {
  const int roll = static_cast<int>(Uniform(0, 99));
  if (roll < 4) {
    // A report the handset's firmware should never send, and a repeat of the last one.
    std::string line = "handset report";
    for (int i = 0; i < 7; ++i) line += " " + Hex(static_cast<unsigned>(Uniform(0, 255))).substr(2);
    lastKeyAt_ = now_;
    return Do("report", line, true);
  }
  if (roll < 7) {
    lastKeyAt_ = now_;
    return Do("report", "handset repeat", true);
  }
  if (roll < 10) return Do("language", "command " + std::to_string(Pick<int>({32796, 32797, 32814, 32815, 32816})));
  if (roll < 12) return Do("tray", "tray restart", true);
  // A few keys in a row, as a person dials or steps the volume.
  const int count = static_cast<int>(Uniform(1, 8));
  for (int i = 0; i < count; ++i) {
    const auto code = Pick(kKeys);
    Plan(i * Uniform(50, 600), [this, code] { Key(code); });
  }
}

// ---- the handset's cable and firmware ----

void User::Unplug() {
  if (!plugged_) return;
  plugged_ = false;
  Do("unplug", "handset unplug", true);
  // Mostly back within a minute; sometimes at once, in the middle of what the unplug broke.
  Plan(Chance(0.3) ? Uniform(20, 1500) : Uniform(1500, 60000), [this] { Plug(); });
}

void User::Plug() {
  if (plugged_) return;
  plugged_ = true;
  Do("plug", Chance(0.2) ? "handset plug 0x1403" : "handset plug 0x1402");
  // Pulled again during the version exchange or the ring-tone upload that follow a plug.
  if (Chance(0.25)) Plan(Uniform(0, 4000), [this] { Unplug(); });
}

void User::AckFault() {
  const int roll = static_cast<int>(Uniform(0, 99));
  if (roll < 45) return Do("acks", "handset drop-acks " + std::to_string(Uniform(1, 6)), true);
  if (roll < 80) {
    Do("acks", "handset ack-delay " + std::to_string(Uniform(0, 600)) + "ms", true);
    return Plan(Uniform(1000, 120000), [this] { Do("acks", "handset ack-delay 5ms"); });
  }
  if (versionFault_) return;
  versionFault_ = true;
  Do("version", Chance(0.5) ? "handset version-reply silent" : "handset version-reply ack", true);
  if (Chance(0.5)) Plan(Uniform(0, 3000), [this] { Unplug(); });  // so a new exchange meets it
  Plan(Uniform(5000, 120000), [this] {
    versionFault_ = false;
    Do("version", "handset version-reply normal");
  });
}

// ---- the client ----

void User::ClientFault() {
  const int roll = static_cast<int>(Uniform(0, 99));
  if (roll < 25) {
    if (clientDown_) return;
    clientDown_ = true;
    Do("client", "client stop", true);
    return Plan(Uniform(500, 120000), [this] {
      clientDown_ = false;
      Do("client", "client start");
    });
  }
  if (roll < 35) {
    // The next attach is refused or left waiting, until the user lets it through.
    if (clientDown_) return;
    clientDown_ = true;
    Do("client", Chance(0.5) ? "client refuse" : "client pending", true);
    Plan(Uniform(0, 3000), [this] { Unplug(); });  // so the bridge attaches again
    return Plan(Uniform(5000, 120000), [this] {
      clientDown_ = false;
      Do("client", "client start");
    });
  }
  if (roll < 50) {
    if (holdingReplies_) return;
    holdingReplies_ = true;
    Do("client", "client hold-replies on", true);
    return Plan(Uniform(50, 8000), [this] {
      holdingReplies_ = false;
      Do("client", "client hold-replies off");
    });
  }
  if (roll < 65) return Do("client", "client window " + Pick<std::string>({"foreground", "background", "hidden", "absent"}));
  if (roll < 85) {
    return Do("client", "client status \"" +
                            Pick<std::string>({"USERSTATUS DND", "USERSTATUS ONLINE", "USERSTATUS AWAY", "MUTE ON",
                                               "MUTE OFF", "AUDIO_IN Headset", "AUDIO_OUT Headset",
                                               "ERROR 4 unknown command"}) +
                            "\"");
  }
  if (roll < 92) return Do("client", "client message-window open");
  Do("client", "client voicemails " + Pick<std::string>({"", "count 5 7:1230768000:5:\"Alice\"",
                                                         "7:1230768000:12:\"Alice\" 9:0:5:\"Carol\""}));
}

// ---- audio devices and the registry ----

void User::AudioChange() {
  const int roll = static_cast<int>(Uniform(0, 99));
  if (roll < 25 && extraDevices_.size() < 4) {
    const auto name = "Headset " + std::to_string(nextDevice_++ % 10);
    extraDevices_.push_back(name);
    Do("audio", std::string("audio ") + (Chance(0.5) ? "playback" : "recording") + " \"" + name + "\"");
    return;
  }
  if (roll < 45 && !extraDevices_.empty()) {
    const auto index = Uniform(0, extraDevices_.size() - 1);
    const auto name = extraDevices_[index];
    extraDevices_.erase(extraDevices_.begin() + static_cast<std::ptrdiff_t>(index));
    return Do("audio", "audio remove \"" + name + "\"", true);
  }
  if (roll < 80) {
    // Windows moves its default devices somewhere else.
    std::vector<std::string> names = {"Microphone", "Speakers", "USB Phone"};
    names.insert(names.end(), extraDevices_.begin(), extraDevices_.end());
    return Do("audio", "audio default \"" + Pick(names) + "\" \"" + Pick(names) + "\"", true);
  }
  if (roll < 90) {
    if (Chance(0.5)) return Do("audio", "audio fail set-default " + std::to_string(Uniform(1, 20)), true);
    // Fifteen failed queries in a row (one every five seconds) end the manager by design, so the
    // failures stay below that, also added to those of an earlier fault.
    if (now_ < queryFaultUntil_) return;
    const auto count = Uniform(1, 12);
    queryFaultUntil_ = now_ + (count + 3) * 10000;
    return Do("audio", "audio fail get-default " + std::to_string(count), true);
  }
  // The user turns automatic restoring off or on (the settings hold it), so the changed-devices
  // question comes up now and then.
  Do("audio", std::string("registry set HKCU\\SOFTWARE\\VORLANE\\AUDIO_MANAGER WIZARD_AUTOMATIC dword ") +
                  (Chance(0.5) ? "0" : "1"));
}

void User::ModalOpened(std::uint64_t now) {
  now_ = now;
  Plan(Uniform(200, 30000), [this] {
    Do("answer", "answer " + Pick<std::string>({"enter", "escape", "click 1023", "close"}));
  });
}

void User::RegistryLocked() {
  if (registryLocked_) return;
  registryLocked_ = true;
  // No directive makes the registry refuse writes: the world's registry does it directly.
  Note("registry", "the programs' registry refuses every write", true);
  world_.Registry().SetReadOnly(true);
  // Often long enough for a replug, whose ring-tone upload writes the settings.
  if (Chance(0.5)) Plan(Uniform(0, 5000), [this] { Unplug(); });
  Plan(Uniform(1000, 600000), [this] {
    registryLocked_ = false;
    Note("registry", "the registry takes writes again", false);
    world_.Registry().SetReadOnly(false);
  });
}

}  // namespace soak
