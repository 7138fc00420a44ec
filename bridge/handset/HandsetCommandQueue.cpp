#include "bridge/handset/HandsetCommandQueue.h"

namespace bridge {

void HandsetCommandQueue::QueueHandsetCommand(std::uint8_t code) {
  if (!state_.handsetOpen) return;
  std::lock_guard lock(mutex_);
  codes_.push_back(code);
}

void HandsetCommandQueue::ClearHandsetCommands() {
  std::lock_guard lock(mutex_);
  codes_.clear();
}

std::optional<std::uint8_t> HandsetCommandQueue::Front() const {
  std::lock_guard lock(mutex_);
  if (codes_.empty()) return std::nullopt;
  return codes_.front();
}

void HandsetCommandQueue::RemoveFront() {
  std::lock_guard lock(mutex_);
  if (!codes_.empty()) codes_.pop_front();
}

}  // namespace bridge
