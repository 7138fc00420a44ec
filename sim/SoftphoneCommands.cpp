// The client's command language, as far as the bridge speaks it. Runs under the model's lock.
#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

#include "sim/SoftphoneModel.h"
#include "sim/Words.h"

namespace sim {

namespace {

// Replies to commands the client cannot carry out. They never quote the command: the bridge looks
// for device keywords anywhere in a status text.
constexpr std::string_view kUnknownCommand = "ERROR 2 Unknown command";
constexpr std::string_view kInvalidArgument = "ERROR 3 Invalid argument";
constexpr std::string_view kUnknownCall = "ERROR 11 Invalid call id";
constexpr std::string_view kUnknownVoicemail = "ERROR 12 Invalid voicemail id";
constexpr std::string_view kNotPossible = "ERROR 13 Not possible in this call state";

// Highest protocol version this client speaks; a higher request gets this one.
constexpr int kMaxProtocol = 5;

constexpr std::string_view kDtmfDigits = "0123456789*#ABCD";

char Upper(char c) { return sim::UpperAscii(c); }

// The text after `word` (a view into `text`), without surrounding blanks: names may hold spaces.
std::string_view RestAfter(std::string_view text, std::string_view word) {
  std::string_view rest = text.substr(static_cast<std::size_t>(word.data() - text.data()) + word.size());
  while (!rest.empty() && sim::IsBlank(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && sim::IsBlank(rest.back())) rest.remove_suffix(1);
  return rest;
}

// Appends instead of operator+ on a literal, which trips a false -Wrestrict in g++ 12.
std::string Join(std::string_view head, std::string_view tail) {
  std::string text(head);
  text.append(tail);
  return text;
}

bool ParseInt(std::string_view word, int& value) {
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  return error == std::errc() && end == word.data() + word.size();
}

}  // namespace

void SoftphoneModel::ExecuteLocked(std::string_view command, Effects& effects) {
  const auto words = sim::SplitWords(command);
  const auto is = [&words](std::size_t i, std::string_view keyword) {
    return i < words.size() && sim::EqualsNoCase(words[i], keyword);
  };
  const auto reply = [&effects](std::string text) { effects.notes.push_back(StatusText(std::move(text))); };

  if (is(0, "SET") && is(1, "CALL")) {
    SetCallCommandLocked(words, effects);
  } else if (is(0, "CALL")) {
    PlaceCallLocked(words.size() > 1 ? RestAfter(command, words[0]) : std::string_view{}, effects);
  } else if (is(0, "HOOK") && words.size() == 2 && (is(1, "ON") || is(1, "OFF"))) {
    HookLocked(is(1, "ON"), effects);
  } else if (is(0, "BTN_RELEASED") || is(0, "BTN_PRESSED")) {
    // Button echoes drive the client's own user interface only.
  } else if (is(0, "FOCUS") && words.size() == 1) {
    if (mainWindow_ != MainWindow::Absent) SetMainWindowLocked(MainWindow::Foreground, effects);
  } else if (is(0, "SET") && is(1, "MUTE") && words.size() == 3 && (is(2, "ON") || is(2, "OFF"))) {
    muted_ = is(2, "ON");
    reply(muted_ ? "MUTE ON" : "MUTE OFF");
  } else if (is(0, "GET") && is(1, "MUTE") && words.size() == 2) {
    reply(muted_ ? "MUTE ON" : "MUTE OFF");
  } else if (is(0, "SET") && (is(1, "AUDIO_IN") || is(1, "AUDIO_OUT"))) {
    AudioCommandLocked(is(1, "AUDIO_IN"), RestAfter(command, words[1]), effects);
  } else if (is(0, "GET") && is(1, "AUDIO_IN") && words.size() == 2) {
    reply(Join("AUDIO_IN ", audioIn_));
  } else if (is(0, "GET") && is(1, "AUDIO_OUT") && words.size() == 2) {
    reply(Join("AUDIO_OUT ", audioOut_));
  } else if (is(0, "PROTOCOL") && words.size() == 2) {
    int version = 0;
    if (ParseInt(words[1], version) && version >= 1) {
      reply(Join("PROTOCOL ", std::to_string(std::min(version, kMaxProtocol))));
    } else {
      reply(std::string(kInvalidArgument));
    }
  } else if (is(0, "ALTER") && is(1, "VOICEMAIL")) {
    VoicemailCommandLocked(words, effects);
  } else if (is(0, "GET") && is(1, "USERSTATUS") && words.size() == 2) {
    reply(Join("USERSTATUS ", presence_));
  } else if (is(0, "SET") && is(1, "USERSTATUS") && words.size() == 3) {
    presence_.clear();
    for (const char c : words[2]) presence_ += Upper(c);
    reply(Join("USERSTATUS ", presence_));
  } else {
    reply(std::string(kUnknownCommand));
  }
}

// SET CALL <id> STATUS INPROGRESS|ONHOLD|FINISHED, SET CALL <id> DTMF <digit>
void SoftphoneModel::SetCallCommandLocked(const std::vector<std::string_view>& words, Effects& effects) {
  const auto fail = [&effects](std::string_view error) { effects.notes.push_back(StatusText(std::string(error))); };
  int id = 0;
  if (words.size() != 5 || !ParseInt(words[2], id)) return fail(kInvalidArgument);
  Call* call = FindLocked(id);
  if (!call) return fail(kUnknownCall);
  const std::string_view what = words[3];
  const std::string_view value = words[4];

  if (sim::EqualsNoCase(what, "DTMF")) {
    if (value.size() != 1 || kDtmfDigits.find(Upper(value[0])) == std::string_view::npos) {
      return fail(kInvalidArgument);
    }
    if (call->status != "INPROGRESS") return fail(kNotPossible);
    call->dtmf += Upper(value[0]);
  } else if (!sim::EqualsNoCase(what, "STATUS")) {
    fail(kInvalidArgument);
  } else if (sim::EqualsNoCase(value, "INPROGRESS")) {
    // Answers a ringing call or resumes a held one.
    if (call->status == "INPROGRESS") return;
    if (!IsRingingIn(*call) && call->status != "ONHOLD") return fail(kNotPossible);
    MakeActiveLocked(*call, effects);
  } else if (sim::EqualsNoCase(value, "ONHOLD")) {
    if (call->status == "ONHOLD") return;
    if (call->status != "INPROGRESS") return fail(kNotPossible);
    SetStatusLocked(*call, "ONHOLD", 1, effects);
  } else if (sim::EqualsNoCase(value, "FINISHED")) {
    // Ending a call that never connected refuses or cancels it.
    SetStatusLocked(*call, IsRingingIn(*call) ? "REFUSED" : IsConnecting(*call) ? "CANCELLED" : "FINISHED", 1, effects);
  } else {
    fail(kInvalidArgument);
  }
}

void SoftphoneModel::AudioCommandLocked(bool input, std::string_view name, Effects& effects) {
  // No name: back to the client's own choice.
  std::string& device = input ? audioIn_ : audioOut_;
  device = name.empty() ? (input ? ownAudioIn_ : ownAudioOut_) : std::string(name);
  effects.notes.push_back(StatusText(Join(input ? "AUDIO_IN " : "AUDIO_OUT ", device)));
}

// ALTER VOICEMAIL <id> STARTPLAYBACK|STOPPLAYBACK
void SoftphoneModel::VoicemailCommandLocked(const std::vector<std::string_view>& words, Effects& effects) {
  int id = 0;
  const bool start = words.size() == 4 && sim::EqualsNoCase(words[3], "STARTPLAYBACK");
  const bool stop = words.size() == 4 && sim::EqualsNoCase(words[3], "STOPPLAYBACK");
  if (!(start || stop) || !ParseInt(words[2], id)) {
    effects.notes.push_back(StatusText(std::string(kInvalidArgument)));
    return;
  }
  const auto target = std::find_if(voicemails_.begin(), voicemails_.end(),
                                   [id](const Voicemail& voicemail) { return voicemail.id == id; });
  if (target == voicemails_.end()) {
    effects.notes.push_back(StatusText(std::string(kUnknownVoicemail)));
    return;
  }
  const auto change = [&effects](Voicemail& voicemail, std::int32_t status) {
    if (voicemail.status == status) return;
    voicemail.status = status;
    effects.notes.push_back(
        Plain(platform::kClientVoicemailStatus, static_cast<std::uintptr_t>(voicemail.id), voicemail.status));
  };
  if (stop) {
    if (target->status == kVoicemailPlaying) change(*target, kVoicemailPlayed);
    return;
  }
  // One player: starting one stops the other.
  for (auto& other : voicemails_) {
    if (&other != &*target && other.status == kVoicemailPlaying) change(other, kVoicemailPlayed);
  }
  change(*target, kVoicemailPlaying);
}

void SoftphoneModel::HookLocked(bool on, Effects& effects) {
  const auto idsWhere = [this](auto predicate) {
    std::vector<int> ids;
    for (const auto& call : calls_) {
      if (predicate(call)) ids.push_back(call.id);
    }
    return ids;
  };
  const auto active = idsWhere([](const Call& call) { return call.status == "INPROGRESS"; });
  if (!on) {
    // Lifting the handset answers the earliest ringing call when nothing is in progress.
    offHook_ = true;
    const auto ringing = idsWhere(IsRingingIn);
    if (active.empty() && !ringing.empty()) MakeActiveLocked(*FindLocked(ringing.front()), effects);
    return;
  }
  offHook_ = false;
  // Hanging up ends the conversation; with none, it cancels a call being placed, else refuses a
  // ringing one.
  const auto connecting = idsWhere(IsConnecting);
  const auto ringing = idsWhere(IsRingingIn);
  if (!active.empty()) {
    for (const int id : active) SetStatusLocked(*FindLocked(id), "FINISHED", 1, effects);
  } else if (!connecting.empty()) {
    for (const int id : connecting) SetStatusLocked(*FindLocked(id), "CANCELLED", 1, effects);
  } else if (!ringing.empty()) {
    SetStatusLocked(*FindLocked(ringing.front()), "REFUSED", 1, effects);
  }
}

void SoftphoneModel::PlaceCallLocked(std::string_view handle, Effects& effects) {
  if (handle.empty()) {
    effects.notes.push_back(StatusText(std::string(kInvalidArgument)));
    return;
  }
  const int id = nextCallId_++;
  calls_.push_back(Call{id, "ROUTING", 0, std::string(handle), false, {}});
  recentHandle_ = std::string(handle);
  effects.notes.push_back(CallRecord(calls_.back(), 1));
  effects.outgoing.push_back(id);
}

}  // namespace sim
