// The bridge's side of the softphone client: its notifications, its mute poll thread and the
// requests the main window makes of it.
#pragma once

#include <stop_token>

#include "bridge/app/BridgePorts.h"
#include "bridge/app/BridgeState.h"

namespace bridge {

class CSoftphoneLink {
 public:
  CSoftphoneLink(BridgePorts& ports, BridgeState& state) : ports_(ports), state_(state) {}

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

 private:
  BridgePorts& ports_;
  BridgeState& state_;
};

}  // namespace bridge
