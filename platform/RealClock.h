// Clock port on the machine's monotonic clock, for the shipped programs.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Clock.h"

namespace platform {

class RealClock final : public Clock {
 public:
  // Never returns early; kInfinite sleeps for ever, 0 yields the processor.
  void Sleep(std::uint32_t ms) override;
  std::uint32_t TickCount() override;
  std::unique_ptr<Event> MakeEvent(bool initiallySet = false) override;
};

}  // namespace platform
