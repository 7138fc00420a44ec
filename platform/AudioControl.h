// The audio control library of the device manager: seven exports by name.
#pragma once

#include <cstdint>

namespace platform {

// Name buffers are 256 bytes: 255 characters and the terminator.
inline constexpr int kAudioNameSize = 256;

class AudioControl {
 public:
  virtual ~AudioControl() = default;
  // Refreshes the library's view of the devices; keyPath is the manager's settings key.
  virtual int UpdateAudioDevice(const char* keyPath) = 0;
  virtual std::uint32_t WaveInGetNumDevs() = 0;
  virtual std::uint32_t WaveOutGetNumDevs() = 0;
  // Fills `name` (of `size` bytes, `size` passed as 255 by the callers) with the device's
  // zero-terminated name.
  virtual int WaveInGetDevCaps(std::uint32_t device, char* name, int size) = 0;
  virtual int WaveOutGetDevCaps(std::uint32_t device, char* name, int size) = 0;
  // Non-zero when both kAudioNameSize-byte buffers hold Windows' current default devices.
  virtual int GetDefaultAudioDevice(char* inputName, char* outputName) = 0;
  // Non-zero when the named devices are now Windows' defaults.
  virtual int SetDefaultAudioDevice(const char* inputName, const char* outputName) = 0;
};

}  // namespace platform
