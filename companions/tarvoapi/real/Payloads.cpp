#include "companions/tarvoapi/real/Payloads.h"

#include <algorithm>

namespace tarvoapi {

std::uintptr_t Payloads::Keep(std::vector<std::uint8_t> bytes, bool ring, std::uintptr_t owner) {
  if (bytes.empty()) bytes.push_back(0);
  auto owned = std::make_unique<std::vector<std::uint8_t>>(std::move(bytes));
  const auto address = reinterpret_cast<std::uintptr_t>(owned->data());
  std::unique_ptr<std::vector<std::uint8_t>> evicted;  // freed outside the lock
  std::lock_guard lock(mutex_);
  if (ring && ringCount_ == ringSize_) {
    const auto oldest = std::find_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.ring; });
    evicted = std::move(oldest->bytes);
    entries_.erase(oldest);
    --ringCount_;
  }
  entries_.push_back(Entry{address, std::move(owned), ring, owner});
  if (ring) ++ringCount_;
  return address;
}

bool Payloads::Release(std::uintptr_t address) {
  std::unique_ptr<std::vector<std::uint8_t>> released;
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.address == address; });
  if (it == entries_.end()) return false;
  released = std::move(it->bytes);
  if (it->ring) --ringCount_;
  entries_.erase(it);
  return true;
}

void Payloads::ReleaseOwner(std::uintptr_t owner) {
  std::deque<Entry> released;
  std::lock_guard lock(mutex_);
  for (auto& entry : entries_) {
    if (entry.owner != owner) continue;
    if (entry.ring) --ringCount_;
    released.push_back(std::move(entry));
  }
  std::erase_if(entries_, [](const Entry& e) { return !e.bytes; });
}

std::size_t Payloads::Outstanding() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace tarvoapi
