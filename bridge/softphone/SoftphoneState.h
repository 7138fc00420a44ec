// What the bridge knows about the softphone client, shared by the user-interface thread and the
// workers. Flags and ids are atomics written whole; the client's device names are texts behind a
// small lock of their own, copied in and out, never referenced.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace bridge {

// Device names and other client texts are kept to this many characters.
inline constexpr std::size_t kClientTextMax = 255;

class SoftphoneState {
 public:
  std::atomic<bool> clientAttached{false};
  std::atomic<bool> callRinging{false};
  std::atomic<bool> clientMuted{false};
  // The call whose "RINGING" status arrived last.
  std::atomic<int> ringingCallId{0};

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
