// The operations the handset's keys (and the test panel's buttons) run: client commands chosen
// by the call situation, the key-activity mark, local key tones and volume steps.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/handset/HandsetCommandQueue.h"
#include "bridge/softphone/SoftphoneLink.h"
#include "platform/ClientApi.h"

namespace bridge {
namespace {

// The command text buffer of the redial key.
constexpr std::size_t kRedialCommandMax = 128;

std::string Format(const char* format, int id) {
  char text[64];
  std::snprintf(text, sizeof text, format, id);
  return text;
}

}  // namespace

void CSoftphoneLink::Send(std::string_view command) {
  if (!state_.clientAttached) return;
  ports_.client.SendStringCommand(std::string(command).c_str());
}

void CSoftphoneLink::SendDirect(std::string_view command) {
  if (!state_.clientAttached) return;
  ports_.client.SendCommandDirect(std::string(command).c_str());
}

void CSoftphoneLink::MarkKeyActivity() {
  if (hooks_.markKeyActivity) hooks_.markKeyActivity();
}

void CSoftphoneLink::OnKeyClient() {
  if (state_.clientAttached) {
    const bool background = hooks_.clientWindowInBackground && hooks_.clientWindowInBackground();
    SendDirect("FOCUS");
    if (background) SendDirect("BTN_RELEASED TARVO");
  }
  MarkKeyActivity();
}

void CSoftphoneLink::OnKeyUp() {
  Send("FOCUS");
  Send("BTN_RELEASED UP");
  MarkKeyActivity();
}

void CSoftphoneLink::OnKeyDown() {
  Send("FOCUS");
  Send("BTN_RELEASED DOWN");
  MarkKeyActivity();
}

void CSoftphoneLink::OnKeyHangUp() {
  // An open message window of the client takes the press.
  if (ports_.client.CloseTarvoMSGDialog()) return;
  Send("FOCUS");
  Send("BTN_RELEASED NO");
  Send("HOOK ON");
  MarkKeyActivity();
}

void CSoftphoneLink::OnKeyAnswer() {
  Queue(kHandsetStopRing);
  if (ports_.client.CloseTarvoMSGDialog()) return;
  if (state_.clientAttached) {
    const auto calls = ReadCallSituation();
    if (calls.inProgress == 0 && calls.ringing == 0) {
      Send("FOCUS");
      Send("BTN_RELEASED YES");
    } else if (calls.inProgress == 0) {
      Send("FOCUS");
      Send(Format("SET CALL %d STATUS INPROGRESS", calls.ringingId));
    } else if (calls.ringing > 0) {
      Send("FOCUS");
      Send(Format("SET CALL %d STATUS ONHOLD", calls.inProgressId));
      Send("FOCUS");
      Send("FOCUS");
      Send(Format("SET CALL %d STATUS INPROGRESS", state_.ringingCallId));
    }
  }
  MarkKeyActivity();
}

void CSoftphoneLink::OnKeyHold() {
  if (state_.clientAttached) {
    auto& client = ports_.client;
    int inProgress = 0, ringing = 0, onHold = 0;
    client.GetCallNumberEx(inProgress, nullptr, ringing, nullptr, onHold, nullptr);
    // The arrays hold the counts learned first, and the library fills no more than that.
    std::vector<unsigned long> inProgressIds(std::max(inProgress, 0)), ringingIds(std::max(ringing, 0)),
        heldIds(std::max(onHold, 0));
    int inProgressCount = static_cast<int>(inProgressIds.size());
    int ringingCount = static_cast<int>(ringingIds.size());
    int heldCount = static_cast<int>(heldIds.size());
    client.GetCallNumberEx(inProgressCount, inProgressIds.empty() ? nullptr : inProgressIds.data(), ringingCount,
                           ringingIds.empty() ? nullptr : ringingIds.data(), heldCount,
                           heldIds.empty() ? nullptr : heldIds.data());
    // What to do follows the calls as they are now; only the ids read are bounded by the arrays.
    // A call that went into progress between the two queries is held, not joined by the others.
    const int heldKnown = std::clamp(heldCount, 0, static_cast<int>(heldIds.size()));
    Send("FOCUS");
    if (inProgressCount <= 0 && heldCount > 0) {
      if (heldKnown > 0) ResumeHeldCalls(heldIds.data(), heldKnown);
    } else if (inProgressCount > 0) {
      client.SetCurrentCalltoOnHold();
    }
  }
  MarkKeyActivity();
}

void CSoftphoneLink::ResumeHeldCalls(const unsigned long* heldIds, int heldCount) {
  auto& client = ports_.client;
  const int last = static_cast<int>(heldIds[heldCount - 1]);
  std::uint8_t record[platform::kCallStructureSize] = {};
  std::int32_t conference = 0;
  if (client.GetCallbyID(last, record)) {
    std::memcpy(&conference, record + platform::kCallConferenceOffset, sizeof conference);
  }
  if (conference <= 0) {
    Send(Format("SET CALL %d STATUS INPROGRESS", last));
    return;
  }
  // The whole held conference is resumed, in list order.
  for (int i = 0; i < heldCount; ++i) {
    const int id = static_cast<int>(heldIds[i]);
    std::uint8_t member[platform::kCallStructureSize] = {};
    std::int32_t memberConference = 0;
    if (!client.GetCallbyID(id, member)) continue;
    std::memcpy(&memberConference, member + platform::kCallConferenceOffset, sizeof memberConference);
    if (memberConference == conference) Send(Format("SET CALL %d STATUS INPROGRESS", id));
  }
}

void CSoftphoneLink::OnKeyRedial() {
  if (state_.clientAttached && ReadCallSituation().inProgress == 0) {
    char handle[platform::kRecentCallHandleSize + 1] = {};
    if (ports_.client.GetRecentCallHandle(handle)) {
      handle[platform::kRecentCallHandleSize] = '\0';
      char command[kRedialCommandMax];
      std::snprintf(command, sizeof command, "CALL %s", handle);
      SendDirect(command);
    }
  }
  MarkKeyActivity();
}

void CSoftphoneLink::OnKeyMute() {
  if (state_.clientAttached) {
    Send("FOCUS");
    Send(state_.clientMuted ? "SET MUTE OFF" : "SET MUTE ON");
  }
  MarkKeyActivity();
}

void CSoftphoneLink::OnKeyVolumeUp() {
  if (hooks_.stepSpeakerVolume) hooks_.stepSpeakerVolume(true);
  MarkKeyActivity();
}

void CSoftphoneLink::OnKeyVolumeDown() {
  if (hooks_.stepSpeakerVolume) hooks_.stepSpeakerVolume(false);
  MarkKeyActivity();
}

void CSoftphoneLink::OnKeyDigit(char digit) {
  Send("FOCUS");
  Send(std::string("BTN_RELEASED ") + digit);
  const auto calls = ReadCallSituation();
  if (calls.inProgress > 0) {
    char command[64];
    std::snprintf(command, sizeof command, "SET CALL %d DTMF %c", calls.inProgressId, digit);
    Send(command);
  } else if (hooks_.playKeyTone) {
    hooks_.playKeyTone(digit);
  }
  MarkKeyActivity();
}

void CSoftphoneLink::SendHookOffPlus() {
  Send("FOCUS");
  Send("HOOK OFF");
  Send("BTN_RELEASED +");
}

void CSoftphoneLink::MinimizeClient() { ports_.client.MinimizeTarvo(); }

void CSoftphoneLink::OnTestVolume(bool up) {
  if (ReadCallSituation().inProgress > 0) {
    up ? OnKeyVolumeUp() : OnKeyVolumeDown();
  } else {
    up ? OnKeyUp() : OnKeyDown();
  }
}

}  // namespace bridge
