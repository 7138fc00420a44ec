// The manager's registry layout, its private messages, and the device-list questions the
// watcher, the settings request and the dialogs all ask of the audio control library.
#pragma once

#include <cstdint>
#include <string>

#include "platform/AudioControl.h"
#include "platform/Registry.h"
#include "platform/Window.h"

namespace devicemanager {

// HKEY_CURRENT_USER.
inline constexpr char kManagerKey[] = "SOFTWARE\\VORLANE\\AUDIO_MANAGER";
inline constexpr char kRegisterSubKey[] = "\\REGISTER";
inline constexpr char kDeviceOut[] = "DEFAULT_DEVICE_OUT";
inline constexpr char kDeviceIn[] = "DEFAULT_DEVICE_IN";
inline constexpr char kWizardAutomatic[] = "WIZARD_AUTOMATIC";
inline constexpr char kDeviceWizard[] = "DEFAULT_DEVICE_WIZARD";
// Windows' own key, opened (never created) when one and one devices are adopted.
inline constexpr char kSoundMapperKey[] = "Software\\Microsoft\\Multimedia\\Sound Mapper";

inline constexpr std::uint32_t kUwmOpenSettings = platform::kWmApp + 1000;  // 0x83E8
inline constexpr std::uint32_t kUwmSetLanguage = platform::kWmApp + 1003;   // 0x83EB
inline constexpr std::uint32_t kUwmShowWizard = platform::kWmApp + 2;       // 0x8002
inline constexpr std::uint32_t kUwmDeviceChanged = platform::kWmApp + 3;    // 0x8003
// The watcher's request to end the program after too many failed queries.
inline constexpr std::uint32_t kUwmWatcherGaveUp = platform::kWmApp + 5;

inline constexpr char kCloseMessageName[] = "PX_CloseApplication";
inline constexpr std::uintptr_t kCloseCode = 99;

// A device name as the library reports it: at most 255 characters.
inline constexpr int kNameCapacity = platform::kAudioNameSize - 1;

// The name of device `index` of one side, bounded and terminated whatever the library writes.
std::string RecordingName(platform::AudioControl& audio, std::uint32_t index);
std::string PlaybackName(platform::AudioControl& audio, std::uint32_t index);

// Windows' current default devices; false when the query failed.
bool DefaultDevices(platform::AudioControl& audio, std::string& input, std::string& output);

// Only when there is at least one device on each side: playback 0 is a Remote Desktop device
// and recording 0 has no name.
bool IsRemoteDesktopAudio(platform::AudioControl& audio);
// Only when there is at least one device on each side: no name is empty or a single space.
bool DeviceNamesReady(platform::AudioControl& audio);
// Both stored names are among the present devices.
bool StoredDevicesPresent(platform::AudioControl& audio, const std::string& input, const std::string& output);

// Reads of the manager key (opened or created, read, closed); `fallback` when anything is amiss.
std::uint32_t ReadManagerFlag(platform::Registry& registry, const char* name, std::uint32_t fallback);
std::string ReadManagerName(platform::Registry& registry, const char* name);
// The user's recording and playback devices written into the manager key (opened or created);
// nothing when the key cannot be opened.
void WriteManagerDevices(platform::Registry& registry, const std::string& input, const std::string& output);

}  // namespace devicemanager
