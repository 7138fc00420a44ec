// The bridge's side of the softphone client: its notifications (attach, status texts, call
// status changes, detach), the mute poll thread, and the operations the handset's keys run.
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string_view>

#include "bridge/app/RingState.h"
#include "bridge/softphone/SoftphoneState.h"
#include "platform/ClientApi.h"
#include "platform/Clock.h"

namespace bridge {

// What the link reaches outside the program.
struct SoftphoneLinkPorts {
  platform::ClientApi& client;
  platform::Clock& clock;
};

// What the link needs from the rest of the program.
struct SoftphoneLinkHooks {
  std::function<void()> updateTray;
  // The handset link: its command queue, whether it is open, and the key-activity mark.
  std::function<void(std::uint8_t code)> queueHandsetCommand;
  std::function<bool()> handsetOpen;
  std::function<void()> markKeyActivity;
  // Points the client's audio at the handset's device, when the handset's audio is found.
  std::function<void()> pointClientAtHandset;
  std::function<bool()> clientWindowInBackground;
  std::function<void(char tone)> playKeyTone;
  // One speaker volume step on the handset (true: up).
  std::function<void(bool up)> stepSpeakerVolume;
  // The voicemail windows close when the client detaches.
  std::function<void()> closeVoicemailWindows;
};

class CSoftphoneLink {
 public:
  CSoftphoneLink(SoftphoneLinkPorts ports, RingState& ring, SoftphoneLinkHooks hooks)
      : ports_(ports), ring_(ring), hooks_(std::move(hooks)) {}

  SoftphoneState& State() { return state_; }
  const SoftphoneState& State() const { return state_; }

  // Notifications 0x478..0x480; true when `msg` was one of them.
  bool OnNotification(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);
  void OnAttached();
  void OnAttachFailed();
  void OnStatusText(const char* text);
  void OnCallStatus(const std::uint8_t* callStructure, std::intptr_t kind);
  void OnDetached();

  // Asks an attached client for its current audio devices; the answers arrive as status texts.
  void RequestClientAudioDevices();

  void MutePollThread(std::stop_token stop);

  // The operations of the handset's keys and of the test panel.
  void OnKeyClient();
  void OnKeyUp();
  void OnKeyDown();
  void OnKeyHangUp();
  void OnKeyAnswer();
  void OnKeyHold();
  void OnKeyRedial();
  void OnKeyMute();
  void OnKeyVolumeUp();
  void OnKeyVolumeDown();
  void OnKeyDigit(char digit);
  void SendHookOffPlus();
  void MinimizeClient();
  // Test panel "Vol +" / "Vol -": a volume step during a call, otherwise up or down.
  void OnTestVolume(bool up);

 private:
  struct CallSituation {
    int inProgress = 0, inProgressId = 0, ringing = 0, ringingId = 0, onHold = 0, onHoldId = 0;
  };
  CallSituation ReadCallSituation();
  // Commands go to the client only while it is attached.
  void Send(std::string_view command);
  void SendDirect(std::string_view command);
  void MarkKeyActivity();
  void Queue(std::uint8_t code);
  // Resumes the last held call, or the whole conference it belongs to.
  void ResumeHeldCalls(const unsigned long* heldIds, int heldCount);

  SoftphoneLinkPorts ports_;
  RingState& ring_;
  SoftphoneLinkHooks hooks_;
  SoftphoneState state_;
};

}  // namespace bridge
