// DeviceWatcherProc: the background thread that keeps Windows' default recording and playback
// devices where the user wants them, by polling the audio control library.
//
// It is stopped cooperatively rather than killed: a thread ended by force inside the library or
// the heap could leave a lock held for ever. Every pause waits on the stop event, and the stop is
// tested right after each request to the main window returns, so once the settings dialog is
// open an old watcher takes no further action. A watcher may be given a predecessor: it then
// waits for that one to have ended before its first step, so two watchers never act at once and
// the main thread itself never waits for a watcher (which may be blocked in a request to it).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "devicemanager/app/ManagerPorts.h"
#include "platform/Window.h"

namespace devicemanager {

class DeviceWatcherProc {
 public:
  static constexpr std::uint32_t kFailureLimit = 15;
  static constexpr std::uint32_t kPassPauseMs = 10000;
  static constexpr std::uint32_t kRetryPauseMs = 5000;

  DeviceWatcherProc(ManagerPorts& ports, platform::WindowHandle mainWindow,
                    std::shared_ptr<DeviceWatcherProc> predecessor = nullptr);

  // The thread's body; returns when the watcher has ended.
  void Run();
  // Any thread: the watcher ends at its next pause or test.
  void RequestStop();
  bool StopRequested() const { return stopped_; }
  // True once Run has returned (within timeoutMs).
  bool WaitEnded(std::uint32_t timeoutMs);

 private:
  enum class Step { Restart, End };

  Step Pass();
  Step KeepLoop();
  // Pauses unless stopped; false when the stop came.
  bool Pause(std::uint32_t ms);
  bool Stopped() const { return stopped_; }
  bool HasBothSides();
  std::intptr_t Request(std::uint32_t msg);
  // Windows' defaults become the user's devices; false when the query failed or the watcher was
  // stopped during it.
  bool AdoptWindowsDevices();

  ManagerPorts& ports_;
  const platform::WindowHandle mainWindow_;
  std::shared_ptr<DeviceWatcherProc> predecessor_;
  std::unique_ptr<platform::Event> stop_;
  std::unique_ptr<platform::Event> ended_;
  std::atomic<bool> stopped_{false};
  std::uint32_t queryFailures_ = 0;
  bool gaveUp_ = false;
};

}  // namespace devicemanager
