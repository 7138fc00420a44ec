// The sending side of the link to the audio device manager (SNDWD.exe): start it when its window
// is missing, keep it alive by registering our process id, tell it the language and hand it the
// client's device names. Nothing comes back from the manager.
#pragma once

#include "common/Language.h"

#include <cstdint>
#include <string_view>

#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/Registry.h"

namespace bridge {

inline constexpr char kAudioManagerTitle[] = "SNDWD";
inline constexpr char kAudioManagerExe[] = "SNDWD.exe";
// HKEY_CURRENT_USER, "SOFTWARE\VORLANE\AUDIO_MANAGER" + "\REGISTER".
inline constexpr char kAudioManagerKey[] = "SOFTWARE\\VORLANE\\AUDIO_MANAGER";
inline constexpr char kRegisterSubKey[] = "\\REGISTER";
inline constexpr char kBridgeRegistrationName[] = "Teliox";

inline constexpr std::uint32_t kMsgManagerLanguage = 0x83EB;     // WM_APP + 1003, wParam language
inline constexpr std::uint32_t kMsgManagerOpenDevices = 0x83E8;  // WM_APP + 1000
inline constexpr std::uintptr_t kCopyDataAudioIn = 1;
inline constexpr std::uintptr_t kCopyDataAudioOut = 2;
// The manager gets at most this many characters of a device name, always terminated.
inline constexpr std::size_t kDeviceNameMax = 255;
// How long a freshly started manager gets to create its window.
inline constexpr std::uint32_t kManagerStartWaitMs = 500;

class AudioManagerLink {
 public:
  AudioManagerLink(platform::Desktop& desktop, platform::Registry& registry, platform::Clock& clock)
      : desktop_(desktop), registry_(registry), clock_(clock) {}

  // 2 when the manager's window exists already, else 1 when its program could be started, 0 if not.
  int StartAudioManager();
  bool RegisterWithAudioManager(const char* name);
  bool UnregisterFromAudioManager(const char* name);
  // The manager's answer, or 0 when it is not there.
  std::intptr_t SendLanguageToAudioManager(common::Language language);
  // The result of posting the open request, or 0.
  std::intptr_t OpenAudioManagerDevices(std::string_view inputName, std::string_view outputName,
                                        common::Language language, platform::WindowHandle from);

 private:
  // The manager's window, starting it and waiting for it when missing; 0 when it is not there.
  platform::WindowHandle FindOrStart();
  void SendName(platform::WindowHandle manager, platform::WindowHandle from, std::uintptr_t which,
                std::string_view name);

  platform::Desktop& desktop_;
  platform::Registry& registry_;
  platform::Clock& clock_;
};

}  // namespace bridge
