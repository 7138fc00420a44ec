// Clock port on the machine's monotonic clock, portable (std::chrono and condition variables).
// The shipped Windows programs run on win32::Win32Clock, the system's own timers and events.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Clock.h"

namespace platform {

class RealClock final : public Clock {
 public:
  // Never returns early, and sleeps (never spins) to make sure of it; kInfinite sleeps for ever,
  // 0 yields the processor.
  void Sleep(std::uint32_t ms) override;
  std::uint32_t TickCount() override;
  std::unique_ptr<Event> MakeEvent(bool initiallySet = false) override;
};

}  // namespace platform
