#include "sim/SoftphoneModel.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace sim {

namespace {

void PutInt32(std::uint8_t* at, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

// Cut to the field and always terminated.
void PutText(std::uint8_t* at, std::size_t size, std::string_view text) {
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(at, text.data(), length);
  at[length] = 0;
}

bool IsEndStatus(std::string_view status) {
  static constexpr std::string_view kEnded[] = {"FINISHED", "MISSED", "REFUSED", "CANCELLED", "BUSY", "FAILED"};
  return std::find(std::begin(kEnded), std::end(kEnded), status) != std::end(kEnded);
}

}  // namespace

SoftphoneModel::SoftphoneModel(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript, WindowPoster& poster)
    : SoftphoneModel(clock, scheduler, transcript, poster, Options{}) {}

SoftphoneModel::SoftphoneModel(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript, WindowPoster& poster,
                               Options options)
    : clock_(clock),
      scheduler_(scheduler),
      transcript_(transcript),
      poster_(poster),
      outgoingAnswerMs_(options.outgoingAnswerMs),
      ownAudioIn_(options.ownAudioIn),
      ownAudioOut_(options.ownAudioOut),
      audioIn_(options.ownAudioIn),
      audioOut_(options.ownAudioOut),
      replyDelayMs_(options.replyDelayMs) {}

SoftphoneModel::~SoftphoneModel() {
  // Waits for a callback that is running right now; later ones find the model gone.
  std::lock_guard guard(life_->mutex);
  life_->alive = false;
}

// --- notifications -------------------------------------------------------------------------

SoftphoneModel::Notification SoftphoneModel::Plain(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  return Notification{msg, wParam, lParam, nullptr};
}

SoftphoneModel::Notification SoftphoneModel::StatusText(std::string text) {
  auto payload = std::make_shared<const std::string>(std::move(text));
  const auto pointer = reinterpret_cast<std::uintptr_t>(payload->c_str());
  return Notification{platform::kClientStatusText, pointer, 0, std::move(payload)};
}

SoftphoneModel::Notification SoftphoneModel::CallRecord(const Call& call, std::intptr_t kind) {
  // Built when the status changes, so the record shows that status even if it is handled later.
  auto record = std::make_shared<std::array<std::uint8_t, platform::kCallStructureSize>>();
  FillCallStructure(call, record->data());
  const auto pointer = reinterpret_cast<std::uintptr_t>(record->data());
  return Notification{platform::kClientCallStatus, pointer, kind, std::move(record)};
}

void SoftphoneModel::FillCallStructure(const Call& call, std::uint8_t* record) {
  std::memset(record, 0, platform::kCallStructureSize);
  PutInt32(record + platform::kCallIdOffset, call.id);
  PutText(record + kCallPartnerOffset, kCallPartnerSize, call.partner);
  PutText(record + platform::kCallStatusOffset, platform::kCallStatusSize, call.status);
  PutInt32(record + platform::kCallConferenceOffset, call.conference);
}

void SoftphoneModel::Apply(Effects effects) {
  std::function<void(MainWindow)> listener;
  MainWindow state = MainWindow::Absent;
  if (effects.windowChanged) {
    std::lock_guard lock(mutex_);
    listener = windowListener_;
    state = running_ ? mainWindow_ : MainWindow::Absent;
  }
  Emit(std::move(effects.notes));
  for (const int id : effects.outgoing) {
    ScheduleAt(clock_.Now() + outgoingAnswerMs_, [this, id] { ConnectOutgoing(id); });
  }
  if (listener) listener(state);
}

void SoftphoneModel::Emit(std::vector<Notification> notes) {
  if (notes.empty()) return;
  const std::uint64_t now = clock_.Now();
  std::optional<std::uint64_t> wake;
  {
    std::lock_guard lock(mutex_);
    for (auto& note : notes) {
      if (holding_) {
        held_.push_back(std::move(note));
        continue;
      }
      outbox_.push_back(Queued{std::move(note), now + replyDelayMs_});
      wake = now + replyDelayMs_;
    }
  }
  if (wake) ScheduleAt(*wake, [this] { Deliver(); });
}

void SoftphoneModel::Deliver() {
  const std::uint64_t now = clock_.Now();
  std::vector<Notification> ready;
  platform::WindowHandle window;
  {
    std::lock_guard lock(mutex_);
    // First in, first out: a note sent with a shorter delay waits behind an earlier one.
    while (!outbox_.empty() && outbox_.front().due <= now) {
      ready.push_back(std::move(outbox_.front().note));
      outbox_.pop_front();
    }
    window = window_;
  }
  if (!window) return;
  for (auto& note : ready) poster_.PostTo(window, note.msg, note.wParam, note.lParam, std::move(note.keepAlive));
}

void SoftphoneModel::ScheduleAt(std::uint64_t time, std::function<void()> body) {
  scheduler_.At(time, [life = life_, body = std::move(body)] {
    std::lock_guard guard(life->mutex);
    if (life->alive) body();
  });
}

void SoftphoneModel::ConnectOutgoing(int id) {
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    Call* call = FindLocked(id);
    // The scenario may have ended or changed it meanwhile.
    if (call && IsConnecting(*call)) MakeActiveLocked(*call, effects);
  }
  Apply(std::move(effects));
}

// --- state changes under the lock ------------------------------------------------------------

void SoftphoneModel::AttemptAttachLocked(Effects& effects) {
  if (attached_) {
    effects.notes.push_back(Plain(platform::kClientAttached));
    return;
  }
  switch (answer_) {
    case AttachAnswer::Accept:
      attached_ = true;
      authPending_ = false;
      effects.notes.push_back(Plain(platform::kClientAttached));
      break;
    case AttachAnswer::Pending:
      authPending_ = true;
      effects.notes.push_back(Plain(platform::kClientAttachPending));
      break;
    case AttachAnswer::Refuse:
      wanted_ = false;
      authPending_ = false;
      effects.notes.push_back(Plain(platform::kClientAttachRefused));
      break;
  }
}

SoftphoneModel::Call* SoftphoneModel::FindLocked(int id) {
  const auto it = std::find_if(calls_.begin(), calls_.end(), [id](const Call& call) { return call.id == id; });
  return it == calls_.end() ? nullptr : &*it;
}

void SoftphoneModel::SetStatusLocked(Call& call, std::string_view status, std::intptr_t kind, Effects& effects) {
  call.status = std::string(status);
  effects.notes.push_back(CallRecord(call, kind));
  if (IsEndStatus(status)) {
    const int id = call.id;
    std::erase_if(calls_, [id](const Call& other) { return other.id == id; });
  }
}

void SoftphoneModel::MakeActiveLocked(Call& call, Effects& effects) {
  for (auto& other : calls_) {
    if (&other == &call || other.status != "INPROGRESS") continue;
    if (call.conference > 0 && other.conference == call.conference) continue;
    SetStatusLocked(other, "ONHOLD", 1, effects);
  }
  SetStatusLocked(call, "INPROGRESS", 1, effects);
}

void SoftphoneModel::HoldActiveLocked(Effects& effects) {
  for (auto& call : calls_) {
    if (call.status == "INPROGRESS") SetStatusLocked(call, "ONHOLD", 1, effects);
  }
}

void SoftphoneModel::SetMainWindowLocked(MainWindow state, Effects& effects) {
  if (mainWindow_ == state) return;
  mainWindow_ = state;
  effects.windowChanged = true;
}

// --- the world, as directives set it ---------------------------------------------------------

void SoftphoneModel::Start() {
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    if (running_) return;
    running_ = true;
    effects.windowChanged = mainWindow_ != MainWindow::Absent;
    effects.notes.push_back(Plain(platform::kClientAvailable));
    if (wanted_) AttemptAttachLocked(effects);
  }
  Apply(std::move(effects));
}

void SoftphoneModel::Stop() {
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    running_ = false;
    effects.windowChanged = mainWindow_ != MainWindow::Absent;
    if (attached_) {
      effects.notes.push_back(Plain(platform::kClientDetached));
    } else if (authPending_) {
      effects.notes.push_back(Plain(platform::kClientNotAvailable));
    }
    // A client that quits takes its calls, playback, mute and message window with it.
    attached_ = false;
    authPending_ = false;
    calls_.clear();
    muted_ = false;
    offHook_ = false;
    messageWindow_ = false;
    for (auto& voicemail : voicemails_) {
      if (voicemail.status == kVoicemailPlaying) voicemail.status = kVoicemailPlayed;
    }
  }
  Apply(std::move(effects));
}

void SoftphoneModel::SetAttachAnswer(AttachAnswer answer) {
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    answer_ = answer;
    // The user answers an authorisation request that is still open.
    if (running_ && authPending_ && answer != AttachAnswer::Pending) AttemptAttachLocked(effects);
  }
  Apply(std::move(effects));
}

void SoftphoneModel::SetMainWindow(MainWindow state) {
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    SetMainWindowLocked(state, effects);
    if (!running_) effects.windowChanged = false;
  }
  Apply(std::move(effects));
}

void SoftphoneModel::AddOrUpdateCall(const CallUpdate& update) {
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    Call* call = FindLocked(update.id);
    if (!call) {
      calls_.push_back(Call{update.id, update.status, 0, {}, update.status != "ROUTING", {}});
      call = &calls_.back();
      nextCallId_ = std::max(nextCallId_, update.id + 1);
    }
    if (update.conference) call->conference = *update.conference;
    if (update.partner) {
      call->partner = *update.partner;
      recentHandle_ = *update.partner;
    }
    SetStatusLocked(*call, update.status, update.kind, effects);
  }
  Apply(std::move(effects));
}

void SoftphoneModel::PostStatusText(std::string_view text) {
  static constexpr std::string_view kPresencePrefix = "USERSTATUS ";
  if (text.starts_with(kPresencePrefix)) {
    std::lock_guard lock(mutex_);
    presence_ = std::string(text.substr(kPresencePrefix.size()));
  }
  Emit({StatusText(std::string(text))});
}

void SoftphoneModel::SetMuted(bool muted) {
  {
    std::lock_guard lock(mutex_);
    muted_ = muted;
  }
  Emit({StatusText(muted ? "MUTE ON" : "MUTE OFF")});
}

void SoftphoneModel::SetRecentCallHandle(std::string_view handle) {
  std::lock_guard lock(mutex_);
  recentHandle_ = std::string(handle);
}

void SoftphoneModel::SetMessageWindowOpen(bool open) {
  std::lock_guard lock(mutex_);
  messageWindow_ = open;
}

void SoftphoneModel::SetHoldReplies(bool hold) {
  const std::uint64_t now = clock_.Now();
  std::optional<std::uint64_t> wake;
  {
    std::lock_guard lock(mutex_);
    holding_ = hold;
    if (hold || held_.empty()) return;
    // They waited long enough: released at once, behind anything still on its way.
    for (auto& note : held_) outbox_.push_back(Queued{std::move(note), now});
    held_.clear();
    wake = now;
  }
  ScheduleAt(*wake, [this] { Deliver(); });
}

void SoftphoneModel::SetReplyDelay(std::uint32_t ms) {
  std::lock_guard lock(mutex_);
  replyDelayMs_ = ms;
}

void SoftphoneModel::SetVoicemails(std::vector<Voicemail> voicemails, std::optional<std::intptr_t> countOverride) {
  std::lock_guard lock(mutex_);
  voicemails_ = std::move(voicemails);
  voicemailCountOverride_ = countOverride;
}

void SoftphoneModel::SetVoicemailStatus(std::int32_t id, std::int32_t status) {
  {
    std::lock_guard lock(mutex_);
    for (auto& voicemail : voicemails_) {
      if (voicemail.id == id) voicemail.status = status;
    }
  }
  Emit({Plain(platform::kClientVoicemailStatus, static_cast<std::uintptr_t>(id), status)});
}

void SoftphoneModel::SetMainWindowListener(std::function<void(MainWindow)> listener) {
  std::lock_guard lock(mutex_);
  windowListener_ = std::move(listener);
}

// --- observation -----------------------------------------------------------------------------

bool SoftphoneModel::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

bool SoftphoneModel::Attached() const {
  std::lock_guard lock(mutex_);
  return attached_;
}

bool SoftphoneModel::Muted() const {
  std::lock_guard lock(mutex_);
  return muted_;
}

bool SoftphoneModel::OffHook() const {
  std::lock_guard lock(mutex_);
  return offHook_;
}

bool SoftphoneModel::MessageWindowOpen() const {
  std::lock_guard lock(mutex_);
  return messageWindow_;
}

SoftphoneModel::MainWindow SoftphoneModel::MainWindowState() const {
  std::lock_guard lock(mutex_);
  return running_ ? mainWindow_ : MainWindow::Absent;
}

std::string SoftphoneModel::AudioIn() const {
  std::lock_guard lock(mutex_);
  return audioIn_;
}

std::string SoftphoneModel::AudioOut() const {
  std::lock_guard lock(mutex_);
  return audioOut_;
}

std::string SoftphoneModel::Presence() const {
  std::lock_guard lock(mutex_);
  return presence_;
}

std::optional<SoftphoneModel::Call> SoftphoneModel::FindCall(int id) const {
  std::lock_guard lock(mutex_);
  for (const auto& call : calls_) {
    if (call.id == id) return call;
  }
  return std::nullopt;
}

std::vector<SoftphoneModel::Call> SoftphoneModel::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::optional<std::int32_t> SoftphoneModel::VoicemailStatus(std::int32_t id) const {
  std::lock_guard lock(mutex_);
  for (const auto& voicemail : voicemails_) {
    if (voicemail.id == id) return voicemail.status;
  }
  return std::nullopt;
}

// --- platform::ClientApi ---------------------------------------------------------------------

bool SoftphoneModel::Initialize(platform::WindowHandle window) {
  transcript_.Add("api", "Initialize");
  std::lock_guard lock(mutex_);
  window_ = window;
  return window != 0;
}

void SoftphoneModel::Connect2Tarvo() {
  transcript_.Add("api", "Connect2Tarvo");
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    wanted_ = true;
    if (running_) {
      AttemptAttachLocked(effects);
    } else {
      effects.notes.push_back(Plain(platform::kClientNotAvailable));
    }
  }
  Apply(std::move(effects));
}

void SoftphoneModel::Disconnect2Tarvo() {
  transcript_.Add("api", "Disconnect2Tarvo");
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    wanted_ = false;
    authPending_ = false;
    if (attached_) effects.notes.push_back(Plain(platform::kClientDetached));
    attached_ = false;
  }
  Apply(std::move(effects));
}

void SoftphoneModel::SendStringCommand(const char* command) {
  const std::string_view text = command ? command : "";
  transcript_.Add("cmd", text);
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    if (AcceptsCommandsLocked()) ExecuteLocked(text, effects);
  }
  Apply(std::move(effects));
}

bool SoftphoneModel::SendCommandDirect(const char* command) {
  const std::string_view text = command ? command : "";
  transcript_.Add("cmd!", text);
  Effects effects;
  bool sent;
  {
    std::lock_guard lock(mutex_);
    sent = AcceptsCommandsLocked();
    if (sent) ExecuteLocked(text, effects);
  }
  Apply(std::move(effects));
  return sent;
}

void SoftphoneModel::GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                                   int& onHoldId) {
  inProgress = inProgressId = ringing = ringingId = onHold = onHoldId = 0;
  std::lock_guard lock(mutex_);
  // The id of a group is its earliest call.
  const auto count = [](const Call& call, int& number, int& id) {
    if (number++ == 0) id = call.id;
  };
  for (const auto& call : calls_) {
    if (call.status == "INPROGRESS") count(call, inProgress, inProgressId);
    if (IsRingingIn(call)) count(call, ringing, ringingId);
    if (call.status == "ONHOLD") count(call, onHold, onHoldId);
  }
}

void SoftphoneModel::GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing,
                                     unsigned long* ringingIds, int& onHold, unsigned long* onHoldIds) {
  // On entry a count is the capacity of its array; ids beyond it are counted, never written.
  const auto capacity = [](unsigned long* ids, int count) { return ids && count > 0 ? count : 0; };
  const int capacities[3] = {capacity(inProgressIds, inProgress), capacity(ringingIds, ringing),
                             capacity(onHoldIds, onHold)};
  unsigned long* arrays[3] = {inProgressIds, ringingIds, onHoldIds};
  int counts[3] = {0, 0, 0};
  {
    std::lock_guard lock(mutex_);
    for (const auto& call : calls_) {
      int group = -1;
      if (call.status == "INPROGRESS") group = 0;
      if (IsRingingIn(call)) group = 1;
      if (call.status == "ONHOLD") group = 2;
      if (group < 0) continue;
      if (counts[group] < capacities[group]) arrays[group][counts[group]] = static_cast<unsigned long>(call.id);
      ++counts[group];
    }
  }
  inProgress = counts[0];
  ringing = counts[1];
  onHold = counts[2];
}

bool SoftphoneModel::GetCallbyID(int id, std::uint8_t* callStructure) {
  if (!callStructure) return false;
  std::lock_guard lock(mutex_);
  const Call* call = FindLocked(id);
  if (!call) return false;
  FillCallStructure(*call, callStructure);
  return true;
}

void SoftphoneModel::SetCurrentCalltoOnHold() {
  transcript_.Add("api", "SetCurrentCalltoOnHold");
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    if (AcceptsCommandsLocked()) HoldActiveLocked(effects);
  }
  Apply(std::move(effects));
}

bool SoftphoneModel::GetRecentCallHandle(char* handle) {
  bool found = false;
  {
    std::lock_guard lock(mutex_);
    if (handle && recentHandle_) {
      PutText(reinterpret_cast<std::uint8_t*>(handle), platform::kRecentCallHandleSize, *recentHandle_);
      found = true;
    }
  }
  transcript_.Add("api", found ? "GetRecentCallHandle -> 1" : "GetRecentCallHandle -> 0");
  return found;
}

bool SoftphoneModel::CloseTarvoMSGDialog() {
  bool closed = false;
  {
    std::lock_guard lock(mutex_);
    if (running_ && messageWindow_) {
      messageWindow_ = false;
      closed = true;
    }
  }
  transcript_.Add("api", closed ? "CloseTarvoMSGDialog -> 1" : "CloseTarvoMSGDialog -> 0");
  return closed;
}

void SoftphoneModel::MinimizeTarvo() {
  transcript_.Add("api", "MinimizeTarvo");
  Effects effects;
  {
    std::lock_guard lock(mutex_);
    if (running_ && mainWindow_ == MainWindow::Foreground) SetMainWindowLocked(MainWindow::Background, effects);
  }
  Apply(std::move(effects));
}

void SoftphoneModel::UpdateVMList() {
  transcript_.Add("api", "UpdateVMList");
  std::shared_ptr<std::vector<std::uint8_t>> entries;
  std::intptr_t count = 0;
  {
    std::lock_guard lock(mutex_);
    if (!AcceptsCommandsLocked()) return;
    entries = std::make_shared<std::vector<std::uint8_t>>(voicemails_.size() * platform::kVoicemailEntrySize);
    std::uint8_t* entry = entries->data();
    for (const auto& voicemail : voicemails_) {
      PutInt32(entry + platform::kVoicemailIdOffset, voicemail.id);
      PutInt32(entry + platform::kVoicemailTimestampOffset, voicemail.timestamp);
      PutInt32(entry + platform::kVoicemailStatusOffset, voicemail.status);
      PutText(entry + platform::kVoicemailPartnerOffset, platform::kVoicemailPartnerSize, voicemail.partner);
      entry += platform::kVoicemailEntrySize;
    }
    const auto sent = static_cast<std::intptr_t>(voicemails_.size());
    // The library never announces more records than it hands over.
    count = std::min(voicemailCountOverride_.value_or(sent), sent);
  }
  const auto pointer = entries->empty() ? std::uintptr_t{0} : reinterpret_cast<std::uintptr_t>(entries->data());
  Emit({Notification{platform::kClientVoicemailList, pointer, count, std::move(entries)}});
}

void SoftphoneModel::UpdateContactList1() {
  transcript_.Add("api", "UpdateContactList1");
  bool attached;
  {
    std::lock_guard lock(mutex_);
    attached = AcceptsCommandsLocked();
  }
  // The bridge ignores the contact list; the model sends an empty one.
  if (attached) Emit({Plain(platform::kClientContactList)});
}

}  // namespace sim
