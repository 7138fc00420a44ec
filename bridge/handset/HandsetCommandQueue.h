// The handset command queue: the only way any thread asks the handset to do something. Codes are
// dropped while no handset is open; only the command sender thread takes them out. The queue's
// lock is its own and is held for single steps only, never across a write, sleep or wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "bridge/app/BridgeState.h"

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
  explicit HandsetCommandQueue(const BridgeState& state) : state_(state) {}

  void QueueHandsetCommand(std::uint8_t code);
  void ClearHandsetCommands();
  // The code at the front, left in place until it has been delivered.
  std::optional<std::uint8_t> Front() const;
  void RemoveFront();

 private:
  const BridgeState& state_;
  mutable std::mutex mutex_;
  std::deque<std::uint8_t> codes_;
};

}  // namespace bridge
