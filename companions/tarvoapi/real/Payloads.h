// The memory that posted notifications point into (status texts, call records, voicemail
// arrays, contact lists). The bridge reads it while it handles the message, so the library owns
// it until then.
//
// Two ways a payload is let go:
// - exactly: the library sees the bridge's window finish the message (it wraps the window's
//   procedure) and releases the payload by its address; outstanding payloads are then bounded
//   by the window's message queue, whose posts fail when it is full;
// - by age, when the library cannot watch the window: a ring keeps the last `ringSize` payloads.
// Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace tarvoapi {

class Payloads {
 public:
  explicit Payloads(std::size_t ringSize = 256) : ringSize_(ringSize == 0 ? 1 : ringSize) {}

  // Takes `bytes` (never empty: at least one byte is kept), posted to window `owner`, and returns
  // its address, valid until Release of that address, ReleaseOwner of its window or, for a ring
  // payload, until ringSize later ring payloads.
  std::uintptr_t Keep(std::vector<std::uint8_t> bytes, bool ring, std::uintptr_t owner = 0);
  // False when the address is not an outstanding payload (released twice, or never kept).
  bool Release(std::uintptr_t address);
  // The window is gone, and the messages still queued for it with it.
  void ReleaseOwner(std::uintptr_t owner);
  std::size_t Outstanding() const;

 private:
  struct Entry {
    std::uintptr_t address;
    std::unique_ptr<std::vector<std::uint8_t>> bytes;
    bool ring;
    std::uintptr_t owner;
  };

  const std::size_t ringSize_;
  mutable std::mutex mutex_;
  std::deque<Entry> entries_;  // oldest first
  std::size_t ringCount_ = 0;
};

}  // namespace tarvoapi
