// Clock port: every sleep, tick and timed wait of the programs goes through it, so tests can run
// the programs on a virtual clock.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// Time-out meaning "wait for ever", as Win32's INFINITE.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// A manual-reset event: once set it stays set until reset.
class Event {
 public:
  virtual ~Event() = default;
  virtual void Set() = 0;
  virtual void Reset() = 0;
  // True when the event is (or becomes) set within timeoutMs; false on time-out.
  virtual bool Wait(std::uint32_t timeoutMs) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(std::uint32_t ms) = 0;
  // Milliseconds since an arbitrary start, 32 bits, wrapping as GetTickCount does.
  virtual std::uint32_t TickCount() = 0;
  virtual std::unique_ptr<Event> MakeEvent(bool initiallySet = false) = 0;
};

// Milliseconds elapsed from `earlier` to `later` on a wrapping 32-bit tick.
inline constexpr std::uint32_t TicksSince(std::uint32_t later, std::uint32_t earlier) {
  return later - earlier;
}

}  // namespace platform
