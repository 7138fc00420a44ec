#include "devicemanager/app/ManagerSettings.h"

#include <cstring>

#include "common/SettingsKey.h"

namespace devicemanager {
namespace {

// The callers pass 255 as the size of a 256-byte buffer; the last byte stays a terminator even
// when the library fills all of it.
std::string Bounded(const char* buffer) { return std::string(buffer, strnlen(buffer, kNameCapacity)); }

}  // namespace

std::string RecordingName(platform::AudioControl& audio, std::uint32_t index) {
  char name[platform::kAudioNameSize] = {};
  audio.WaveInGetDevCaps(index, name, kNameCapacity);
  return Bounded(name);
}

std::string PlaybackName(platform::AudioControl& audio, std::uint32_t index) {
  char name[platform::kAudioNameSize] = {};
  audio.WaveOutGetDevCaps(index, name, kNameCapacity);
  return Bounded(name);
}

bool DefaultDevices(platform::AudioControl& audio, std::string& input, std::string& output) {
  char in[platform::kAudioNameSize] = {};
  char out[platform::kAudioNameSize] = {};
  if (!audio.GetDefaultAudioDevice(in, out)) return false;
  input = Bounded(in);
  output = Bounded(out);
  return true;
}

bool IsRemoteDesktopAudio(platform::AudioControl& audio) {
  const std::string recording = RecordingName(audio, 0);
  const std::string playback = PlaybackName(audio, 0);
  return playback.find("Microsoft RDP") != std::string::npos && recording.empty();
}

bool DeviceNamesReady(platform::AudioControl& audio) {
  const auto usable = [](const std::string& name) { return !name.empty() && name != " "; };
  const std::uint32_t recording = audio.WaveInGetNumDevs();
  for (std::uint32_t i = 0; i < recording; ++i) {
    if (!usable(RecordingName(audio, i))) return false;
  }
  const std::uint32_t playback = audio.WaveOutGetNumDevs();
  for (std::uint32_t i = 0; i < playback; ++i) {
    if (!usable(PlaybackName(audio, i))) return false;
  }
  return true;
}

bool StoredDevicesPresent(platform::AudioControl& audio, const std::string& input, const std::string& output) {
  bool inputFound = false;
  bool outputFound = false;
  const std::uint32_t recording = audio.WaveInGetNumDevs();
  for (std::uint32_t i = 0; i < recording; ++i) inputFound |= RecordingName(audio, i) == input;
  const std::uint32_t playback = audio.WaveOutGetNumDevs();
  for (std::uint32_t i = 0; i < playback; ++i) outputFound |= PlaybackName(audio, i) == output;
  return inputFound && outputFound;
}

std::uint32_t ReadManagerFlag(platform::Registry& registry, const char* name, std::uint32_t fallback) {
  CSettingsKey key(registry);
  if (!key.Create(platform::kHkeyCurrentUser, kManagerKey)) return fallback;
  return key.ReadFlag(name, fallback);
}

std::string ReadManagerName(platform::Registry& registry, const char* name) {
  CSettingsKey key(registry);
  if (!key.Create(platform::kHkeyCurrentUser, kManagerKey)) return {};
  char buffer[platform::kAudioNameSize] = {};
  key.ReadString(name, "", buffer, sizeof buffer);
  return buffer;
}

void WriteManagerDevices(platform::Registry& registry, const std::string& input, const std::string& output) {
  CSettingsKey key(registry);
  if (!key.Create(platform::kHkeyCurrentUser, kManagerKey)) return;
  key.WriteString(kDeviceIn, input.c_str());
  key.WriteString(kDeviceOut, output.c_str());
}

}  // namespace devicemanager
