#include "bridge/handset/HandsetCommandQueue.h"

#include <algorithm>

namespace bridge {

bool HandsetCommandQueue::QueueHandsetCommand(std::uint8_t code) {
  if (!handsetOpen_) return false;
  std::lock_guard lock(mutex_);
  entries_.push_back({code, nextSerial_++});
  return true;
}

void HandsetCommandQueue::ClearHandsetCommands() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

std::size_t HandsetCommandQueue::Size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::optional<HandsetCommandQueue::Entry> HandsetCommandQueue::Front() const {
  std::lock_guard lock(mutex_);
  if (entries_.empty()) return std::nullopt;
  return entries_.front();
}

void HandsetCommandQueue::Remove(std::uint64_t serial) {
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.serial == serial; });
  if (it != entries_.end()) entries_.erase(it);
}

}  // namespace bridge
