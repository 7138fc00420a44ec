// The bridge program's process-wide state, shared by the user-interface thread and the workers.
// Flags, numbers and ids are atomics written whole; the client's device names are texts behind a
// small lock of their own, copied in and out, never referenced.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/Window.h"

namespace bridge {

// Device names and other client texts are kept to this many characters.
inline constexpr std::size_t kClientTextMax = 255;

class BridgeState {
 public:
  // Client link.
  std::atomic<bool> clientAttached{false};
  std::atomic<bool> callRinging{false};
  std::atomic<bool> clientMuted{false};
  std::atomic<int> ringingCallId{0};

  // Ring settings.
  std::atomic<std::uint32_t> ringMode{1};  // 1 ring, 2 silent ring
  std::atomic<std::uint32_t> ringType{0};  // tone 0..9
  std::atomic<std::uint32_t> appliedRingType{0};
  std::atomic<bool> ringPreviewActive{false};
  std::atomic<std::uint32_t> previewAfterUpload{2};  // 1 preview after the upload, 2 none
  // The five parameter bytes of the selected ring tone, as the upload sends them.
  std::array<std::atomic<std::uint8_t>, 5> ringParameters{};

  // Handset link.
  std::atomic<bool> handsetOpen{false};
  std::atomic<std::uint32_t> handsetProductId{0};
  std::atomic<bool> productIdToggle{false};
  std::atomic<std::uint8_t> firmwareMajor{0};
  std::atomic<std::uint8_t> firmwareMinor{0};
  // Both set: no version exchange under way.
  std::atomic<bool> versionFirstReceived{true};
  std::atomic<bool> versionSecondReceived{true};
  std::atomic<bool> indicatorOn{false};
  std::atomic<bool> keyActivityOn{false};
  std::atomic<std::uint32_t> keyActivitySeconds{0};
  std::atomic<int> handsetEventMode{1};

  // The main window, for the workers to post to.
  std::atomic<platform::WindowHandle> mainWindow{0};

  std::string ClientAudioIn() const;
  std::string ClientAudioOut() const;
  // Stored cut to kClientTextMax characters.
  void SetClientAudioIn(std::string_view name);
  void SetClientAudioOut(std::string_view name);

 private:
  mutable std::mutex textMutex_;
  std::string clientAudioIn_ = "Unknown";
  std::string clientAudioOut_ = "Unknown";
};

}  // namespace bridge
