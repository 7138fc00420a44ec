#include "bridge/app/BridgeState.h"

namespace bridge {

std::string BridgeState::ClientAudioIn() const {
  std::lock_guard lock(textMutex_);
  return clientAudioIn_;
}

std::string BridgeState::ClientAudioOut() const {
  std::lock_guard lock(textMutex_);
  return clientAudioOut_;
}

void BridgeState::SetClientAudioIn(std::string_view name) {
  std::lock_guard lock(textMutex_);
  clientAudioIn_.assign(name.substr(0, kClientTextMax));
}

void BridgeState::SetClientAudioOut(std::string_view name) {
  std::lock_guard lock(textMutex_);
  clientAudioOut_.assign(name.substr(0, kClientTextMax));
}

}  // namespace bridge
