// Clock port on the system's own Sleep, GetTickCount and event objects: what Teliox.exe runs on.
//
// Windows' timer ticks every 15.6 ms by default, and the programs leave it so (a finer one through
// timeBeginPeriod costs power for nothing here). Sleep, timed waits and GetTickCount therefore
// move in whole ticks: Sleep documents that a request between one and two ticks lasts anywhere
// from one to two, so an interval may end up to a tick early or late. Nothing needs finer steps:
// the workers poll at 50 ms and more, and the shortest waits, the ring-tone upload's 30 ms for an
// acknowledgement and 20 ms pause, last one to two ticks, which is what they are on Windows.
// (Wine's timers are finer; do not tune timings to them.)
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Clock.h"

namespace win32 {

class Win32Clock final : public platform::Clock {
 public:
  // Sleep(ms); kInfinite never returns, 0 gives up the rest of the time slice.
  void Sleep(std::uint32_t ms) override;
  // GetTickCount: wraps after 49.7 days, as the port says.
  std::uint32_t TickCount() override;
  // A manual-reset event object (CreateEventW). Should the system have none left, a portable
  // event stands in, so a wait still blocks instead of failing at once in a loop.
  std::unique_ptr<platform::Event> MakeEvent(bool initiallySet = false) override;
};

}  // namespace win32
