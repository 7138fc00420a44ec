// The bridge's side of the handset: the command queue, the acknowledgement and version events,
// the worker threads that keep the handset connected, and closing it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>

#include "bridge/app/BridgePorts.h"
#include "bridge/app/BridgeState.h"
#include "bridge/handset/HandsetCommandQueue.h"

namespace bridge {

class CHandsetLink {
 public:
  // `updateTray` redraws the tray icon after the handset came or went.
  CHandsetLink(BridgePorts& ports, BridgeState& state, std::function<void()> updateTray);

  void QueueHandsetCommand(std::uint8_t code) { queue_.QueueHandsetCommand(code); }
  void ClearHandsetCommands() { queue_.ClearHandsetCommands(); }
  HandsetCommandQueue& Queue() { return queue_; }

  // Creates the manual-reset acknowledgement and version events; before any thread starts.
  void CreateEvents();

  // Worker thread bodies, run for the life of the process.
  void DeviceMonitorThread(std::stop_token stop);
  void IndicatorThread(std::stop_token stop);
  void KeyActivityThread(std::stop_token stop);
  void CommandSenderThread(std::stop_token stop);

  // At shutdown: closes the handset and releases the library if it is open.
  void Close();

 private:
  BridgePorts& ports_;
  BridgeState& state_;
  std::function<void()> updateTray_;
  HandsetCommandQueue queue_;
  std::unique_ptr<platform::Event> ackEvent_;
  std::unique_ptr<platform::Event> versionEvent_;
};

}  // namespace bridge
