#include "bridge/handset/HandsetLink.h"

namespace bridge {

CHandsetLink::CHandsetLink(BridgePorts& ports, BridgeState& state, std::function<void()> updateTray)
    : ports_(ports), state_(state), updateTray_(std::move(updateTray)), queue_(state) {}

void CHandsetLink::CreateEvents() {
  ackEvent_ = ports_.clock.MakeEvent(false);
  versionEvent_ = ports_.clock.MakeEvent(false);
}

// The handset link's threads arrive with the handset link itself; until then they end at once.
void CHandsetLink::DeviceMonitorThread(std::stop_token) {}
void CHandsetLink::IndicatorThread(std::stop_token) {}
void CHandsetLink::KeyActivityThread(std::stop_token) {}
void CHandsetLink::CommandSenderThread(std::stop_token) {}

void CHandsetLink::Close() {
  if (!state_.handsetOpen) return;
  ports_.hid.CloseDevice();
  ports_.hid.ReleaseLibrary();
}

}  // namespace bridge
