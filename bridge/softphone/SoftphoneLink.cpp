#include "bridge/softphone/SoftphoneLink.h"

namespace bridge {

void CSoftphoneLink::RequestClientAudioDevices() {
  if (!state_.clientAttached) return;
  ports_.client.SendStringCommand("GET AUDIO_IN");
  ports_.client.SendStringCommand("GET AUDIO_OUT");
}

// The mute poll arrives with the notification handling; until then it ends at once.
void CSoftphoneLink::MutePollThread(std::stop_token) {}

}  // namespace bridge
