#include "platform/win32/Win32Clock.h"

#include <windows.h>

#include <utility>

#include "platform/RealClock.h"
#include "platform/win32/Handles.h"

namespace win32 {

namespace {

static_assert(platform::kInfinite == INFINITE);

class Win32Event final : public platform::Event {
 public:
  explicit Win32Event(UniqueHandle handle) : handle_(std::move(handle)) {}

  void Set() override { SetEvent(handle_.get()); }
  void Reset() override { ResetEvent(handle_.get()); }
  // A manual-reset event releases every thread waiting when it is set, even if it is reset
  // before they run: the same rule the portable event keeps.
  bool Wait(std::uint32_t timeoutMs) override { return WaitForSingleObject(handle_.get(), timeoutMs) == WAIT_OBJECT_0; }

 private:
  UniqueHandle handle_;
};

}  // namespace

void Win32Clock::Sleep(std::uint32_t ms) { ::Sleep(ms); }

std::uint32_t Win32Clock::TickCount() { return GetTickCount(); }

std::unique_ptr<platform::Event> Win32Clock::MakeEvent(bool initiallySet) {
  UniqueHandle handle(CreateEventW(nullptr, TRUE, initiallySet ? TRUE : FALSE, nullptr));
  if (!handle) return platform::RealClock().MakeEvent(initiallySet);
  return std::make_unique<Win32Event>(std::move(handle));
}

}  // namespace win32
