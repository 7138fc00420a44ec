// Fakes of the audio device manager's desktop and audio library for the fuzz targets that run the
// manager: a desktop with no other windows, whose process list is whatever the target puts in
// `processes`, and an audio library with one device each side (kMic and kSpeakers), both of them
// the defaults.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/AudioControl.h"
#include "platform/Desktop.h"

namespace fuzz {

class FakeDesktop : public platform::Desktop {
 public:
  std::vector<platform::ProcessEntry> processes;

  platform::WindowHandle FindTopWindow(const char*, const char*) override { return 0; }
  bool Post(platform::WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override { return true; }
  std::intptr_t Send(platform::WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t) override { return 0; }
  std::intptr_t SendCopyData(platform::WindowHandle, platform::WindowHandle, std::uintptr_t, std::uintptr_t,
                             const void*, std::uint32_t) override {
    return 0;
  }
  std::uint32_t RegisterMessage(const char*) override { return 0xC123; }
  platform::WindowHandle ForegroundWindow() override { return 0; }
  bool IsVisible(platform::WindowHandle) override { return false; }
  bool BringToForeground(platform::WindowHandle) override { return false; }
  bool StartProcess(const char*, std::uint32_t) override { return false; }
  std::vector<platform::ProcessEntry> Processes() override { return processes; }
  std::uint32_t CurrentProcessId() override { return 100; }
  std::uint16_t SystemDefaultLangId() override { return 0x0409; }
  platform::VersionInfo Version() override { return {}; }
  std::string CommonProgramFilesFolder() override { return "C:\\Program Files\\Common Files"; }
  platform::WorkArea GetWorkArea() override { return {0, 0, 1024, 768}; }
  bool NotifyIcon(platform::TrayAction, const platform::TrayIcon&) override { return true; }
};

constexpr char kMic[] = "Mic";
constexpr char kSpeakers[] = "Speakers";

class FakeAudio final : public platform::AudioControl {
 public:
  int UpdateAudioDevice(const char*) override { return 1; }
  std::uint32_t WaveInGetNumDevs() override { return 1; }
  std::uint32_t WaveOutGetNumDevs() override { return 1; }
  int WaveInGetDevCaps(std::uint32_t device, char* name, int size) override { return Name(device, kMic, name, size); }
  int WaveOutGetDevCaps(std::uint32_t device, char* name, int size) override {
    return Name(device, kSpeakers, name, size);
  }
  int GetDefaultAudioDevice(char* input, char* output) override {
    std::strcpy(input, kMic);
    std::strcpy(output, kSpeakers);
    return 1;
  }
  int SetDefaultAudioDevice(const char*, const char*) override { return 1; }

 private:
  static int Name(std::uint32_t device, const char* text, char* name, int size) {
    if (device != 0 || size <= 0) return 0;
    const std::size_t n = std::min(std::strlen(text), static_cast<std::size_t>(size - 1));
    std::memcpy(name, text, n);
    name[n] = '\0';
    return 1;
  }
};

}  // namespace fuzz
