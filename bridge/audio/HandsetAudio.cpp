#include "bridge/audio/HandsetAudio.h"

#include <cstdio>
#include <cstring>

#include "common/SettingsKey.h"
#include "platform/HidLink.h"

namespace bridge {
namespace {

constexpr std::uint32_t kPlatformNt = 2;
// NT 4.0's last build; Windows 2000 is 5.0 with a higher one.
constexpr std::uint32_t kNt4LastBuild = 1381;
constexpr std::size_t kNameBuffer = kHandsetDeviceNameMax + 1;

// Closes a raw registry key on every path.
class KeyCloser {
 public:
  KeyCloser(platform::Registry& registry, platform::RegKey key) : registry_(registry), key_(key) {}
  ~KeyCloser() { registry_.CloseKey(key_); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  platform::Registry& registry_;
  platform::RegKey key_;
};

}  // namespace

const char* DeviceNameValue(const platform::VersionInfo& version) {
  if (version.platformId != kPlatformNt) return nullptr;
  if (version.minor >= 1) return "LocationInformation";
  if (version.build > kNt4LastBuild) return "DeviceDesc";
  return nullptr;
}

std::string UsbIdentityPattern(std::uint32_t vendorId, std::uint32_t productId) {
  char pattern[32];
  std::snprintf(pattern, sizeof pattern, "Vid_%x&Pid_%x", vendorId, productId);
  return pattern;
}

std::optional<std::string> FindHandsetDeviceName(platform::Registry& registry, const platform::VersionInfo& version,
                                                 std::uint32_t vendorId, std::uint32_t productId) {
  const char* valueName = DeviceNameValue(version);
  if (!valueName) return std::nullopt;
  const std::string pattern = UsbIdentityPattern(vendorId, productId);

  std::string instance;
  {
    CSettingsKey enumKey(registry);  // closed when it goes out of scope, on every path
    if (!enumKey.OpenRead(platform::kHkeyLocalMachine, kUsbAudioEnumPath)) return std::nullopt;
    const std::uint32_t count = enumKey.ReadDword("Count", 0);
    bool found = false;
    for (std::uint32_t i = 0; i < count && !found; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "%u", i);
      char path[kNameBuffer];
      enumKey.ReadString(name, "", path, sizeof path);
      // Case-sensitive: an entry that spells the identity in capitals does not match.
      if (std::strstr(path, pattern.c_str())) {
        instance = path;
        found = true;
      }
    }
    if (!found) return std::nullopt;
  }

  platform::RegKey device = 0;
  const std::string devicePath = std::string(kDeviceEnumPath) + instance;
  if (registry.OpenKey(platform::kHkeyLocalMachine, devicePath.c_str(), platform::RegAccess::Read, &device) !=
      platform::kErrorSuccess) {
    return std::nullopt;
  }
  KeyCloser closer(registry, device);
  // Whatever the value's type, 128 bytes of it; the text ends at its terminator or at the
  // buffer's end, never beyond.
  std::uint8_t data[kNameBuffer] = {};
  std::uint32_t size = sizeof data;
  if (registry.QueryValue(device, valueName, nullptr, data, &size) != platform::kErrorSuccess) return std::nullopt;
  const std::size_t length =
      strnlen(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, kHandsetDeviceNameMax));
  return std::string(reinterpret_cast<const char*>(data), length);
}

std::optional<platform::MixerControl> GetLineControl(platform::Winmm& winmm, std::uint32_t mixer, MixerLineRef line,
                                                     std::uint32_t controlType) {
  const auto controlOf = [&](const platform::MixerLine& found) -> std::optional<platform::MixerControl> {
    platform::MixerControl control;
    if (winmm.MixerLineControl(mixer, found.lineId, controlType, control) != platform::kMmSuccess) return std::nullopt;
    return control;
  };
  platform::MixerLine query;
  switch (line.form) {
    case MixerLineRef::Form::ByComponentType:
      query.componentType = line.componentType;
      if (winmm.MixerLineInfo(mixer, platform::LineQuery::ByComponentType, query) != platform::kMmSuccess) break;
      return controlOf(query);
    case MixerLineRef::Form::ByDestination:
      query.destination = line.destination;
      if (winmm.MixerLineInfo(mixer, platform::LineQuery::ByDestination, query) != platform::kMmSuccess) break;
      return controlOf(query);
    case MixerLineRef::Form::BySource:
      query.destination = line.destination;
      query.source = line.source;
      if (winmm.MixerLineInfo(mixer, platform::LineQuery::BySource, query) != platform::kMmSuccess) break;
      return controlOf(query);
    case MixerLineRef::Form::MicrophoneMonitor: {
      query.destination = 0;
      if (winmm.MixerLineInfo(mixer, platform::LineQuery::ByDestination, query) != platform::kMmSuccess) break;
      // A later microphone source replaces an earlier one; the last one whose control was read
      // wins.
      std::optional<platform::MixerControl> monitor;
      for (std::uint32_t s = 0; s < query.connections; ++s) {
        platform::MixerLine source;
        source.destination = 0;
        source.source = s;
        if (winmm.MixerLineInfo(mixer, platform::LineQuery::BySource, source) != platform::kMmSuccess) continue;
        if (source.componentType != platform::kComponentSrcMicrophone) continue;
        if (auto control = controlOf(source)) monitor = control;
      }
      return monitor;
    }
  }
  return std::nullopt;
}

std::optional<std::uint32_t> GetControlValue(platform::Winmm& winmm, std::uint32_t mixer, std::uint32_t controlId) {
  std::uint32_t value = 0;
  if (winmm.MixerGetValue(mixer, controlId, value) != platform::kMmSuccess) return std::nullopt;
  return value;
}

bool SetControlValue(platform::Winmm& winmm, std::uint32_t mixer, std::uint32_t controlId, std::uint32_t value) {
  return winmm.MixerSetValue(mixer, controlId, value) == platform::kMmSuccess;
}

std::optional<std::string> HandsetAudio::FindDeviceName(std::uint32_t productId) {
  return FindHandsetDeviceName(registry_, version_(), platform::kHandsetVendorId, productId);
}

std::optional<HandsetAudio::FoundDevice> HandsetAudio::FindDevice(
    std::uint32_t productId, std::uint32_t (platform::Winmm::*count)(),
    std::uint32_t (platform::Winmm::*name)(std::uint32_t, std::string&)) {
  auto wanted = FindDeviceName(productId);
  if (!wanted) return std::nullopt;
  const std::uint32_t devices = (winmm_.*count)();
  for (std::uint32_t device = 0; device < devices; ++device) {
    std::string product;
    // The product name is whole and exact; Windows keeps 31 characters of it, so a longer
    // registry name never matches.
    if ((winmm_.*name)(device, product) == platform::kMmSuccess && product == *wanted) {
      return FoundDevice{device, std::move(*wanted)};
    }
  }
  return std::nullopt;
}

std::optional<std::uint32_t> HandsetAudio::FindMixer(std::uint32_t productId) {
  const auto found = FindDevice(productId, &platform::Winmm::MixerCount, &platform::Winmm::MixerName);
  return found ? std::optional<std::uint32_t>(found->index) : std::nullopt;
}

std::optional<std::string> HandsetAudio::FindMixerName(std::uint32_t productId) {
  auto found = FindDevice(productId, &platform::Winmm::MixerCount, &platform::Winmm::MixerName);
  return found ? std::optional<std::string>(std::move(found->name)) : std::nullopt;
}

std::optional<std::uint32_t> HandsetAudio::FindWaveOut(std::uint32_t productId) {
  const auto found = FindDevice(productId, &platform::Winmm::WaveOutCount, &platform::Winmm::WaveOutName);
  return found ? std::optional<std::uint32_t>(found->index) : std::nullopt;
}

std::optional<std::uint32_t> HandsetAudio::FindWaveIn(std::uint32_t productId) {
  const auto found = FindDevice(productId, &platform::Winmm::WaveInCount, &platform::Winmm::WaveInName);
  return found ? std::optional<std::uint32_t>(found->index) : std::nullopt;
}

bool HandsetAudio::HandsetAudioPresent() {
  for (const std::uint32_t product : {platform::kHandsetProductA, platform::kHandsetProductB}) {
    if (FindWaveIn(product) && FindWaveOut(product)) return true;
  }
  return false;
}

std::optional<std::uint32_t> HandsetAudio::OpenHandsetMixer() {
  const auto handset = handset_();
  if (!handset.open) return std::nullopt;
  return FindMixer(handset.productId);
}

std::optional<std::uint32_t> HandsetAudio::ProbedHandsetMixer() { return FindMixer(handset_().productId); }

bool HandsetAudio::StepSpeakerVolume(Step step) {
  const auto handset = handset_();
  const auto mixer = FindMixer(handset.open ? handset.productId : platform::kHandsetProductB);
  if (!mixer) return false;
  const auto control = GetLineControl(winmm_, *mixer, kSpeakerByType, platform::kControlVolume);
  if (!control) return false;
  const std::uint32_t stepSize = VolumeStep(*control);
  auto value = GetControlValue(winmm_, *mixer, control->controlId);
  if (!value) return false;
  std::uint32_t v = *value;
  if (step == Step::Up) {
    // Up to the maximum at most, without wrapping past the top of the type.
    if (v < control->maximum) v = control->maximum - v > stepSize ? v + stepSize : control->maximum;
    if (v > control->maximum) v = control->maximum;
  } else if (v > control->minimum) {
    // Never below the minimum, and without wrapping below zero.
    v = v - control->minimum > stepSize ? v - stepSize : control->minimum;
  }
  SetControlValue(winmm_, *mixer, control->controlId, v);
  return true;
}

void HandsetAudio::ApplyKeyToneLevel(std::uint32_t level) {
  const auto mixer = OpenHandsetMixer();
  if (!mixer) return;
  const auto control = GetLineControl(winmm_, *mixer, kSpeakerByType, platform::kControlVolume);
  if (!control) return;
  std::uint32_t target = control->maximum;
  if (level == 1) target = VolumeMiddle(*control);
  if (level == 2) target = control->minimum;
  if (const auto value = GetControlValue(winmm_, *mixer, control->controlId)) savedSpeakerVolume_ = *value;
  SetControlValue(winmm_, *mixer, control->controlId, target);
}

void HandsetAudio::RestoreSpeakerVolume() {
  const auto mixer = OpenHandsetMixer();
  if (!mixer) return;
  if (const auto control = GetLineControl(winmm_, *mixer, kSpeakerByType, platform::kControlVolume)) {
    SetControlValue(winmm_, *mixer, control->controlId, savedSpeakerVolume_);
  }
}

void HandsetAudio::MuteMicrophoneMonitor() {
  const auto mixer = OpenHandsetMixer();
  if (!mixer) return;
  if (const auto control = GetLineControl(winmm_, *mixer, MixerLineRef::MicrophoneMonitor(), platform::kControlMute)) {
    SetControlValue(winmm_, *mixer, control->controlId, 1);
  }
}

void HandsetAudio::ResetHandsetVolumes() {
  const auto mixer = OpenHandsetMixer();
  if (!mixer) return;
  for (const auto& line : {kSpeakerByIndex, kMicrophoneLine}) {
    if (const auto control = GetLineControl(winmm_, *mixer, line, platform::kControlVolume)) {
      SetControlValue(winmm_, *mixer, control->controlId, VolumeMiddle(*control));
    }
  }
}

std::optional<HandsetAudio::LineVolume> HandsetAudio::ReadLineVolume(MixerLineRef line) {
  const auto mixer = OpenHandsetMixer();
  if (!mixer) return std::nullopt;
  const auto control = GetLineControl(winmm_, *mixer, line, platform::kControlVolume);
  if (!control) return std::nullopt;
  return LineVolume{*control, GetControlValue(winmm_, *mixer, control->controlId)};
}

bool HandsetAudio::SetLineVolumeFromSlider(MixerLineRef line, std::uint32_t position) {
  const auto mixer = OpenHandsetMixer();
  if (!mixer) return false;
  const auto control = GetLineControl(winmm_, *mixer, line, platform::kControlVolume);
  if (!control || position < control->minimum || position > control->maximum) return false;
  return SetControlValue(winmm_, *mixer, control->controlId, SliderValue(*control, position));
}

bool HandsetAudio::SetSpeakerVolumeFromPopupSlider(std::uint32_t position) {
  const auto mixer = ProbedHandsetMixer();
  if (!mixer) return false;
  const auto control = GetLineControl(winmm_, *mixer, kSpeakerByType, platform::kControlVolume);
  if (!control || position < control->minimum || position > control->maximum) return false;
  return SetControlValue(winmm_, *mixer, control->controlId, SliderValue(*control, position));
}

void HandsetAudio::MixerTestStep(MixerLineRef line, std::uint32_t controlType, std::uint32_t value) {
  const auto mixer = OpenHandsetMixer();
  if (!mixer) return;
  const auto control = GetLineControl(winmm_, *mixer, line, controlType);
  if (!control) return;
  (void)GetControlValue(winmm_, *mixer, control->controlId);
  SetControlValue(winmm_, *mixer, control->controlId, value);
}

}  // namespace bridge
