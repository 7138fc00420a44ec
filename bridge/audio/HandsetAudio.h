// The handset's audio: finding its mixer and waveform devices through its USB identity, and the
// mixer operations on them (volume steps, the key-tone level, the microphone monitor, the
// factory volumes, the dialogs' line volumes). Nothing is cached: every operation looks the
// handset up afresh, so plugging and unplugging are followed without any notification.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/Desktop.h"
#include "platform/Registry.h"
#include "platform/Winmm.h"

namespace bridge {

// Device names are read into 128 bytes: at most 127 characters.
inline constexpr std::size_t kHandsetDeviceNameMax = 127;
inline constexpr char kUsbAudioEnumPath[] = "SYSTEM\\CurrentControlSet\\Services\\usbaudio\\Enum";
inline constexpr char kDeviceEnumPath[] = "SYSTEM\\CurrentControlSet\\Enum\\";

// The registry value that names an audio device on this version of Windows, or null where the
// lookup cannot work: "DeviceDesc" on NT 5.0 after NT 4.0, "LocationInformation" from NT x.1 on
// (Windows XP and later report minor 1 or 2; Vista and Server 2008 report 6.0 and so read
// "DeviceDesc"). The major version is not looked at.
const char* DeviceNameValue(const platform::VersionInfo& version);

// "Vid_11f1&Pid_1402": the identity as the USB audio driver's instance paths spell it.
std::string UsbIdentityPattern(std::uint32_t vendorId, std::uint32_t productId);

// Finds the handset's audio device name: the first instance of the USB audio driver whose path
// contains the identity decides.
std::optional<std::string> FindHandsetDeviceName(platform::Registry& registry, const platform::VersionInfo& version,
                                                 std::uint32_t vendorId, std::uint32_t productId);

// A mixer line as the operations name it.
struct MixerLineRef {
  enum class Form { ByComponentType, ByDestination, BySource, MicrophoneMonitor };
  Form form = Form::ByDestination;
  std::uint32_t componentType = 0;
  std::uint32_t destination = 0;
  std::uint32_t source = 0;

  static MixerLineRef OfType(std::uint32_t type) { return {Form::ByComponentType, type, 0, 0}; }
  static MixerLineRef Destination(std::uint32_t d) { return {Form::ByDestination, 0, d, 0}; }
  static MixerLineRef Source(std::uint32_t d, std::uint32_t s) { return {Form::BySource, 0, d, s}; }
  // The last microphone source of destination 0.
  static MixerLineRef MicrophoneMonitor() { return {Form::MicrophoneMonitor, 0, 0, 0}; }
};

// The lines the operations use.
inline const MixerLineRef kSpeakerByType = MixerLineRef::OfType(platform::kComponentDstSpeakers);
inline const MixerLineRef kSpeakerByIndex = MixerLineRef::Destination(0);
inline const MixerLineRef kMicrophoneLine = MixerLineRef::Source(1, 1);

// The line's control of `controlType`; nothing when the line or the control is not there.
std::optional<platform::MixerControl> GetLineControl(platform::Winmm& winmm, std::uint32_t mixer, MixerLineRef line,
                                                     std::uint32_t controlType);
std::optional<std::uint32_t> GetControlValue(platform::Winmm& winmm, std::uint32_t mixer, std::uint32_t controlId);
bool SetControlValue(platform::Winmm& winmm, std::uint32_t mixer, std::uint32_t controlId, std::uint32_t value);

// A volume step: one fifth of the range (unsigned division), so five steps cross a 0..65535
// range exactly; a range of fewer than five values steps by 0.
constexpr std::uint32_t VolumeStep(const platform::MixerControl& c) { return (c.maximum - c.minimum + 1) / 5; }
// The middle of the range, as the factory reset and key-tone level 1 set it.
constexpr std::uint32_t VolumeMiddle(const platform::MixerControl& c) { return (c.maximum - c.minimum) >> 1; }
// Sliders run from the control's minimum to its maximum with the loud end at the top.
constexpr std::uint32_t SliderPosition(const platform::MixerControl& c, std::uint32_t value) {
  return c.maximum - value;
}
constexpr std::uint32_t SliderValue(const platform::MixerControl& c, std::uint32_t position) {
  return c.maximum - position;
}

class HandsetAudio {
 public:
  // Whether the handset is open, and the product id it was probed or opened under.
  struct HandsetIdentity {
    bool open = false;
    std::uint32_t productId = 0;
  };

  // `version` is the system's version as GetVersionExA reports it to this program.
  HandsetAudio(platform::Registry& registry, std::function<platform::VersionInfo()> version, platform::Winmm& winmm,
               std::function<HandsetIdentity()> handset)
      : registry_(registry), version_(std::move(version)), winmm_(winmm), handset_(std::move(handset)) {}

  platform::Winmm& Winmm() { return winmm_; }
  HandsetIdentity Handset() const { return handset_(); }

  std::optional<std::string> FindDeviceName(std::uint32_t productId);
  std::optional<std::uint32_t> FindMixer(std::uint32_t productId);
  // The product name of the handset's mixer, when there is one: the name the client is pointed at.
  std::optional<std::string> FindMixerName(std::uint32_t productId);
  std::optional<std::uint32_t> FindWaveOut(std::uint32_t productId);
  std::optional<std::uint32_t> FindWaveIn(std::uint32_t productId);
  // Both waveform devices of one model are there (0x1402 tried first); the handset need not be
  // open.
  bool HandsetAudioPresent();

  // The handset's mixer while the handset is open; nothing otherwise.
  std::optional<std::uint32_t> OpenHandsetMixer();
  // The mixer under the last probed product id, open or not (the volume pop-up's view).
  std::optional<std::uint32_t> ProbedHandsetMixer();

  enum class Step { Up, Down };
  // One step of the speaker found by type: under the open handset's product id, or 0x1403 while
  // none is open. False when nothing was set (the pop-up is then not shown).
  bool StepSpeakerVolume(Step step);
  // Saves the speaker's value and sets the key-tone level: 0 (and anything but 1 and 2) the
  // maximum, 1 the middle, 2 the minimum.
  void ApplyKeyToneLevel(std::uint32_t level);
  void RestoreSpeakerVolume();
  // Run by the device monitor once the handset is open.
  void MuteMicrophoneMonitor();
  // The speaker (by index) and the microphone to the middle of their ranges.
  void ResetHandsetVolumes();

  // A line's volume control and value on the open handset's mixer (the volume dialog).
  struct LineVolume {
    platform::MixerControl control;
    std::optional<std::uint32_t> value;
  };
  std::optional<LineVolume> ReadLineVolume(MixerLineRef line);
  // Sets the line's volume to the value of a slider position within the control's bounds; false
  // when the position lies outside them or nothing could be set.
  bool SetLineVolumeFromSlider(MixerLineRef line, std::uint32_t position);
  // The same on the mixer the pop-up shows (the probed product id, open or not).
  bool SetSpeakerVolumeFromPopupSlider(std::uint32_t position);
  // One step of the test panel's mixer tests on the open handset's mixer: the control's value
  // is read, then set; a line or control that is not there is skipped.
  void MixerTestStep(MixerLineRef line, std::uint32_t controlType, std::uint32_t value);

 private:
  struct FoundDevice {
    std::uint32_t index = 0;
    std::string name;
  };
  std::optional<FoundDevice> FindDevice(std::uint32_t productId, std::uint32_t (platform::Winmm::*count)(),
                                        std::uint32_t (platform::Winmm::*name)(std::uint32_t, std::string&));

  platform::Registry& registry_;
  std::function<platform::VersionInfo()> version_;
  platform::Winmm& winmm_;
  std::function<HandsetIdentity()> handset_;
  // The speaker's value while a key tone sounds at the key-tone level (user-interface thread).
  std::uint32_t savedSpeakerVolume_ = 0;
};

}  // namespace bridge
