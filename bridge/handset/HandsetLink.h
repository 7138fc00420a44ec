// The bridge's side of the handset: the command queue, the acknowledgement and version events,
// the four worker threads that keep the handset connected (device monitor, command sender,
// indicator, key activity), and closing it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "bridge/app/BridgePorts.h"
#include "bridge/app/BridgeState.h"
#include "bridge/handset/HandsetCommandQueue.h"

namespace bridge {

// Posted to the main window when the handset accepted a ring-tone upload.
inline constexpr std::uint32_t kMsgRingUploadAccepted = 0x800;
// The handset's acknowledgement code (b1 of an input report).
inline constexpr std::uint8_t kHandsetAck = 0x5A;

// What the link needs from the rest of the program.
struct HandsetLinkHooks {
  std::function<void()> updateTray;
  // Selects the parameter bytes of a ring tone (and clears the applied tone).
  std::function<void(std::uint32_t tone)> selectRingTone;
  // The handset's audio device name, once the audio devices can be found.
  std::function<std::optional<std::string>(std::uint32_t vendorId, std::uint32_t productId)> findDeviceName;
  // Mutes the handset's microphone monitor.
  std::function<void()> muteMicrophoneMonitor;
};

class CHandsetLink {
 public:
  using Report = std::array<std::uint8_t, 8>;

  CHandsetLink(BridgePorts& ports, BridgeState& state, HandsetLinkHooks hooks);

  void QueueHandsetCommand(std::uint8_t code) { queue_.QueueHandsetCommand(code); }
  void ClearHandsetCommands() { queue_.ClearHandsetCommands(); }

  // Creates the manual-reset acknowledgement and version events; before any thread starts.
  void CreateEvents();
  platform::Event& AckEvent() { return *ackEvent_; }
  platform::Event& VersionEvent() { return *versionEvent_; }

  void RequestFirmwareVersion();
  void RequestFirmwareVersionSecond();
  // A status report with the current indicator and key-activity bits; true when written.
  bool SendStatusReport();
  // A report with `code` in byte 2 and the current status bits.
  Report BuildReport(std::uint8_t code) const;

  bool SendCommandWithAck(Report report);
  bool UploadRingParameters(Report report);

  // Worker thread bodies, run for the life of the process (tests may request a stop).
  void DeviceMonitorThread(std::stop_token stop);
  void IndicatorThread(std::stop_token stop);
  void KeyActivityThread(std::stop_token stop);
  void CommandSenderThread(std::stop_token stop);

  // At shutdown: closes the handset and releases the library if it is open.
  void Close();
  // Points an attached client's audio at the handset's device when that is found.
  void PointClientAtHandset();

 private:
  bool Write(const Report& report);
  void VersionHandshake(const std::stop_token& stop);
  void OnOpened(const std::stop_token& stop);
  void QueueRingCommand(int callsInProgress);

  BridgePorts& ports_;
  BridgeState& state_;
  HandsetLinkHooks hooks_;
  HandsetCommandQueue queue_;
  std::unique_ptr<platform::Event> ackEvent_;
  std::unique_ptr<platform::Event> versionEvent_;
  // Set when a write fails while the handset is open: a handshake or upload under way ends at
  // once instead of waiting out its retries on a handset that is gone.
  std::atomic<bool> writeFailed_{false};
};

}  // namespace bridge
