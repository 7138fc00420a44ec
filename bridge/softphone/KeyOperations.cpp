// The operations the handset's keys run. They arrive with the softphone link; until then the
// keys reach these entry points and only the client's own minimise call does something.
#include "bridge/softphone/SoftphoneLink.h"

namespace bridge {

void CSoftphoneLink::OnKeyClient() {}
void CSoftphoneLink::OnKeyUp() {}
void CSoftphoneLink::OnKeyDown() {}
void CSoftphoneLink::OnKeyHangUp() {}
void CSoftphoneLink::OnKeyAnswer() {}
void CSoftphoneLink::OnKeyHold() {}
void CSoftphoneLink::OnKeyRedial() {}
void CSoftphoneLink::OnKeyMute() {}
void CSoftphoneLink::OnKeyVolumeUp() {}
void CSoftphoneLink::OnKeyVolumeDown() {}
void CSoftphoneLink::OnKeyDigit(char) {}
void CSoftphoneLink::SendHookOffPlus() {}
void CSoftphoneLink::MinimizeClient() { ports_.client.MinimizeTarvo(); }

}  // namespace bridge
