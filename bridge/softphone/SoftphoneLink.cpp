// Notifications from the client library, and the mute poll thread.
#include "bridge/softphone/SoftphoneLink.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "bridge/handset/HandsetCommandQueue.h"
#include "platform/ClientApi.h"

namespace bridge {
namespace {

constexpr std::uint32_t kMutePollIdleMs = 5000;
constexpr std::uint32_t kMutePollCallMs = 2000;

// The end statuses that stop the ringing.
constexpr const char* kEndStatuses[] = {"MISSED", "REFUSED", "INPROGRESS", "CANCELLED", "BUSY"};
// Presence statuses, the first that appears wins.
constexpr const char* kRingPresences[] = {"USERSTATUS ONLINE", "USERSTATUS AWAY", "USERSTATUS NA",
                                          "USERSTATUS INVISIBLE"};

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Drops the first `count` characters, or all of them when the text is shorter.
std::string_view DropPrefix(std::string_view text, std::size_t count) {
  return text.substr(std::min(count, text.size()));
}

}  // namespace

bool CSoftphoneLink::OnNotification(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
  switch (msg) {
    case platform::kClientAttached:
      OnAttached();
      return true;
    case platform::kClientAttachPending:
    case platform::kClientAttachRefused:
      OnAttachFailed();
      return true;
    case platform::kClientNotAvailable:
    case platform::kClientAvailable:
    case platform::kClientContactList:
      return true;
    case platform::kClientStatusText:
      OnStatusText(reinterpret_cast<const char*>(wParam));
      return true;
    case platform::kClientCallStatus:
      OnCallStatus(reinterpret_cast<const std::uint8_t*>(wParam), lParam);
      return true;
    case platform::kClientDetached:
      OnDetached();
      return true;
    default:
      return false;
  }
}

void CSoftphoneLink::OnAttached() {
  state_.clientAttached = true;
  if (hooks_.handsetOpen && hooks_.handsetOpen() && hooks_.pointClientAtHandset) hooks_.pointClientAtHandset();
  ports_.client.SendStringCommand("PROTOCOL 2");
  if (hooks_.updateTray) hooks_.updateTray();
}

void CSoftphoneLink::OnAttachFailed() {
  state_.clientAttached = false;
  if (hooks_.updateTray) hooks_.updateTray();
}

void CSoftphoneLink::OnStatusText(const char* raw) {
  if (!raw) return;
  std::string_view text(raw);
  if (text == "MUTE ON") {
    state_.clientMuted = true;
  } else if (text == "MUTE OFF") {
    state_.clientMuted = false;
  }
  if (Contains(text, "AUDIO_IN")) {
    text = DropPrefix(text, 9);
    state_.SetClientAudioIn(text);  // cut to 255 characters
  }
  if (Contains(text, "AUDIO_OUT")) {
    text = DropPrefix(text, 10);
    state_.SetClientAudioOut(text);
  }
  if (Contains(text, "USERSTATUS DND")) ring_.ringMode = RingMode::Silent;
  for (const char* presence : kRingPresences) {
    if (Contains(text, presence)) {
      ring_.ringMode = RingMode::Ring;
      break;
    }
  }
}

void CSoftphoneLink::OnCallStatus(const std::uint8_t* record, std::intptr_t kind) {
  if (!record || (kind != 1 && kind != 2)) return;
  std::int32_t id = 0;
  std::memcpy(&id, record + platform::kCallIdOffset, sizeof id);
  // The status field is read within its 20 bytes, terminated or not.
  const char* field = reinterpret_cast<const char*>(record + platform::kCallStatusOffset);
  const std::string_view status(field, strnlen(field, platform::kCallStatusSize));
  if (status == "RINGING") {
    state_.ringingCallId = id;
    state_.callRinging = true;
    if (ReadCallSituation().inProgress > 0) {
      Queue(kHandsetRingSilent);
    } else if (ring_.ringMode == RingMode::Ring) {
      Queue(kHandsetRing);
    } else if (ring_.ringMode == RingMode::Silent) {
      Queue(kHandsetRingSilent);
    }
  }
  bool ends = false;
  for (const char* end : kEndStatuses) ends |= status == end;
  // The ringing call itself leaving RINGING any other way (a caller who gives up may be reported
  // FINISHED or FAILED) stops the ringing too: otherwise the handset would ring on with no call
  // until some other call ended. Such a status of another call still changes nothing.
  ends |= status != "RINGING" && state_.callRinging && id == state_.ringingCallId;
  if (ends) {
    state_.callRinging = false;
    Queue(kHandsetStopRing);
  }
}

void CSoftphoneLink::OnDetached() {
  state_.clientAttached = false;
  state_.callRinging = false;
  state_.clientMuted = false;
  Queue(kHandsetStopRing);
  if (hooks_.updateTray) hooks_.updateTray();
  if (hooks_.closeVoicemailWindows) hooks_.closeVoicemailWindows();
}

void CSoftphoneLink::RequestClientAudioDevices() {
  if (!state_.clientAttached) return;
  ports_.client.SendStringCommand("GET AUDIO_IN");
  ports_.client.SendStringCommand("GET AUDIO_OUT");
}

void CSoftphoneLink::MutePollThread(std::stop_token stop) {
  std::uint32_t interval = kMutePollIdleMs;
  while (!stop.stop_requested()) {
    if (state_.clientAttached) {
      const auto calls = ReadCallSituation();
      interval = calls.inProgress > 0 || calls.onHoldId > 0 ? kMutePollCallMs : kMutePollIdleMs;
      ports_.client.SendStringCommand("GET MUTE");
    }
    ports_.clock.Sleep(interval);
  }
}

CSoftphoneLink::CallSituation CSoftphoneLink::ReadCallSituation() {
  CallSituation calls;
  ports_.client.GetCallNumber(calls.inProgress, calls.inProgressId, calls.ringing, calls.ringingId, calls.onHold,
                              calls.onHoldId);
  return calls;
}

void CSoftphoneLink::Queue(std::uint8_t code) {
  if (hooks_.queueHandsetCommand) hooks_.queueHandsetCommand(code);
}

}  // namespace bridge
