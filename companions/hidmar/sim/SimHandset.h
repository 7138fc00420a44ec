// The handset the sim flavour of Hidmar.dll serves: a sim::HandsetModel on a clock of its own
// that keeps pace with real time, the six library calls in front of it, and the simulator's
// commands and events around it. Portable; the DLL adds the pipe and PostMessageA.
//
// Default state: plugged, product 0x1402, firmware 1.4, so a program started with the sim
// flavour and no simulator finds a working handset. Options::start runs commands first (for
// example "unplug").
//
// Time. The clock is in manual mode and a RealTimePacer advances it to the real milliseconds
// since start, so acknowledgements arrive after their delay in real time. The pacer sleeps until
// the next deadline, so at rest time stands still: every call first catches the clock up with
// the real instant, so its lines carry that instant and a delay counts from it. The Scheduler's thread is the only
// participant; the pacer's thread and the catching-up callers are the controllers, one at a time.
//
// Threads. The program's threads (four writers, the monitor, the window's thread) and the pipe
// threads call in without taking part in the clock. That is sound because nothing on those
// paths waits for the baton: HandsetModel takes only its own mutex and never holds it while it
// calls out; it asks the clock for Now() (the clock's mutex, held briefly by everyone), the
// transcript (its own mutex, then our listener), the scheduler (its mutex, then Notify, which
// only wakes the scheduler's thread) and the poster (PostMessageA, which does not wait for the
// receiver). The participant side is just as short: a scheduled acknowledgement runs on the
// scheduler's thread with the baton and does the same non-blocking steps, so an AdvanceTo never
// waits for long and time cannot stall behind a program's thread. CatchUp makes the calling
// thread a controller for a moment: it waits only for what falls due up to now, which is that
// same short work. Our own locks follow one order, events_ before the model's, and none is held
// across a clock call or a CatchUp.
//
// The gate: HidmarCloseDevice promises that no notification is posted after it returns, while
// the model may have taken a report out just before the close. So every post passes a gate that
// holds the opened window under a mutex, and closing empties the gate under that mutex: a post
// in progress finishes first, any later one finds the gate shut.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "companions/hidmar/sim/SimProtocol.h"
#include "sim/HandsetModel.h"
#include "sim/RealTimePacer.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/WindowPoster.h"

namespace hidmar_sim {

class SimHandset {
 public:
  // The operating system's device that the handset appears as when the program reaches it
  // through the real HID library (the virtual HID device); without one, the handset is reached
  // only through the six calls. Called with no lock of ours held.
  class Device {
   public:
    virtual ~Device() = default;
    // Makes the device appear with this product id, as a new instance; false when it could not.
    virtual bool Plug(std::uint16_t product) = 0;
    virtual void Unplug() = 0;
  };
  // The window handle the model posts to when it feeds a Device: the poster ignores it.
  static constexpr platform::WindowHandle kDeviceWindow = 1;

  struct Options {
    // False: time moves only through Clock().AdvanceTo (tests).
    bool realTime = true;
    // Commands carried out at start, ';'-separated; errors are ignored.
    std::string start;
    // Who loaded the library, for the hello line.
    std::string who = "-";
    // With a device, the handset starts unplugged and Options::start is not run: the owner
    // plugs it (Execute("plug")) once it can take the device's output reports.
    Device* device = nullptr;
  };
  // Receives event lines. Called on any thread, one call at a time; must not block.
  using Sink = std::function<void(const std::string& line)>;

  SimHandset(sim::WindowPoster& poster, Options options);
  ~SimHandset();
  SimHandset(const SimHandset&) = delete;
  SimHandset& operator=(const SimHandset&) = delete;

  // The library's six calls.
  int Find(std::uint32_t vendorId, std::uint32_t productId);
  int Open(platform::WindowHandle window);
  void SetMessage(std::uint32_t message);
  int Write(const std::uint8_t* report, int length);
  void Close();
  void Release();

  // A command line of the protocol; the answer is "ok" or "error <reason>".
  std::string Execute(std::string_view line);
  // Commands separated by ';', each executed in turn; their errors are ignored.
  void ExecuteAll(std::string_view commands);
  // Sends the hello and the current state to `sink`, then every later event until Unsubscribe,
  // after which it is never called again.
  int Subscribe(Sink sink);
  void Unsubscribe(int id);

  HandsetState State() const;
  sim::VirtualClock& Clock() { return clock_; }

 private:
  class Gate final : public sim::WindowPoster {
   public:
    explicit Gate(sim::WindowPoster& poster) : poster_(poster) {}
    void Open(platform::WindowHandle window);
    void Shut();
    bool PostTo(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                std::shared_ptr<const void> keepAlive) override;

   private:
    sim::WindowPoster& poster_;
    std::mutex mutex_;
    platform::WindowHandle open_ = 0;
  };

  void OnTranscriptLine(const sim::TranscriptLine& line);
  // With a device: the model's own library side, opened as the HID library would open it.
  void OpenForDevice(std::uint16_t product);
  // Under events_: a state line to every sink when anything changed.
  void PublishStateLocked(std::uint64_t time);
  void BroadcastLocked(const std::string& line);

  const std::string who_;
  Device* const device_;
  sim::VirtualClock clock_{{.autoAdvance = false}};
  sim::Transcript transcript_{clock_};
  Gate gate_;
  sim::RealTimePacer pacer_{clock_};
  sim::Scheduler scheduler_{clock_};
  sim::HandsetModel model_{clock_, scheduler_, transcript_, gate_};

  // What the model does not tell: the device as last plugged and the fault settings.
  mutable std::mutex settingsMutex_;
  std::uint16_t product_ = static_cast<std::uint16_t>(platform::kHandsetProductA);
  std::uint8_t major_ = 1;
  std::uint8_t minor_ = 4;
  std::uint64_t ackDelay_ = sim::HandsetModel::kDefaultAckDelayMs;
  sim::HandsetModel::VersionReply versionReply_ = sim::HandsetModel::VersionReply::kNormal;

  std::mutex events_;
  std::map<int, Sink> sinks_;
  int nextSink_ = 1;
  std::string lastState_;
};

}  // namespace hidmar_sim
