// The AudioControl port on Sonvane.dll, the device manager's audio control library, whose seven
// exports this adapter imports by name (the program links the library's import library and
// cannot start without the file beside it). Each member is the export of the same name.
#pragma once

#include "platform/AudioControl.h"

namespace win32 {

class Win32AudioControl final : public platform::AudioControl {
 public:
  int UpdateAudioDevice(const char* keyPath) override;
  std::uint32_t WaveInGetNumDevs() override;
  std::uint32_t WaveOutGetNumDevs() override;
  int WaveInGetDevCaps(std::uint32_t device, char* name, int size) override;
  int WaveOutGetDevCaps(std::uint32_t device, char* name, int size) override;
  int GetDefaultAudioDevice(char* inputName, char* outputName) override;
  int SetDefaultAudioDevice(const char* inputName, const char* outputName) override;
};

}  // namespace win32
