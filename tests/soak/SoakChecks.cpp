#include "tests/soak/SoakChecks.h"

#include <algorithm>
#include <regex>

namespace soak {
namespace {

std::string Span(std::uint64_t ms) { return std::to_string(ms) + " ms"; }

struct Allowed {
  const char* keySuffix;
  const char* name;
  const char* type;  // "dword" or "sz"
  long long min = 0, max = 0;  // dword range; ignored for sz
};

// What the two programs write, and the values they may write.
constexpr Allowed kAllowed[] = {
    {"\\SOFTWARE\\VORLANE\\TELIOX\\Teliox", "LANGUAGE", "dword", 1, 5},
    {"\\SOFTWARE\\VORLANE\\TELIOX\\Teliox", "RINGMODE", "dword", 1, 2},
    {"\\SOFTWARE\\VORLANE\\TELIOX\\Teliox", "RINGTYPE", "dword", 0, 9},
    {"\\SOFTWARE\\VORLANE\\TELIOX\\Teliox", "KEYTONE", "dword", 0, 2},
    {"\\SOFTWARE\\VORLANE\\AUDIO_MANAGER", "WIZARD_AUTOMATIC", "dword", 0, 1},
    {"\\SOFTWARE\\VORLANE\\AUDIO_MANAGER", "DEFAULT_DEVICE_WIZARD", "dword", 0, 1},
    {"\\SOFTWARE\\VORLANE\\AUDIO_MANAGER", "DEFAULT_DEVICE_IN", "sz"},
    {"\\SOFTWARE\\VORLANE\\AUDIO_MANAGER", "DEFAULT_DEVICE_OUT", "sz"},
    {"\\SOFTWARE\\VORLANE\\AUDIO_MANAGER\\REGISTER", "Teliox", "dword", 0, 0xFFFFFFFFll},
    {"\\Sound Mapper", "Record", "sz"},
    {"\\Sound Mapper", "Playback", "sz"},
};

bool EndsWith(const std::string& text, const char* suffix) {
  const std::string_view s(suffix);
  return text.size() >= s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0;
}

}  // namespace

std::optional<std::string> Checks::RegistryWriteProblem(const std::string& payload) {
  // "set <key> <name> dword <n>" or "set <key> <name> sz "<text>"" or "set <key> <name> type ...";
  // keys may hold blanks, names do not.
  static const std::regex kSet(R"(^set (.*?) (\S+) (dword|sz|type) (.*)$)");
  static const std::regex kDelete(R"(^delete (.*) (\S+)$)");
  std::smatch m;
  if (std::regex_match(payload, m, kDelete)) {
    if (EndsWith(m[1].str(), "\\AUDIO_MANAGER\\REGISTER")) return std::nullopt;
    return "a registry value deleted that no program deletes: " + payload;
  }
  if (!std::regex_match(payload, m, kSet)) return "a registry write that does not read: " + payload;
  const auto key = m[1].str(), name = m[2].str(), type = m[3].str(), value = m[4].str();
  for (const auto& allowed : kAllowed) {
    if (!EndsWith(key, allowed.keySuffix) || name != allowed.name) continue;
    if (type != allowed.type) return "a registry value of the wrong type: " + payload;
    if (type == "sz") {
      if (value.size() < 2 || value.front() != '"' || value.back() != '"') return "an unterminated text: " + payload;
      return std::nullopt;
    }
    if (value.empty() || value.size() > 10 || !std::all_of(value.begin(), value.end(), ::isdigit)) {
      return "a registry number that does not read: " + payload;
    }
    const long long n = std::stoll(value);
    if (n < allowed.min || n > allowed.max) return "a registry value out of its range: " + payload;
    return std::nullopt;
  }
  return "a registry value no program writes: " + payload;
}

void Checks::OnLine(const sim::TranscriptLine& line) {
  std::lock_guard lock(mutex_);
  ++lines_;
  recent_.push_back(line);
  if (recent_.size() > kRecentLines) recent_.pop_front();
  if (line.channel == "hid>") {
    // A status report the handset took: "C0 00 00 <status> ..." without " failed".
    if (line.payload.rfind("C0 00 00 ", 0) == 0 && line.payload.find("failed") == std::string::npos) {
      lastStatusWrite_ = line.time;
    }
  } else if (line.channel == "reg" && !lineProblem_) {
    if (auto problem = RegistryWriteProblem(line.payload)) lineProblem_ = *problem;
  } else if (line.channel == "exit" && !lineProblem_) {
    lineProblem_ = "a program ended: " + line.payload;
  }
}

void Checks::PingSent(int program, std::uint64_t sentAt) {
  std::lock_guard lock(mutex_);
  if (!pingSent_[program]) pingSent_[program] = sentAt;
}

void Checks::Pong(int program, std::uint64_t at) {
  std::lock_guard lock(mutex_);
  if (!pingSent_[program]) return;
  longestPing_ = std::max(longestPing_, at - *pingSent_[program]);
  pingSent_[program].reset();
}

std::optional<std::string> Checks::Check(const Snapshot& s) {
  std::optional<std::uint64_t> lastStatus;
  {
    std::lock_guard lock(mutex_);
    if (lineProblem_) return lineProblem_;
    for (int program = 0; program < kPrograms; ++program) {
      if (pingSent_[program] && s.now - *pingSent_[program] > limits_.ping) {
        return std::string(program == 0 ? "the bridge's" : "the manager's") +
               " user-interface thread did not come back to its message loop for " + Span(s.now - *pingSent_[program]);
      }
    }
    lastStatus = lastStatusWrite_;
  }

  // The handset rings only while a call rings.
  if (s.ringing && !s.callRinging && !s.clientSilent) {
    if (!ringingAloneSince_) ringingAloneSince_ = s.now;
    const auto span = s.now - *ringingAloneSince_;
    longestRing_ = std::max(longestRing_, span);
    if (span > limits_.ringWithoutCall) return "the handset has been ringing without a ringing call for " + Span(span);
  } else {
    ringingAloneSince_.reset();
  }

  // A plugged handset is opened, and an open one hears from the indicator thread.
  if (s.plugged && !s.opened) {
    if (!pluggedSince_) pluggedSince_ = s.now;
    const auto span = s.now - *pluggedSince_;
    longestOpen_ = std::max(longestOpen_, span);
    if (span > limits_.plugToOpen) return "the handset has been plugged in but not opened for " + Span(span);
  } else {
    pluggedSince_.reset();
  }
  if (s.opened) {
    if (!openedSince_) openedSince_ = s.now;
    const auto since = std::max(*openedSince_, lastStatus.value_or(0));
    const auto gap = s.now - since;
    longestGap_ = std::max(longestGap_, gap);
    if (gap > limits_.statusGap) return "no status report reached the open handset for " + Span(gap);
  } else {
    openedSince_.reset();
  }

  // Key activity ends a few seconds after the last key.
  if (s.opened && s.keyActivity) {
    const auto afterKey = s.now - s.lastKeyAt;
    longestActivity_ = std::max(longestActivity_, afterKey);
    if (afterKey > limits_.keyActivity) return "the handset shows key activity " + Span(afterKey) + " after the last key";
  }

  if (s.queueLength) {
    longestQueue_ = std::max(longestQueue_, *s.queueLength);
    if (*s.queueLength > limits_.queue) {
      return "the handset command queue holds " + std::to_string(*s.queueLength) + " commands";
    }
  }
  mostHandles_ = std::max(mostHandles_, s.registryHandles);
  if (s.registryHandles > limits_.registryHandles) {
    return std::to_string(s.registryHandles) + " registry keys are open at once";
  }
  return std::nullopt;
}

void Checks::AddTo(Figures& figures) const {
  std::lock_guard lock(mutex_);
  figures.transcriptLines = lines_;
  figures.longestRingWithoutCall = longestRing_;
  figures.longestStatusGap = longestGap_;
  figures.longestPlugToOpen = longestOpen_;
  figures.longestKeyActivity = longestActivity_;
  figures.longestPing = longestPing_;
  figures.longestQueue = longestQueue_;
  figures.mostRegistryHandles = mostHandles_;
}

std::vector<std::string> Checks::RecentLines() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  for (const auto& line : recent_) lines.push_back(sim::Transcript::Format(line));
  return lines;
}

}  // namespace soak
