// The bridge's side of the handset: the command queue, the acknowledgement and version events,
// the four worker threads that keep the handset connected (device monitor, command sender,
// indicator, key activity), the decoding of the handset's reports with the version exchange, and
// closing it. The protocol lives here whole; the main window only forwards the reports' message
// and dispatches the keys that come out.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

#include "bridge/app/RingState.h"
#include "bridge/handset/HandsetCommandQueue.h"
#include "bridge/handset/HandsetState.h"
#include "bridge/softphone/SoftphoneState.h"
#include "platform/ClientApi.h"
#include "platform/Clock.h"
#include "platform/HidLink.h"
#include "platform/Window.h"

namespace bridge {

// Posted to the main window when the handset accepted a ring-tone upload (WM_USER + 0x400).
inline constexpr std::uint32_t kMsgRingUploadAccepted = 0x800;
// The handset's acknowledgement code (b1 of an input report).
inline constexpr std::uint8_t kHandsetAck = 0x5A;

// What the link reaches outside the program.
struct HandsetLinkPorts {
  platform::Clock& clock;
  platform::HidLink& hid;
  platform::ClientApi& client;
};

// What the link needs from the rest of the program.
struct HandsetLinkHooks {
  std::function<void()> updateTray;
  // The handset accepted a ring-tone upload (called on the sender thread).
  std::function<void()> ringUploadAccepted;
  // Mutes the handset's microphone monitor.
  std::function<void()> muteMicrophoneMonitor;
  // Points an attached client's audio at the handset's device when that is found.
  std::function<void()> pointClientAtHandset;
};

// One handset report after the link has taken what is its own (acknowledgement, version bytes).
struct HandsetReport {
  // False when the message carried no report: nothing is listed or handled.
  bool present = false;
  std::array<std::uint8_t, platform::kHandsetReportLength> bytes{};
  // A key for the main window to dispatch, in the key mode of that moment.
  std::optional<std::uint8_t> key;
  HandsetEventMode mode = HandsetEventMode::Full;
};

class CHandsetLink {
 public:
  using Report = std::array<std::uint8_t, 8>;

  CHandsetLink(HandsetLinkPorts ports, RingState& ring, SoftphoneState& client, HandsetLinkHooks hooks);

  const HandsetState& State() const { return state_; }
  bool IsOpen() const { return state_.handsetOpen; }
  void SetEventMode(HandsetEventMode mode) { state_.handsetEventMode = mode; }
  // The window the HID library posts reports to; recorded before the threads start.
  void SetMainWindow(platform::WindowHandle window) { mainWindow_ = window; }

  // Queues `code` and wakes the command sender; dropped while no handset is open.
  void QueueHandsetCommand(std::uint8_t code);
  void ClearHandsetCommands() { queue_.ClearHandsetCommands(); }
  std::size_t QueuedHandsetCommands() const { return queue_.Size(); }
  // A handled key keeps the key-activity bit set for five more seconds.
  void MarkKeyActivity();

  // Creates the link's manual-reset events (acknowledgement, version, and the two the command
  // sender and the key-activity thread wait on at rest); before any thread starts.
  void CreateEvents();

  // Message 0x464, on the user-interface thread: drops repeats, signals acknowledgements,
  // captures version bytes, and hands out the key of anything else.
  HandsetReport OnHandsetReport(std::uintptr_t wParam, std::intptr_t lParam);

  void RequestFirmwareVersion();
  void RequestFirmwareVersionSecond();
  // A status report with the current indicator and key-activity bits; true when written.
  bool SendStatusReport();
  // A report with `code` in byte 2 and the current status bits.
  Report BuildReport(std::uint8_t code) const;

  // The two deliveries of the sender thread; `serial` names the queue entry being delivered.
  bool SendCommandWithAck(Report report, std::uint64_t serial);
  bool UploadRingParameters(Report report, std::uint64_t serial);

  // Worker thread bodies, run for the life of the process (tests may request a stop, which also
  // ends the waits of the sender and the key-activity thread).
  void DeviceMonitorThread(std::stop_token stop);
  void IndicatorThread(std::stop_token stop);
  void KeyActivityThread(std::stop_token stop);
  void CommandSenderThread(std::stop_token stop);

  // At shutdown: closes the handset and releases the library if it is open.
  void Close();

 private:
  bool Write(const Report& report);
  // After a failed write: true when the handset is gone (its presence test fails too), false
  // when the failure was passing (a write that timed out, or one made just before the open).
  bool HandsetGone();
  void VersionHandshake(const std::stop_token& stop);
  void OnOpened(const std::stop_token& stop);
  void QueueRingCommand(int callsInProgress);

  HandsetLinkPorts ports_;
  RingState& ring_;
  SoftphoneState& client_;
  HandsetLinkHooks hooks_;
  HandsetState state_;
  HandsetCommandQueue queue_{state_.handsetOpen};
  std::unique_ptr<platform::Event> ackEvent_;
  std::unique_ptr<platform::Event> versionEvent_;
  // Set for every code queued; the sender resets it before each look at the queue.
  std::unique_ptr<platform::Event> commandQueued_;
  // Set when a key marks activity; the key-activity thread resets it before each look.
  std::unique_ptr<platform::Event> keyActivityMarked_;
  std::atomic<platform::WindowHandle> mainWindow_{0};
  // Set when a write failed while the handset was open; a handshake that waits in vain then
  // checks whether the handset is still there.
  std::atomic<bool> writeFailed_{false};
  // b2 of the last report handled; 100 at start, so a first report numbered 100 counts as a
  // repeat. User-interface thread only.
  std::uint32_t lastReportSequence_ = 100;
};

}  // namespace bridge
