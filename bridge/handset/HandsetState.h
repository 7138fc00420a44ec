// What the handset link's threads and the user-interface thread share about the handset. Flags,
// numbers and version bytes are atomics written whole; nothing here is guarded by a lock.
#pragma once

#include <atomic>
#include <cstdint>

namespace bridge {

// How handset keys are taken: every key, or only up and down as volume keys.
enum class HandsetEventMode : std::uint32_t { VolumeOnly = 0, Full = 1 };

struct HandsetState {
  std::atomic<bool> handsetOpen{false};
  // The product id of the last probe; the one the handset was opened under while it is open.
  std::atomic<std::uint32_t> handsetProductId{0};
  // The next probe uses the second product id.
  std::atomic<bool> productIdToggle{false};
  std::atomic<std::uint8_t> firmwareMajor{0};
  std::atomic<std::uint8_t> firmwareMinor{0};
  // Both set: no version exchange under way.
  std::atomic<bool> versionFirstReceived{true};
  std::atomic<bool> versionSecondReceived{true};
  std::atomic<bool> indicatorOn{false};
  std::atomic<bool> keyActivityOn{false};
  std::atomic<std::uint32_t> keyActivitySeconds{0};
  std::atomic<HandsetEventMode> handsetEventMode{HandsetEventMode::Full};
};

}  // namespace bridge
