#include "platform/win32/Win32AudioControl.h"

#include "companions/sonvane/SonvaneExports.h"

namespace win32 {

int Win32AudioControl::UpdateAudioDevice(const char* keyPath) { return ::UpdateAudioDevice(keyPath); }

std::uint32_t Win32AudioControl::WaveInGetNumDevs() { return ::APIwaveInGetNumDevs(); }

std::uint32_t Win32AudioControl::WaveOutGetNumDevs() { return ::APIwaveOutGetNumDevs(); }

int Win32AudioControl::WaveInGetDevCaps(std::uint32_t device, char* name, int size) {
  return ::APIwaveInGetDevCaps(device, name, size);
}

int Win32AudioControl::WaveOutGetDevCaps(std::uint32_t device, char* name, int size) {
  return ::APIwaveOutGetDevCaps(device, name, size);
}

int Win32AudioControl::GetDefaultAudioDevice(char* inputName, char* outputName) {
  return ::GetDefaultAudioDevice(inputName, outputName);
}

int Win32AudioControl::SetDefaultAudioDevice(const char* inputName, const char* outputName) {
  return ::SetDefaultAudioDevice(inputName, outputName);
}

}  // namespace win32
