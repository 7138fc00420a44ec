#include "companions/tarvoapi/real/ClientLink.h"

#include <algorithm>
#include <cstring>

#include "platform/ClientApi.h"

namespace tarvoapi {

namespace {

// The bridge's command texts are short; one that does not end within the limit is refused.
std::optional<std::string> CommandText(const char* text) {
  if (!text) return std::nullopt;
  const void* end = std::memchr(text, 0, kMaxCommand + 1);
  if (!end) return std::nullopt;
  return std::string(text, static_cast<const char*>(end));
}

// The client's answers to an attach request, and its announcement.
bool IsAttachAnswer(std::uint32_t msg) { return msg >= platform::kClientAttached && msg <= platform::kClientAvailable; }

bool CarriesPayload(std::uint32_t msg) {
  return msg == platform::kClientStatusText || msg == platform::kClientContactList ||
         msg == platform::kClientCallStatus || msg == platform::kClientVoicemailList;
}

}  // namespace

// --- the exports ----------------------------------------------------------------------------

bool ClientLink::Initialize(std::uintptr_t bridgeWindow) {
  const bool exact = bridgeWindow != 0 && system_.WatchBridgeWindow(bridgeWindow);
  std::lock_guard lock(mutex_);
  bridgeWindow_ = bridgeWindow;
  exactRelease_ = exact;
  return bridgeWindow != 0;
}

void ClientLink::Connect() { Enqueue(LibraryMessage{kAttach, kProtocolVersion, system_.ProcessId(), {}}); }

void ClientLink::Disconnect() { Enqueue(LibraryMessage{kDetach, 0, 0, {}}); }

void ClientLink::SendCommand(const char* text) {
  auto command = CommandText(text);
  if (command) Enqueue(LibraryMessage{kCommand, 0, 0, std::move(*command)});
}

bool ClientLink::SendCommandDirect(const char* text) {
  auto command = CommandText(text);
  if (!command) return false;
  std::uintptr_t client;
  {
    std::lock_guard lock(mutex_);
    if (!attached_) return false;
    client = clientWindow_;
  }
  const auto answer = Send(client, LibraryMessage{kCommandDirect, 0, 0, std::move(*command)}, kDirectSendTimeoutMs);
  return answer && *answer == 1;
}

void ClientLink::GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                               int& onHoldId) {
  CallTable::Counts counts;
  {
    std::lock_guard lock(mutex_);
    counts = table_.Count();
  }
  inProgress = counts.inProgress;
  inProgressId = counts.inProgressId;
  ringing = counts.ringing;
  ringingId = counts.ringingId;
  onHold = counts.onHold;
  onHoldId = counts.onHoldId;
}

void ClientLink::GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing, unsigned long* ringingIds,
                                 int& onHold, unsigned long* onHoldIds) {
  std::lock_guard lock(mutex_);
  table_.CountEx(inProgress, inProgressIds, ringing, ringingIds, onHold, onHoldIds);
}

bool ClientLink::GetCallById(int id, std::uint8_t* record) {
  if (!record) return false;
  std::lock_guard lock(mutex_);
  const auto call = table_.Find(id);
  if (!call) return false;
  CallTable::FillRecord(*call, record);
  return true;
}

void ClientLink::HoldCurrentCall() { Enqueue(LibraryMessage{kHold, 0, 0, {}}); }

bool ClientLink::GetRecentCallHandle(char* handle) {
  if (!handle) return false;
  std::lock_guard lock(mutex_);
  const std::string text = recentHandle_.value_or("");
  const std::size_t length = std::min(text.size(), kMaxHandle);
  std::memcpy(handle, text.data(), length);
  handle[length] = '\0';
  return recentHandle_.has_value();
}

bool ClientLink::CloseMessageWindow() {
  std::uintptr_t client;
  {
    std::lock_guard lock(mutex_);
    client = clientWindow_;
  }
  if (!client) client = system_.FindClient();
  if (!client) return false;
  const auto answer = Send(client, LibraryMessage{kCloseMessageWindow, 0, 0, {}}, kDirectSendTimeoutMs);
  return answer && *answer == 1;
}

void ClientLink::Minimize() { Enqueue(LibraryMessage{kMinimize, 0, 0, {}}); }

void ClientLink::UpdateVoicemails() { Enqueue(LibraryMessage{kUpdateVoicemails, 0, 0, {}}); }

void ClientLink::UpdateContacts() { Enqueue(LibraryMessage{kUpdateContacts, 0, 0, {}}); }

void ClientLink::Enqueue(LibraryMessage item) {
  {
    std::lock_guard lock(mutex_);
    // A client that stopped answering: the bridge's later commands are dropped, not hoarded.
    if (queue_.size() >= kMaxQueued) return;
    queue_.push_back(std::move(item));
  }
  system_.Wake();
}

// --- the link thread ------------------------------------------------------------------------

void ClientLink::Service() {
  for (;;) {
    LibraryMessage item;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    if (item.kind == kAttach) {
      Attach();
      continue;
    }
    if (item.kind == kDetach) {
      Detach();
      continue;
    }
    std::uintptr_t client;
    {
      std::lock_guard lock(mutex_);
      // Minimising needs a running client, everything else an attached one.
      client = item.kind == kMinimize || attached_ ? clientWindow_ : 0;
    }
    if (item.kind == kMinimize && !client) client = system_.FindClient();
    if (client && !Send(client, item, kQueuedSendTimeoutMs)) CheckClient();
  }
}

void ClientLink::Poll() {
  CheckClient();
  std::uintptr_t client;
  {
    std::lock_guard lock(mutex_);
    if (!wanted_) return;
    // A known client is asked again only when it said it is not available; one that is attached,
    // waiting for its user or detached by its user is left alone.
    if (clientWindow_ && clientWindow_ != unavailable_) return;
    client = clientWindow_;
  }
  if (!client) {
    client = system_.FindClient();
    if (!client) return;
    bool announce;
    {
      std::lock_guard lock(mutex_);
      if (!wanted_ || clientWindow_) return;
      clientWindow_ = client;
      // A client that does not take requests is asked again on every poll, announced once.
      announce = announced_ != client;
      announced_ = client;
    }
    if (announce) Post(platform::kClientAvailable);
  }
  // A client that does not take the request is forgotten and looked for again next time.
  if (!Send(client, LibraryMessage{kAttach, kProtocolVersion, system_.ProcessId(), {}}, kQueuedSendTimeoutMs)) {
    Forget(client, false);
  }
}

void ClientLink::Attach() {
  CheckClient();
  std::uintptr_t client;
  {
    std::lock_guard lock(mutex_);
    wanted_ = true;
    // The bridge asked: it gets an answer, also one it had before.
    unavailable_ = 0;
    client = clientWindow_;
  }
  if (!client) client = system_.FindClient();
  if (client) {
    {
      std::lock_guard lock(mutex_);
      clientWindow_ = client;
    }
    if (Send(client, LibraryMessage{kAttach, kProtocolVersion, system_.ProcessId(), {}}, kQueuedSendTimeoutMs)) return;
    // Alive but not taking requests (hung): an attach it had is over as far as the bridge knows.
    if (Forget(client, false)) return;
  }
  // The request stays: Poll attaches when a client appears.
  Post(platform::kClientNotAvailable);
}

void ClientLink::Detach() {
  std::uintptr_t client;
  bool wasAttached;
  {
    std::lock_guard lock(mutex_);
    wanted_ = false;
    client = clientWindow_;
    wasAttached = attached_;
    attached_ = pending_ = false;
    unavailable_ = 0;
    table_.Clear();
  }
  if (client) Send(client, LibraryMessage{kDetach, 0, 0, {}}, kQueuedSendTimeoutMs);
  if (wasAttached) Post(platform::kClientDetached);
}

std::optional<std::intptr_t> ClientLink::Send(std::uintptr_t client, const LibraryMessage& message,
                                              std::uint32_t timeoutMs) {
  const auto body = Encode(message);
  return system_.SendToClient(client, message.kind, body, timeoutMs);
}

void ClientLink::CheckClient() {
  std::uintptr_t client;
  {
    std::lock_guard lock(mutex_);
    client = clientWindow_;
  }
  if (client && !system_.IsClientWindow(client)) Forget(client, true);
}

bool ClientLink::Forget(std::uintptr_t client, bool gone) {
  bool wasAttached;
  bool wasPending;
  {
    std::lock_guard lock(mutex_);
    if (clientWindow_ != client) return false;
    clientWindow_ = 0;
    if (gone) announced_ = 0;
    wasAttached = attached_;
    wasPending = pending_;
    attached_ = pending_ = false;
    table_.Clear();
  }
  if (wasAttached) Post(platform::kClientDetached);
  if (wasPending) Post(platform::kClientNotAvailable);
  return wasPending;
}

void ClientLink::Post(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  std::uintptr_t window;
  {
    std::lock_guard lock(mutex_);
    window = bridgeWindow_;
  }
  if (window) system_.PostToBridge(window, msg, wParam, lParam);
}

void ClientLink::PostPayload(std::uint32_t msg, std::vector<std::uint8_t> bytes, std::intptr_t lParam) {
  std::uintptr_t window;
  bool exact;
  {
    std::lock_guard lock(mutex_);
    window = bridgeWindow_;
    exact = exactRelease_;
  }
  if (!window) return;
  const std::uintptr_t address = payloads_.Keep(std::move(bytes), !exact, window);
  if (!system_.PostToBridge(window, msg, address, lParam)) payloads_.Release(address);
}

std::intptr_t ClientLink::FromClient(std::uintptr_t sender, std::uint32_t kind, std::span<const std::uint8_t> body) {
  {
    std::lock_guard lock(mutex_);
    // wParam names the sender; anything but the window the library talks to is a stranger.
    if (sender == 0 || sender != clientWindow_) {
      ++dropped_.strangers;
      return 0;
    }
  }
  const auto message = DecodeClientMessage(kind, body);
  if (!message) {
    std::lock_guard lock(mutex_);
    ++dropped_.malformed;
    return 0;
  }
  if (kind == kClientState) {
    std::lock_guard lock(mutex_);
    if (!attached_ || sender != clientWindow_) return 0;
    table_.Replace(message->calls);
    if (message->recentHandle) recentHandle_ = *message->recentHandle;
    return 1;
  }
  // An attach answer decides what the library is attached to: the handle it asked must still be
  // a window of the client's class (a destroyed window's handle can come back as another's).
  if (IsAttachAnswer(message->message) && !system_.IsClientWindow(sender)) {
    std::lock_guard lock(mutex_);
    ++dropped_.strangers;
    return 0;
  }
  return TakeNotification(sender, *message);
}

std::intptr_t ClientLink::Unreadable(std::uintptr_t sender) {
  std::lock_guard lock(mutex_);
  if (sender == 0 || sender != clientWindow_) {
    ++dropped_.strangers;
  } else {
    ++dropped_.malformed;
  }
  return 0;
}

std::intptr_t ClientLink::TakeNotification(std::uintptr_t sender, const ClientMessage& message) {
  const std::uint32_t msg = message.message;
  std::uint32_t post = msg;  // what the bridge is told; 0: nothing
  {
    std::lock_guard lock(mutex_);
    if (sender != clientWindow_) {
      ++dropped_.strangers;
      return 0;
    }
    // After Disconnect2Tarvo a late answer to the last request must not attach again.
    if (IsAttachAnswer(msg) && !wanted_) {
      ++dropped_.late;
      return 0;
    }
    switch (msg) {
      case platform::kClientAttached:
        attached_ = true;
        pending_ = false;
        unavailable_ = 0;
        table_.Replace(message.calls);
        if (message.recentHandle) recentHandle_ = *message.recentHandle;
        break;
      case platform::kClientAttachPending:
        attached_ = false;
        pending_ = true;
        unavailable_ = 0;
        table_.Clear();
        break;
      case platform::kClientAttachRefused:
        wanted_ = false;
        attached_ = pending_ = false;
        unavailable_ = 0;
        table_.Clear();
        break;
      case platform::kClientNotAvailable:
        // 0x47B means nothing to an attached bridge: it must hear that the attach is over. Said
        // again in answer to Poll's requests, the bridge knows it already.
        if (attached_) {
          post = platform::kClientDetached;
        } else if (!pending_ && unavailable_ == sender) {
          post = 0;
        }
        attached_ = pending_ = false;
        unavailable_ = sender;
        table_.Clear();
        break;
      case platform::kClientAvailable:
        break;
      case platform::kClientDetached:
        if (!attached_) return 0;
        attached_ = false;
        table_.Clear();
        break;
      default:
        if (!attached_) return 0;
        if (msg == platform::kClientCallStatus) {
          table_.Apply(message.calls.front());
          if (!message.calls.front().partner.empty()) recentHandle_ = message.calls.front().partner;
        }
        break;
    }
  }
  if (post == 0) return 1;

  switch (msg) {
    case platform::kClientStatusText: {
      std::vector<std::uint8_t> text(message.text.begin(), message.text.end());
      text.push_back(0);
      PostPayload(msg, std::move(text), 0);
      break;
    }
    case platform::kClientContactList: {
      // Zero-terminated handles one after the other, and an empty one to end the list. An empty
      // handle from the client would end it early: it is left out, and the count is of the list.
      std::vector<std::uint8_t> list;
      std::intptr_t count = 0;
      for (const auto& contact : message.contacts) {
        if (contact.empty()) continue;
        list.insert(list.end(), contact.begin(), contact.end());
        list.push_back(0);
        ++count;
      }
      list.push_back(0);
      PostPayload(msg, std::move(list), count);
      break;
    }
    case platform::kClientCallStatus: {
      std::vector<std::uint8_t> record(platform::kCallStructureSize);
      CallTable::FillRecord(message.calls.front(), record.data());
      PostPayload(msg, std::move(record), message.param);
      break;
    }
    case platform::kClientVoicemailList: {
      // The count the bridge gets never exceeds the records that came: it copies count entries.
      const auto delivered = static_cast<std::int32_t>(message.voicemails.size());
      const std::intptr_t count = std::clamp(message.param, 0, delivered);
      if (message.voicemails.empty()) {
        Post(msg, 0, count);
        break;
      }
      std::vector<std::uint8_t> entries;
      entries.reserve(message.voicemails.size() * kVoicemailSize);
      for (auto record : message.voicemails) {
        record[platform::kVoicemailPartnerOffset + platform::kVoicemailPartnerSize - 1] = 0;
        entries.insert(entries.end(), record.begin(), record.end());
      }
      PostPayload(msg, std::move(entries), count);
      break;
    }
    case platform::kClientVoicemailStatus:
      Post(msg, static_cast<std::uintptr_t>(static_cast<std::uint32_t>(message.id)), message.param);
      break;
    default:
      Post(post);
      break;
  }
  return 1;
}

// --- the bridge window's thread -------------------------------------------------------------

void ClientLink::Handled(std::uint32_t msg, std::uintptr_t wParam) {
  if (CarriesPayload(msg) && wParam) payloads_.Release(wParam);
}

void ClientLink::BridgeWindowGone(std::uintptr_t window) {
  payloads_.ReleaseOwner(window);
  std::lock_guard lock(mutex_);
  if (bridgeWindow_ == window) bridgeWindow_ = 0;
}

// --- observation ----------------------------------------------------------------------------

ClientLink::Dropped ClientLink::DroppedMessages() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

bool ClientLink::Attached() const {
  std::lock_guard lock(mutex_);
  return attached_;
}

bool ClientLink::Wanted() const {
  std::lock_guard lock(mutex_);
  return wanted_;
}

std::uintptr_t ClientLink::ClientWindow() const {
  std::lock_guard lock(mutex_);
  return clientWindow_;
}

}  // namespace tarvoapi
