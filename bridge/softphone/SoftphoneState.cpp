#include "bridge/softphone/SoftphoneState.h"

namespace bridge {

std::string SoftphoneState::ClientAudioIn() const {
  std::lock_guard lock(textMutex_);
  return clientAudioIn_;
}

std::string SoftphoneState::ClientAudioOut() const {
  std::lock_guard lock(textMutex_);
  return clientAudioOut_;
}

void SoftphoneState::SetClientAudioIn(std::string_view name) {
  std::lock_guard lock(textMutex_);
  clientAudioIn_.assign(name.substr(0, kClientTextMax));
}

void SoftphoneState::SetClientAudioOut(std::string_view name) {
  std::lock_guard lock(textMutex_);
  clientAudioOut_.assign(name.substr(0, kClientTextMax));
}

}  // namespace bridge
