// The handset command queue: the only way any thread asks the handset to do something. Codes are
// dropped while no handset is open; only the command sender thread takes them out (the link wakes
// it for every code that was queued). The queue's lock is its own and is held for single steps
// only, never across a write, sleep or wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace bridge {

// Command codes (byte 2 of an output report).
inline constexpr std::uint8_t kHandsetUploadRingTone = 0x81;
inline constexpr std::uint8_t kHandsetVersionMajor = 0x90;
inline constexpr std::uint8_t kHandsetVersionMinor = 0x91;
inline constexpr std::uint8_t kHandsetTestCommand = 0x92;
inline constexpr std::uint8_t kHandsetRing = 0x9A;
inline constexpr std::uint8_t kHandsetRingSilent = 0x9C;
inline constexpr std::uint8_t kHandsetStopRing = 0x9F;

class HandsetCommandQueue {
 public:
  // One queued code and the number that tells it from every other entry, also of the same code.
  struct Entry {
    std::uint8_t code = 0;
    std::uint64_t serial = 0;
  };

  explicit HandsetCommandQueue(const std::atomic<bool>& handsetOpen) : handsetOpen_(handsetOpen) {}

  // False when the code was dropped because no handset is open.
  bool QueueHandsetCommand(std::uint8_t code);
  void ClearHandsetCommands();
  // The entry at the front, left in place until it has been delivered.
  std::optional<Entry> Front() const;
  // How many codes wait (for watchdogs and tests).
  std::size_t Size() const;
  // Removes the entry `serial` once delivered. The queue may have been cleared and refilled
  // meanwhile (a version handshake does that): then the entry is gone and nothing is removed.
  void Remove(std::uint64_t serial);

 private:
  const std::atomic<bool>& handsetOpen_;
  mutable std::mutex mutex_;
  std::deque<Entry> entries_;
  std::uint64_t nextSerial_ = 1;
};

}  // namespace bridge
