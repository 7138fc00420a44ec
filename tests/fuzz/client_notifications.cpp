// Notifications of the client library with status texts and call records of any bytes through the
// softphone link's handler (CSoftphoneLink::OnNotification, messages 0x478..0x480), mixed with
// the key operations that act on what the notifications leave behind, on a fake client library.
//
// Input: one header byte, then items of a kind byte, a length byte and that many payload bytes
// (the last item's payload is cut to what is left).
//   header  bit 0 the handset open; bits 1-2 calls in progress, 3-4 calls ringing (the client's
//           answers to GetCallNumber); bits 5-6 the ring mode at start (ring, silent, another
//           number, ring)
//   kind    bits 0-3: 0 attached, 1 attach pending, 2 attach refused, 3 not available,
//           4 available, 5 status text, 6 contact list, 7 call status, 8 detached, 9 status
//           without a text, 10 call status without a record, 11 a message that is not the
//           link's, 12 the answer key, 13 the mute key, 14 the client's audio devices asked for,
//           15 the redial key; bits 4-5: a call status's kind (1, 2, 0, -1)
// A status text is handed over as the payload up to its first zero byte, in a buffer of exactly
// that many bytes and the terminator; a call record in a buffer of exactly the record's 196 bytes,
// the payload at its start and zeros after it. AddressSanitizer sees any read past either.
//
// Checked besides the sanitizers, against what the notifications mean: attach and detach states,
// "MUTE ON"/"MUTE OFF", the device names of "AUDIO_IN "/"AUDIO_OUT " texts (kept to 255
// characters), the ring mode of presence texts, the ringing call and the handset commands of call
// statuses; the notifications that carry nothing change nothing; no notification sleeps.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/app/RingState.h"
#include "bridge/handset/HandsetCommandQueue.h"
#include "bridge/softphone/SoftphoneLink.h"
#include "bridge/softphone/SoftphoneState.h"
#include "platform/ClientApi.h"
#include "platform/Clock.h"
#include "tests/fuzz/FakeClient.h"

namespace {

using bridge::RingMode;

// The link's handlers run on the user-interface thread and must never block: any sleep or timed
// wait fails the run.
class NoSleepClock final : public platform::Clock {
 public:
  void Sleep(std::uint32_t) override { __builtin_trap(); }
  std::uint32_t TickCount() override { return 0; }
  std::unique_ptr<platform::Event> MakeEvent(bool) override { __builtin_trap(); }
};

class FuzzClient final : public fuzz::RecordingClient {
 public:
  FuzzClient(int inProgress, int ringing) : inProgress_(inProgress), ringing_(ringing) {}

  void GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                     int& onHoldId) override {
    inProgress = inProgress_;
    inProgressId = inProgress_ > 0 ? 5 : 0;
    ringing = ringing_;
    ringingId = ringing_ > 0 ? 9 : 0;
    onHold = 0;
    onHoldId = 0;
  }
  void GetCallNumberEx(int& inProgress, unsigned long*, int& ringing, unsigned long*, int& onHold,
                       unsigned long*) override {
    inProgress = 0;
    ringing = 0;
    onHold = 0;
  }
  bool GetCallbyID(int, std::uint8_t*) override { return false; }
  bool GetRecentCallHandle(char* handle) override {
    std::memcpy(handle, "echo123", 8);
    return true;
  }
  bool CloseTarvoMSGDialog() override { return false; }
  void UpdateVMList() override {}

 private:
  const int inProgress_, ringing_;
};

// What a check compares: the link's state and the ring mode.
struct Snapshot {
  bool attached, ringing, muted;
  int ringingCallId;
  RingMode ringMode;
  std::string audioIn, audioOut;

  bool operator==(const Snapshot&) const = default;
};

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

class Rig {
 public:
  explicit Rig(std::uint8_t header)
      : handsetOpen_((header & 1) != 0),
        inProgress_(header >> 1 & 3),
        client_(inProgress_, header >> 3 & 3),
        link_(bridge::SoftphoneLinkPorts{client_, clock_}, ring_, Hooks()) {
    constexpr RingMode kModes[] = {RingMode::Ring, RingMode::Silent, static_cast<RingMode>(7), RingMode::Ring};
    ring_.ringMode = kModes[header >> 5 & 3];
  }

  void Item(std::uint8_t kind, const std::uint8_t* payload, std::size_t length) {
    constexpr std::intptr_t kCallKinds[] = {1, 2, 0, -1};
    const Snapshot before = Take();
    const std::size_t commandsBefore = client_.commands.size();
    const std::size_t queuedBefore = queued_.size();
    auto& state = link_.State();
    switch (kind & 0x0F) {
      case 0: {
        const int pointedBefore = pointed_;
        Check(Notify(platform::kClientAttached, 0, 0));
        Check(state.clientAttached);
        Check(client_.commands.size() == commandsBefore + 1 && client_.commands.back() == "PROTOCOL 2");
        Check(pointed_ == pointedBefore + (handsetOpen_ ? 1 : 0));
        break;
      }
      case 1:
      case 2:
        Check(Notify((kind & 0x0F) == 1 ? platform::kClientAttachPending : platform::kClientAttachRefused, 0, 0));
        Check(!state.clientAttached);
        Check(client_.commands.size() == commandsBefore);
        break;
      case 3:
      case 4:
      case 6: {
        constexpr std::uint32_t kMessages[] = {
            0, 0, 0, platform::kClientNotAvailable, platform::kClientAvailable, 0, platform::kClientContactList};
        Check(Notify(kMessages[kind & 0x0F], reinterpret_cast<std::uintptr_t>(payload), 0));
        Unchanged(before, commandsBefore, queuedBefore);
        break;
      }
      case 5:
        StatusText(payload, length, before, commandsBefore, queuedBefore);
        break;
      case 7:
        CallStatus(payload, length, kCallKinds[kind >> 4 & 3], before, commandsBefore, queuedBefore);
        break;
      case 8: {
        const int closedBefore = closed_;
        Check(Notify(platform::kClientDetached, 0, 0));
        Check(!state.clientAttached && !state.callRinging && !state.clientMuted);
        Check(queued_.size() == queuedBefore + 1 && queued_.back() == bridge::kHandsetStopRing);
        Check(closed_ == closedBefore + 1);
        break;
      }
      case 9:
        Check(Notify(platform::kClientStatusText, 0, 0));
        Unchanged(before, commandsBefore, queuedBefore);
        break;
      case 10:
        Check(Notify(platform::kClientCallStatus, 0, kCallKinds[kind >> 4 & 3]));
        Unchanged(before, commandsBefore, queuedBefore);
        break;
      case 11: {
        constexpr std::uint32_t kOthers[] = {0x477, platform::kClientVoicemailList, platform::kClientVoicemailStatus,
                                             0x464};
        Check(!Notify(kOthers[kind >> 4 & 3], reinterpret_cast<std::uintptr_t>(payload),
                      static_cast<std::intptr_t>(length)));
        Unchanged(before, commandsBefore, queuedBefore);
        break;
      }
      case 12:
        link_.OnKeyAnswer();
        Check(queued_.size() == queuedBefore + 1 && queued_.back() == bridge::kHandsetStopRing);
        break;
      case 13:
        link_.OnKeyMute();
        if (before.attached) {
          Check(client_.commands.size() == commandsBefore + 2 &&
                client_.commands.back() == (before.muted ? "SET MUTE OFF" : "SET MUTE ON"));
        } else {
          Check(client_.commands.size() == commandsBefore);
        }
        break;
      case 14:
        link_.RequestClientAudioDevices();
        Check(client_.commands.size() == commandsBefore + (before.attached ? 2 : 0));
        break;
      case 15:
        link_.OnKeyRedial();
        if (before.attached && inProgress_ == 0) Check(client_.commands.back() == "CALL echo123");
        break;
    }
    Check(link_.State().ClientAudioIn().size() <= bridge::kClientTextMax);
    Check(link_.State().ClientAudioOut().size() <= bridge::kClientTextMax);
  }

 private:
  bridge::SoftphoneLinkHooks Hooks() {
    bridge::SoftphoneLinkHooks hooks;
    hooks.updateTray = [] {};
    hooks.queueHandsetCommand = [this](std::uint8_t code) { queued_.push_back(code); };
    hooks.handsetOpen = [this] { return handsetOpen_; };
    hooks.markKeyActivity = [] {};
    hooks.pointClientAtHandset = [this] { ++pointed_; };
    hooks.closeVoicemailWindows = [this] { ++closed_; };
    return hooks;
  }

  bool Notify(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
    return link_.OnNotification(msg, wParam, lParam);
  }

  Snapshot Take() {
    const auto& state = link_.State();
    return {state.clientAttached, state.callRinging,     state.clientMuted,     state.ringingCallId,
            ring_.ringMode,       state.ClientAudioIn(), state.ClientAudioOut()};
  }

  void Unchanged(const Snapshot& before, std::size_t commandsBefore, std::size_t queuedBefore) {
    Check(Take() == before);
    Check(client_.commands.size() == commandsBefore && queued_.size() == queuedBefore);
  }

  void StatusText(const std::uint8_t* payload, std::size_t length, const Snapshot& before, std::size_t commandsBefore,
                  std::size_t queuedBefore) {
    const auto* end = static_cast<const std::uint8_t*>(std::memchr(payload, 0, length));
    const std::size_t textLength = end ? static_cast<std::size_t>(end - payload) : length;
    // Exactly the text and its terminator.
    const auto buffer = std::make_unique<char[]>(textLength + 1);
    std::memcpy(buffer.get(), payload, textLength);
    buffer[textLength] = '\0';
    const std::string text(buffer.get(), textLength);

    Check(Notify(platform::kClientStatusText, reinterpret_cast<std::uintptr_t>(buffer.get()), 0));

    const Snapshot after = Take();
    Check(client_.commands.size() == commandsBefore && queued_.size() == queuedBefore);
    Check(after.attached == before.attached && after.ringing == before.ringing &&
          after.ringingCallId == before.ringingCallId);
    Check(after.muted == (text == "MUTE ON" ? true : text == "MUTE OFF" ? false : before.muted));
    const bool audioIn = Contains(text, "AUDIO_IN");
    const bool audioOut = Contains(text, "AUDIO_OUT");
    if (!audioIn) Check(after.audioIn == before.audioIn);
    if (!audioIn && !audioOut) {
      Check(after.audioOut == before.audioOut);
      constexpr const char* kPresences[] = {"USERSTATUS ONLINE", "USERSTATUS AWAY", "USERSTATUS NA",
                                            "USERSTATUS INVISIBLE"};
      const bool present = std::any_of(std::begin(kPresences), std::end(kPresences),
                                       [&](const char* presence) { return Contains(text, presence); });
      const RingMode expected = present                            ? RingMode::Ring
                                : Contains(text, "USERSTATUS DND") ? RingMode::Silent
                                                                   : before.ringMode;
      Check(after.ringMode == expected);
    }
    // The client's answers to "GET AUDIO_IN" and "GET AUDIO_OUT": the name follows the word.
    if (text.rfind("AUDIO_IN ", 0) == 0 && !audioOut) {
      Check(after.audioIn == text.substr(9, bridge::kClientTextMax));
    }
    if (text.rfind("AUDIO_OUT ", 0) == 0 && !audioIn) {
      Check(after.audioOut == text.substr(10, bridge::kClientTextMax));
      Check(after.audioIn == before.audioIn);
    }
  }

  void CallStatus(const std::uint8_t* payload, std::size_t length, std::intptr_t kind, const Snapshot& before,
                  std::size_t commandsBefore, std::size_t queuedBefore) {
    // Exactly one record: the payload at its start, zeros after it.
    const auto record = std::make_unique<std::uint8_t[]>(platform::kCallStructureSize);
    std::memcpy(record.get(), payload, std::min(length, platform::kCallStructureSize));

    Check(Notify(platform::kClientCallStatus, reinterpret_cast<std::uintptr_t>(record.get()), kind));

    const Snapshot after = Take();
    Check(client_.commands.size() == commandsBefore);
    Check(after.attached == before.attached && after.muted == before.muted && after.ringMode == before.ringMode &&
          after.audioIn == before.audioIn && after.audioOut == before.audioOut);
    std::int32_t id = 0;
    std::memcpy(&id, record.get() + platform::kCallIdOffset, sizeof id);
    const auto* field = reinterpret_cast<const char*>(record.get() + platform::kCallStatusOffset);
    const std::string status(field, strnlen(field, platform::kCallStatusSize));
    const bool taken = kind == 1 || kind == 2;
    const std::vector<std::uint8_t> queued(queued_.begin() + static_cast<std::ptrdiff_t>(queuedBefore), queued_.end());
    if (taken && status == "RINGING") {
      Check(after.ringing && after.ringingCallId == id);
      std::vector<std::uint8_t> expected;
      if (inProgress_ > 0 || before.ringMode == RingMode::Silent) {
        expected = {bridge::kHandsetRingSilent};
      } else if (before.ringMode == RingMode::Ring) {
        expected = {bridge::kHandsetRing};
      }
      Check(queued == expected);
    } else if (taken && (status == "MISSED" || status == "REFUSED" || status == "INPROGRESS" || status == "CANCELLED" ||
                         status == "BUSY" || (before.ringing && id == before.ringingCallId))) {
      // An end status of any call, or any other status of the ringing call itself, stops the
      // ringing.
      Check(!after.ringing && after.ringingCallId == before.ringingCallId);
      Check(queued == std::vector<std::uint8_t>{bridge::kHandsetStopRing});
    } else {
      Check(after == before && queued.empty());
    }
  }

  const bool handsetOpen_;
  const int inProgress_;
  NoSleepClock clock_;
  FuzzClient client_;
  bridge::RingState ring_;
  std::vector<std::uint8_t> queued_;
  int pointed_ = 0;
  int closed_ = 0;
  bridge::CSoftphoneLink link_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Rig rig(data[0]);
  std::size_t at = 1;
  while (at + 2 <= size) {
    const std::uint8_t kind = data[at];
    const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
    at += 2;
    // The payload in a buffer of its own length, so nothing read past it goes unseen.
    static constexpr std::uint8_t kNothing = 0;
    const std::vector<std::uint8_t> payload(data + at, data + at + length);
    rig.Item(kind, payload.empty() ? &kNothing : payload.data(), payload.size());
    at += length;
  }
  return 0;
}
