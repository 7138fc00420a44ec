#include "companions/tarvoapi/sim/SoftphoneSim.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/ClientApi.h"
#include "sim/Words.h"

namespace softphone_sim {

namespace {

using tarvoapi::CallInfo;
using tarvoapi::ClientMessage;

char Upper(char c) { return sim::UpperAscii(c); }

std::string UpperText(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = Upper(c);
  return upper;
}

// The rest of the line from word `index` on, blanks around it removed: names may hold spaces.
std::string RestFrom(std::string_view line, const std::vector<std::string_view>& words, std::size_t index) {
  if (index >= words.size()) return {};
  std::string_view rest = line.substr(static_cast<std::size_t>(words[index].data() - line.data()));
  while (!rest.empty() && sim::IsBlank(rest.back())) rest.remove_suffix(1);
  return std::string(rest);
}

template <typename T>
bool ParseNumber(std::string_view word, T& value) {
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  return error == std::errc() && end == word.data() + word.size();
}

std::string Hex(std::uintptr_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::int32_t Int32At(const std::uint8_t* bytes) {
  return static_cast<std::int32_t>(std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                   std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24);
}

// Status texts may hold line breaks; an event is one line.
std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  return line;
}

const char* AnswerName(sim::SoftphoneModel::AttachAnswer answer) {
  switch (answer) {
    case sim::SoftphoneModel::AttachAnswer::Accept:
      return "accept";
    case sim::SoftphoneModel::AttachAnswer::Pending:
      return "pending";
    case sim::SoftphoneModel::AttachAnswer::Refuse:
      return "refuse";
  }
  return "?";
}

const char* WindowName(sim::SoftphoneModel::MainWindow state) {
  switch (state) {
    case sim::SoftphoneModel::MainWindow::Foreground:
      return "foreground";
    case sim::SoftphoneModel::MainWindow::Background:
      return "background";
    case sim::SoftphoneModel::MainWindow::Absent:
      return "absent";
  }
  return "?";
}

bool IsEndStatus(std::string_view status) {
  static constexpr std::string_view kEnded[] = {"FINISHED", "MISSED", "REFUSED", "CANCELLED", "BUSY", "FAILED"};
  return std::find(std::begin(kEnded), std::end(kEnded), status) != std::end(kEnded);
}

constexpr char kHelp[] =
    "incoming <partner>                       a call rings (answers ok <id>)\n"
    "answer <id> | hold <id> | hangup <id>    the user acts on a call\n"
    "status <id> <STATUS> [<conference>]      a call's status as the client reports it\n"
    "conference <id> <number>                 joins a call to a conference (0: none)\n"
    "presence <STATUS>                        ONLINE, AWAY, DND, NA, INVISIBLE, OFFLINE ...\n"
    "text <status text>                       any status text\n"
    "mute on|off                              the user's mute button\n"
    "detach                                   the user ends the library's attach\n"
    "stop | start                             the client quits or starts\n"
    "attach-answer accept|pending|refuse      how attach requests are answered\n"
    "allow | deny                             answers a waiting attach request\n"
    "message-window open|closed               the client's message window\n"
    "window foreground|background             the client's main window\n"
    "recent <handle>                          the recent call handle\n"
    "voicemail <id> <time> <status> <partner> adds or replaces a voicemail\n"
    "voicemail-status <id> <status>           a voicemail's status changes (5, 6, 12)\n"
    "voicemails clear                         no voicemails\n"
    "voicemail-count <n>|real                 the count sent with the list\n"
    "reply-delay <ms> | hold-replies on|off   notification timing\n"
    "state | calls                            what the client shows\n";

}  // namespace

SoftphoneSim::SoftphoneSim(sim::VirtualClock& clock, sim::Scheduler& scheduler, sim::Transcript& transcript,
                           LibraryOutbox& outbox, Model::Options options)
    : clock_(clock), transcript_(transcript), outbox_(outbox), model_(clock, scheduler, transcript, *this, options) {
  transcript_.SetListener([this](const sim::TranscriptLine& line) {
    if (line.channel == "cmd" || line.channel == "cmd!" || line.channel == "api") Emit(line.channel, line.payload);
  });
}

SoftphoneSim::~SoftphoneSim() { transcript_.SetListener(nullptr); }

const char* SoftphoneSim::ControlHelp() { return kHelp; }

void SoftphoneSim::SetEventListener(std::function<void(const std::string&)> listener) {
  std::lock_guard lock(listenerMutex_);
  listener_ = std::move(listener);
}

void SoftphoneSim::Emit(std::string_view kind, std::string_view text) {
  std::string line(kind);
  line.append(" ").append(std::to_string(clock_.Now()));
  if (!text.empty()) line.append(" ").append(text);
  std::lock_guard lock(listenerMutex_);
  if (listener_) listener_(line);
}

// --- the library's side ---------------------------------------------------------------------

std::intptr_t SoftphoneSim::FromLibrary(std::uintptr_t library, std::uint32_t kind,
                                        std::span<const std::uint8_t> body) {
  CatchUp();
  const auto message = tarvoapi::DecodeLibraryMessage(kind, body);
  if (!message || library == 0) return 0;
  std::lock_guard lock(mutex_);
  switch (kind) {
    case tarvoapi::kAttach:
      if (library_ && library_ != library) {
        // The earlier library learns that it lost the client.
        ClientMessage detached;
        detached.message = platform::kClientDetached;
        outbox_.Send(library_, tarvoapi::kNotify, tarvoapi::Encode(detached));
        Emit("lib", "replaced " + Hex(library_, 8));
      }
      library_ = library;
      libraryProcess_ = message->process;
      Emit("lib", "attach " + Hex(library, 8) + " pid=" + std::to_string(message->process));
      model_.Initialize(library);
      model_.Connect2Tarvo();
      return 1;
    // Any running client minimises and closes its message window, attached or not.
    case tarvoapi::kMinimize:
      model_.MinimizeTarvo();
      return 1;
    case tarvoapi::kCloseMessageWindow:
      return model_.CloseTarvoMSGDialog() ? 1 : 0;
    default:
      break;
  }
  if (library != library_) return 0;
  switch (kind) {
    case tarvoapi::kDetach:
      Emit("lib", "detach");
      model_.Disconnect2Tarvo();
      return 1;
    case tarvoapi::kCommand:
      model_.SendStringCommand(message->text.c_str());
      return 1;
    case tarvoapi::kCommandDirect:
      return model_.SendCommandDirect(message->text.c_str()) ? 1 : 0;
    case tarvoapi::kHold:
      model_.SetCurrentCalltoOnHold();
      return 1;
    case tarvoapi::kUpdateVoicemails:
      // The model posts a list only to an attached library, built from the list it has now.
      if (model_.Running() && model_.Attached()) voicemailLists_.push_back(voicemails_.size());
      model_.UpdateVMList();
      return 1;
    case tarvoapi::kUpdateContacts:
      model_.UpdateContactList1();
      return 1;
    default:
      return 0;
  }
}

void SoftphoneSim::LibraryGone(std::uintptr_t library) {
  CatchUp();
  std::lock_guard lock(mutex_);
  if (library == 0 || library != library_) return;
  library_ = 0;
  libraryProcess_ = 0;
  Emit("lib", "gone " + Hex(library, 8));
  model_.Disconnect2Tarvo();
}

std::vector<CallInfo> SoftphoneSim::CallsLocked() {
  std::vector<CallInfo> calls;
  for (const auto& call : model_.Calls()) {
    calls.push_back(CallInfo{call.id, call.status, call.conference, call.partner, call.incoming});
  }
  return calls;
}

bool SoftphoneSim::IncomingLocked(int id, std::string_view status) {
  if (const auto call = model_.FindCall(id)) return call->incoming;
  if (const auto known = incoming_.find(id); known != incoming_.end()) return known->second;
  // The model's own rule: a call first seen as ROUTING was placed by the user.
  return status != "ROUTING";
}

bool SoftphoneSim::PostTo(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                          std::shared_ptr<const void> keepAlive) {
  std::lock_guard lock(mutex_);
  ClientMessage note;
  note.message = msg;
  std::string detail;
  switch (msg) {
    case platform::kClientAttached:
      note.calls = CallsLocked();
      note.recentHandle = recentHandle_;
      detail = "attached calls=" + std::to_string(note.calls.size());
      break;
    case platform::kClientAttachPending:
      detail = "pending";
      break;
    case platform::kClientAttachRefused:
      detail = "refused";
      break;
    case platform::kClientNotAvailable:
      detail = "not-available";
      break;
    case platform::kClientAvailable:
      detail = "available";
      break;
    case platform::kClientDetached:
      detail = "detached";
      break;
    case platform::kClientStatusText:
      note.text = wParam ? reinterpret_cast<const char*>(wParam) : "";
      detail = OneLine(note.text);
      break;
    case platform::kClientContactList:
      detail = "contacts=0";
      break;
    case platform::kClientCallStatus: {
      const auto* record = reinterpret_cast<const std::uint8_t*>(wParam);
      CallInfo call;
      call.id = Int32At(record + platform::kCallIdOffset);
      call.partner = tarvoapi::FieldText(std::span(record + sim::kCallPartnerOffset, sim::kCallPartnerSize),
                                         tarvoapi::kMaxPartner);
      call.status = tarvoapi::FieldText(std::span(record + platform::kCallStatusOffset, platform::kCallStatusSize),
                                        tarvoapi::kMaxCallStatus);
      call.conference = Int32At(record + platform::kCallConferenceOffset);
      call.incoming = IncomingLocked(call.id, call.status);
      if (IsEndStatus(call.status)) {
        incoming_.erase(call.id);
      } else {
        incoming_[call.id] = call.incoming;
      }
      nextId_ = std::max(nextId_, call.id + 1);
      if (!call.partner.empty()) recentHandle_ = call.partner;
      note.param = static_cast<std::int32_t>(lParam);
      detail = "id=" + std::to_string(call.id) + " status=" + call.status +
               " conference=" + std::to_string(call.conference) + " kind=" + std::to_string(lParam) +
               " dir=" + (call.incoming ? "in" : "out") + " partner=" + call.partner;
      note.calls.push_back(std::move(call));
      break;
    }
    case platform::kClientVoicemailList: {
      std::size_t entries = 0;
      if (!voicemailLists_.empty()) {
        entries = voicemailLists_.front();
        voicemailLists_.pop_front();
      }
      const auto* array = reinterpret_cast<const std::uint8_t*>(wParam);
      for (std::size_t i = 0; array && i < entries; ++i) {
        tarvoapi::VoicemailRecord record;
        std::memcpy(record.data(), array + i * tarvoapi::kVoicemailSize, tarvoapi::kVoicemailSize);
        note.voicemails.push_back(record);
      }
      note.param = static_cast<std::int32_t>(lParam);
      detail = "count=" + std::to_string(lParam) + " entries=" + std::to_string(note.voicemails.size());
      break;
    }
    case platform::kClientVoicemailStatus:
      note.id = static_cast<std::int32_t>(wParam);
      note.param = static_cast<std::int32_t>(lParam);
      detail = "id=" + std::to_string(note.id) + " status=" + std::to_string(note.param);
      break;
    default:
      return false;
  }
  keepAlive.reset();  // everything needed is copied into the message
  if (window == 0 || window != library_) return false;
  outbox_.Send(window, tarvoapi::kNotify, tarvoapi::Encode(note));
  Emit("note", Hex(msg, 4) + " " + detail);
  return true;
}

// --- control commands -----------------------------------------------------------------------

std::string SoftphoneSim::Control(std::string_view line) {
  CatchUp();
  const auto words = sim::SplitWords(line);
  if (words.empty()) return "error empty command";
  std::lock_guard lock(mutex_);
  return ControlLocked(words, line);
}

std::string SoftphoneSim::SetCallStatusLocked(int id, std::string_view status, std::optional<std::int32_t> conference,
                                              std::optional<std::string> partner) {
  Model::CallUpdate update;
  update.id = id;
  update.status = std::string(status);
  update.conference = conference;
  // The model makes a call's partner the recent call handle; so does the library.
  if (partner && !partner->empty()) recentHandle_ = *partner;
  update.partner = std::move(partner);
  model_.AddOrUpdateCall(update);
  nextId_ = std::max(nextId_, id + 1);
  return "ok";
}

std::string SoftphoneSim::ControlLocked(const std::vector<std::string_view>& words, std::string_view line) {
  const std::string_view verb = words[0];
  const auto argument = [&](std::size_t i) { return i < words.size() ? words[i] : std::string_view{}; };
  const auto callArgument = [&](int& id) { return words.size() >= 2 && ParseNumber(words[1], id) && id > 0; };
  const auto onOff = [&](bool& on) {
    if (words.size() != 2 || !(sim::EqualsNoCase(words[1], "on") || sim::EqualsNoCase(words[1], "off"))) return false;
    on = sim::EqualsNoCase(words[1], "on");
    return true;
  };
  int id = 0;
  bool on = false;

  if (sim::EqualsNoCase(verb, "incoming")) {
    const std::string partner = RestFrom(line, words, 1);
    if (partner.empty()) return "error incoming needs a partner";
    for (const auto& call : model_.Calls()) nextId_ = std::max(nextId_, call.id + 1);
    id = nextId_++;
    incoming_[id] = true;
    SetCallStatusLocked(id, "RINGING", std::nullopt, partner);
    return "ok " + std::to_string(id);
  }
  if (sim::EqualsNoCase(verb, "answer") || sim::EqualsNoCase(verb, "hold") || sim::EqualsNoCase(verb, "hangup")) {
    if (words.size() != 2 || !callArgument(id)) return "error expected a call id";
    const auto call = model_.FindCall(id);
    if (!call) return "error no call " + std::to_string(id);
    if (sim::EqualsNoCase(verb, "answer")) {
      // One conversation at a time: the others go on hold, the call's own conference stays.
      for (const auto& other : model_.Calls()) {
        if (other.id == id || other.status != "INPROGRESS") continue;
        if (call->conference > 0 && other.conference == call->conference) continue;
        SetCallStatusLocked(other.id, "ONHOLD", std::nullopt, std::nullopt);
      }
      return SetCallStatusLocked(id, "INPROGRESS", std::nullopt, std::nullopt);
    }
    if (sim::EqualsNoCase(verb, "hold")) return SetCallStatusLocked(id, "ONHOLD", std::nullopt, std::nullopt);
    const bool ringingIn = call->status == "RINGING" && call->incoming;
    const bool connecting = call->status == "ROUTING" || (call->status == "RINGING" && !call->incoming);
    return SetCallStatusLocked(id,
                               ringingIn    ? "REFUSED"
                               : connecting ? "CANCELLED"
                                            : "FINISHED",
                               std::nullopt, std::nullopt);
  }
  if (sim::EqualsNoCase(verb, "status")) {
    std::int32_t conference = 0;
    if (words.size() < 3 || words.size() > 4 || !callArgument(id)) return "error expected: status <id> <STATUS>";
    if (words.size() == 4 && !ParseNumber(words[3], conference)) return "error bad conference number";
    if (!model_.FindCall(id) && !incoming_.contains(id)) incoming_[id] = !sim::EqualsNoCase(words[2], "ROUTING");
    return SetCallStatusLocked(id, UpperText(words[2]), words.size() == 4 ? std::optional(conference) : std::nullopt,
                               std::nullopt);
  }
  if (sim::EqualsNoCase(verb, "conference")) {
    std::int32_t conference = 0;
    if (words.size() != 3 || !callArgument(id) || !ParseNumber(words[2], conference)) {
      return "error expected: conference <id> <number>";
    }
    const auto call = model_.FindCall(id);
    if (!call) return "error no call " + std::to_string(id);
    return SetCallStatusLocked(id, call->status, conference, std::nullopt);
  }
  if (sim::EqualsNoCase(verb, "presence")) {
    if (words.size() != 2) return "error expected: presence <STATUS>";
    model_.PostStatusText("USERSTATUS " + UpperText(words[1]));
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "text")) {
    const std::string text = RestFrom(line, words, 1);
    if (text.empty()) return "error text needs a text";
    model_.PostStatusText(text);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "mute")) {
    if (!onOff(on)) return "error expected: mute on|off";
    model_.SetMuted(on);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "detach")) {
    if (!model_.Attached()) return "error no library attached";
    Emit("lib", "detached by the user");
    model_.Disconnect2Tarvo();
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "stop") || sim::EqualsNoCase(verb, "start")) {
    if (words.size() != 1) return "error unexpected arguments";
    if (sim::EqualsNoCase(verb, "stop")) {
      model_.Stop();
      incoming_.clear();
    } else {
      model_.Start();
    }
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "attach-answer")) {
    const std::string_view value = argument(1);
    if (words.size() != 2) return "error expected: attach-answer accept|pending|refuse";
    if (sim::EqualsNoCase(value, "accept")) {
      answer_ = Model::AttachAnswer::Accept;
    } else if (sim::EqualsNoCase(value, "pending")) {
      answer_ = Model::AttachAnswer::Pending;
    } else if (sim::EqualsNoCase(value, "refuse")) {
      answer_ = Model::AttachAnswer::Refuse;
    } else {
      return "error expected: attach-answer accept|pending|refuse";
    }
    model_.SetAttachAnswer(answer_);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "allow") || sim::EqualsNoCase(verb, "deny")) {
    // The user answers the request on screen; later requests are asked again.
    if (words.size() != 1) return "error unexpected arguments";
    model_.SetAttachAnswer(sim::EqualsNoCase(verb, "allow") ? Model::AttachAnswer::Accept
                                                            : Model::AttachAnswer::Refuse);
    model_.SetAttachAnswer(answer_);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "message-window")) {
    const std::string_view value = argument(1);
    if (words.size() != 2 || !(sim::EqualsNoCase(value, "open") || sim::EqualsNoCase(value, "closed"))) {
      return "error expected: message-window open|closed";
    }
    model_.SetMessageWindowOpen(sim::EqualsNoCase(value, "open"));
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "window")) {
    const std::string_view value = argument(1);
    if (words.size() != 2 || !(sim::EqualsNoCase(value, "foreground") || sim::EqualsNoCase(value, "background"))) {
      return "error expected: window foreground|background";
    }
    model_.SetMainWindow(sim::EqualsNoCase(value, "foreground") ? Model::MainWindow::Foreground
                                                                : Model::MainWindow::Background);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "recent")) {
    const std::string handle = RestFrom(line, words, 1);
    if (handle.empty()) return "error recent needs a handle";
    model_.SetRecentCallHandle(handle);
    recentHandle_ = handle;
    if (library_ && model_.Attached()) {
      ClientMessage state;
      state.kind = tarvoapi::kClientState;
      state.calls = CallsLocked();
      state.recentHandle = recentHandle_;
      outbox_.Send(library_, tarvoapi::kClientState, tarvoapi::Encode(state));
    }
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "voicemail")) {
    Model::Voicemail voicemail;
    if (words.size() < 5 || !ParseNumber(words[1], voicemail.id) || !ParseNumber(words[2], voicemail.timestamp) ||
        !ParseNumber(words[3], voicemail.status)) {
      return "error expected: voicemail <id> <time> <status> <partner>";
    }
    voicemail.partner = RestFrom(line, words, 4);
    SyncVoicemailsLocked();
    std::erase_if(voicemails_, [&](const Model::Voicemail& v) { return v.id == voicemail.id; });
    voicemails_.push_back(voicemail);
    model_.SetVoicemails(voicemails_, voicemailCount_);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "voicemail-status")) {
    std::int32_t status = 0;
    if (words.size() != 3 || !ParseNumber(words[1], id) || !ParseNumber(words[2], status)) {
      return "error expected: voicemail-status <id> <status>";
    }
    model_.SetVoicemailStatus(id, status);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "voicemails")) {
    if (words.size() != 2 || !sim::EqualsNoCase(words[1], "clear")) return "error expected: voicemails clear";
    voicemails_.clear();
    model_.SetVoicemails(voicemails_, voicemailCount_);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "voicemail-count")) {
    std::intptr_t count = 0;
    if (words.size() == 2 && sim::EqualsNoCase(words[1], "real")) {
      voicemailCount_.reset();
    } else if (words.size() == 2 && ParseNumber(words[1], count)) {
      voicemailCount_ = count;
    } else {
      return "error expected: voicemail-count <n>|real";
    }
    SyncVoicemailsLocked();
    model_.SetVoicemails(voicemails_, voicemailCount_);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "reply-delay")) {
    std::uint32_t ms = 0;
    if (words.size() != 2 || !ParseNumber(words[1], ms)) return "error expected: reply-delay <ms>";
    model_.SetReplyDelay(ms);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "hold-replies")) {
    if (!onOff(on)) return "error expected: hold-replies on|off";
    model_.SetHoldReplies(on);
    return "ok";
  }
  if (sim::EqualsNoCase(verb, "state")) return "ok " + StateLocked();
  if (sim::EqualsNoCase(verb, "calls")) {
    std::string text = "ok";
    for (const auto& call : model_.Calls()) {
      text += " " + std::to_string(call.id) + ":" + call.status + ":" + std::to_string(call.conference) + ":" +
              (call.incoming ? "in" : "out") + ":" + sim::Quote(call.partner);
    }
    return text;
  }
  if (sim::EqualsNoCase(verb, "help")) return "ok see the list of commands in the program's help";
  return "error unknown command";
}

void SoftphoneSim::SyncVoicemailsLocked() {
  // Playback changes statuses inside the model; keep them when the list is set again.
  for (auto& voicemail : voicemails_) {
    if (const auto status = model_.VoicemailStatus(voicemail.id)) voicemail.status = *status;
  }
}

std::string SoftphoneSim::StateLocked() {
  const bool running = model_.Running();
  std::string text = "running=" + std::string(running ? "1" : "0");
  text += " attached=" + std::string(model_.Attached() ? "1" : "0");
  text += " library=" + Hex(library_, 8);
  text += " presence=" + model_.Presence();
  text += " mute=" + std::string(model_.Muted() ? "on" : "off");
  text += " audio-in=" + sim::Quote(model_.AudioIn());
  text += " audio-out=" + sim::Quote(model_.AudioOut());
  text += " window=" + std::string(WindowName(model_.MainWindowState()));
  text += " message-window=" + std::string(model_.MessageWindowOpen() ? "open" : "closed");
  text += " recent=" + sim::Quote(recentHandle_.value_or(""));
  text += " answer=" + std::string(AnswerName(answer_));
  text += " calls=" + std::to_string(model_.Calls().size());
  text += " voicemails=" + std::to_string(voicemails_.size());
  return text;
}

SoftphoneSim::View SoftphoneSim::Snapshot() const {
  View view;
  {
    std::lock_guard lock(mutex_);
    view.library = library_;
    view.libraryProcess = libraryProcess_;
    view.answer = answer_;
    view.recentHandle = recentHandle_;
    view.voicemails = voicemails_.size();
    view.voicemailList = voicemails_;
  }
  for (auto& voicemail : view.voicemailList) {
    if (const auto status = model_.VoicemailStatus(voicemail.id)) voicemail.status = *status;
  }
  view.running = model_.Running();
  view.attached = model_.Attached();
  view.muted = model_.Muted();
  view.messageWindow = model_.MessageWindowOpen();
  view.window = model_.MainWindowState();
  view.presence = model_.Presence();
  view.audioIn = model_.AudioIn();
  view.audioOut = model_.AudioOut();
  view.calls = model_.Calls();
  return view;
}

}  // namespace softphone_sim
