// The handset's audio: finding its devices through the USB audio driver's registry entries, and
// the mixer arithmetic, against the simulated audio world and in-memory registry.
#include "bridge/audio/HandsetAudio.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge/audio/ToneSynth.h"
#include "platform/HidLink.h"
#include "sim/AudioWorld.h"

namespace bridge::test {
namespace {

using platform::VersionInfo;
using sim::AudioWorld;

class NoPoster final : public sim::WindowPoster {
 public:
  bool PostTo(platform::WindowHandle, std::uint32_t, std::uintptr_t, std::intptr_t,
              std::shared_ptr<const void>) override {
    return true;
  }
};

constexpr VersionInfo kWindowsXp{2, 5, 1, 2600};
constexpr VersionInfo kWindows2000{2, 5, 0, 2195};
constexpr VersionInfo kNt4{2, 4, 0, 1381};
constexpr VersionInfo kWindows98{1, 4, 10, 2222};
constexpr char kPhone[] = "USB Phone";
const std::string kEnumKey = std::string("HKLM\\") + kUsbAudioEnumPath;

class HandsetAudioTest : public ::testing::Test {
 protected:
  HandsetAudio Audio(bool open, std::uint32_t productId = platform::kHandsetProductA) {
    return HandsetAudio(
        registry_, [this] { return version_; }, world_,
        [=] {
          return HandsetAudio::HandsetIdentity{open, productId};
        });
  }
  std::uint32_t Value(const char* mixer, AudioWorld::LineRef line,
                      AudioWorld::ControlKind kind = AudioWorld::ControlKind::Volume) {
    return world_.ControlValue(mixer, line, kind).value_or(0xDEAD);
  }
  // An Enum entry `index` with this instance path, and the device key's two name values.
  void PutEntry(std::uint32_t index, const std::string& path, const char* name) {
    registry_.PutString(kEnumKey, std::to_string(index), path);
    if (name) {
      const std::string device = std::string("HKLM\\") + kDeviceEnumPath + path;
      registry_.PutString(device, "LocationInformation", name);
      registry_.PutString(device, "DeviceDesc", name);
    }
  }

  VersionInfo version_ = kWindowsXp;
  sim::VirtualClock clock_{sim::VirtualClock::Options{false, 0}};
  sim::Scheduler scheduler_{clock_};
  sim::Transcript transcript_{clock_};
  NoPoster poster_;
  sim::MemoryRegistry registry_;
  AudioWorld world_{clock_, scheduler_, transcript_, poster_, registry_};
};

TEST_F(HandsetAudioTest, TheWindowsVersionChoosesTheNameValue) {
  EXPECT_STREQ(DeviceNameValue(kWindows2000), "DeviceDesc");
  EXPECT_STREQ(DeviceNameValue(kWindowsXp), "LocationInformation");
  EXPECT_STREQ(DeviceNameValue(VersionInfo{2, 6, 2, 9200}), "LocationInformation");
  EXPECT_EQ(DeviceNameValue(kNt4), nullptr);
  EXPECT_EQ(DeviceNameValue(kWindows98), nullptr);

  // The two values name the device differently here, so the lookup shows which one it read.
  const std::string path = AudioWorld::HandsetInstancePath(0x1402, 0);
  registry_.PutDword(kEnumKey, "Count", 1);
  PutEntry(0, path, "from LocationInformation");
  registry_.PutString(std::string("HKLM\\") + kDeviceEnumPath + path, "DeviceDesc", "from DeviceDesc");
  const auto lookup = [&](VersionInfo v) { return FindHandsetDeviceName(registry_, v, 0x11F1, 0x1402); };
  EXPECT_EQ(lookup(kWindows2000), "from DeviceDesc");
  EXPECT_EQ(lookup(kWindowsXp), "from LocationInformation");
  EXPECT_EQ(lookup(kNt4), std::nullopt);
  EXPECT_EQ(lookup(kWindows98), std::nullopt);
}

TEST_F(HandsetAudioTest, TheIdentityIsMatchedCaseSensitivelyAndTheFirstMatchDecides) {
  EXPECT_EQ(UsbIdentityPattern(0x11F1, 0x1402), "Vid_11f1&Pid_1402");
  registry_.PutDword(kEnumKey, "Count", 3);
  PutEntry(0, "USB\\VID_11F1&PID_1402&MI_00\\6&0&0&0000", "capitals");  // as some drivers spell it
  PutEntry(1, "USB\\Vid_11f1&Pid_1402&MI_00\\6&0&1&0000", nullptr);     // the first match, no name
  PutEntry(2, "USB\\Vid_11f1&Pid_1402&MI_00\\6&0&2&0000", "second");
  EXPECT_EQ(FindHandsetDeviceName(registry_, kWindowsXp, 0x11F1, 0x1402), std::nullopt)
      << "the first matching entry decides even when its device key lacks the name";
  registry_.PutDword(kEnumKey, "Count", 1);
  EXPECT_EQ(FindHandsetDeviceName(registry_, kWindowsXp, 0x11F1, 0x1402), std::nullopt) << "capitals never match";
  registry_.PutDword(kEnumKey, "Count", 0);
  EXPECT_EQ(FindHandsetDeviceName(registry_, kWindowsXp, 0x11F1, 0x1402), std::nullopt);
}

TEST_F(HandsetAudioTest, AnOverlongOrUnterminatedNameStaysWithinItsBuffer) {
  const std::string path = AudioWorld::HandsetInstancePath(0x1402, 0);
  registry_.PutDword(kEnumKey, "Count", 1);
  registry_.PutString(kEnumKey, "0", path);
  // 200 bytes of binary data with no terminator anywhere: 128 bytes do not hold it.
  registry_.Put(std::string("HKLM\\") + kDeviceEnumPath + path, "LocationInformation",
                sim::RegistryValue{platform::kRegBinary, std::vector<std::uint8_t>(200, 'x')});
  EXPECT_EQ(FindHandsetDeviceName(registry_, kWindowsXp, 0x11F1, 0x1402), std::nullopt);
  registry_.Put(std::string("HKLM\\") + kDeviceEnumPath + path, "LocationInformation",
                sim::RegistryValue{platform::kRegBinary, std::vector<std::uint8_t>(128, 'y')});
  EXPECT_EQ(FindHandsetDeviceName(registry_, kWindowsXp, 0x11F1, 0x1402), std::string(127, 'y'));
}

TEST_F(HandsetAudioTest, DevicesMatchTheWholeNameAndTheLowerIndexWins) {
  const std::string name31(31, 'n');
  world_.AddHandset(name31, 0x1402);
  auto audio = Audio(true);
  EXPECT_EQ(audio.FindMixer(0x1402), 0u);
  EXPECT_EQ(audio.FindWaveOut(0x1402), 0u);
  EXPECT_TRUE(audio.HandsetAudioPresent());

  // Windows keeps 31 characters of a product name: a 32-character registry name never matches.
  world_.Remove(name31);
  world_.AddHandset(name31 + "m", 0x1402);
  EXPECT_EQ(audio.FindMixer(0x1402), std::nullopt);
  EXPECT_FALSE(audio.HandsetAudioPresent());

  world_.AddMixer(kPhone, AudioWorld::HandsetMixerLayout());
  world_.AddHandset(kPhone, 0x1403);  // a second mixer of the same name, after the first
  EXPECT_EQ(audio.FindMixer(0x1403), 1u);
  EXPECT_TRUE(audio.HandsetAudioPresent()) << "the second model counts too, open or not";
}

TEST_F(HandsetAudioTest, VolumeStepsFollowTheRange) {
  world_.AddHandset(kPhone, 0x1402);
  const AudioWorld::LineRef speaker{0, std::nullopt};
  auto audio = Audio(true);
  const auto steps = [&](std::uint32_t max, std::uint32_t start, HandsetAudio::Step step, int n) {
    world_.SetControl(kPhone, speaker, AudioWorld::ControlKind::Volume, AudioWorld::Range{0, max}, start);
    for (int i = 0; i < n; ++i) EXPECT_TRUE(audio.StepSpeakerVolume(step));
    return Value(kPhone, speaker);
  };
  EXPECT_EQ(steps(65535, 65535, HandsetAudio::Step::Down, 5), 0u) << "five steps cross the range exactly";
  EXPECT_EQ(steps(65535, 65535, HandsetAudio::Step::Up, 1), 65535u) << "up at the maximum stays there";
  EXPECT_EQ(steps(65535, 13106, HandsetAudio::Step::Down, 1), 0u) << "less than a step above the minimum";
  EXPECT_EQ(steps(65535, 60000, HandsetAudio::Step::Up, 1), 65535u);
  EXPECT_EQ(steps(4, 2, HandsetAudio::Step::Up, 1), 3u) << "range 0..4 steps by 1";
  EXPECT_EQ(steps(3, 2, HandsetAudio::Step::Up, 1), 2u) << "range 0..3 steps by 0";
  EXPECT_EQ(steps(3, 2, HandsetAudio::Step::Down, 1), 2u);
}

TEST_F(HandsetAudioTest, WithNoHandsetOpenOnlyTheSecondModelSteps) {
  const AudioWorld::LineRef speaker{0, std::nullopt};
  world_.AddHandset(kPhone, 0x1402);
  EXPECT_FALSE(Audio(false, 0x1402).StepSpeakerVolume(HandsetAudio::Step::Down));
  EXPECT_EQ(Value(kPhone, speaker), 32768u);
  world_.Remove(kPhone);
  world_.AddHandset(kPhone, 0x1403);
  EXPECT_TRUE(Audio(false, 0x1402).StepSpeakerVolume(HandsetAudio::Step::Down));
  EXPECT_EQ(Value(kPhone, speaker), 32768u - 13107u);
  // The key-tone level, the monitor and the dialogs need the handset open.
  Audio(false, 0x1403).ResetHandsetVolumes();
  EXPECT_EQ(Value(kPhone, speaker), 32768u - 13107u);
}

TEST_F(HandsetAudioTest, KeyToneLevelsAndTheFactoryVolumes) {
  world_.AddHandset(kPhone, 0x1402);
  const AudioWorld::LineRef speaker{0, std::nullopt};
  const AudioWorld::LineRef microphone{1, 1};
  world_.SetControl(kPhone, speaker, AudioWorld::ControlKind::Volume, AudioWorld::Range{100, 1100}, 700);
  auto audio = Audio(true);
  const std::pair<std::uint32_t, std::uint32_t> levels[] = {{0, 1100}, {1, 500}, {2, 100}, {3, 1100}};
  for (const auto& [level, expected] : levels) {
    audio.ApplyKeyToneLevel(level);
    EXPECT_EQ(Value(kPhone, speaker), expected) << "level " << level;
    audio.RestoreSpeakerVolume();
    EXPECT_EQ(Value(kPhone, speaker), 700u) << "the user's value comes back";
  }
  audio.ResetHandsetVolumes();
  EXPECT_EQ(Value(kPhone, speaker), 500u) << "(max - min) >> 1, as the handset has always been reset";
  EXPECT_EQ(Value(kPhone, microphone), 32767u);
}

TEST_F(HandsetAudioTest, TheMonitorIsTheLastMicrophoneSourceOfTheSpeakers) {
  using Layout = AudioWorld::DestinationLayout;
  const AudioWorld::ControlLayout mute{AudioWorld::ControlKind::Mute, 0, 1, 0};
  world_.AddHandset(kPhone, 0x1402);
  world_.Remove(kPhone);
  // Two microphone sources and a line source on the speakers: the second microphone is muted.
  world_.AddMixer(kPhone, {Layout{{platform::kComponentDstSpeakers, "Speaker", {}},
                                  {{platform::kComponentSrcMicrophone, "Mic 1", {mute}},
                                   {platform::kComponentSrcLine, "Line", {mute}},
                                   {platform::kComponentSrcMicrophone, "Mic 2", {mute}}}}});
  world_.AddPlayback(kPhone);
  world_.AddRecording(kPhone);
  registry_.PutDword(kEnumKey, "Count", 1);
  PutEntry(0, AudioWorld::HandsetInstancePath(0x1402, 0), kPhone);
  auto audio = Audio(true);
  audio.MuteMicrophoneMonitor();
  const auto mixerMute = [&](std::uint32_t source) {
    return Value(kPhone, {0, source}, AudioWorld::ControlKind::Mute);
  };
  EXPECT_EQ(mixerMute(0), 0u);
  EXPECT_EQ(mixerMute(1), 0u);
  EXPECT_EQ(mixerMute(2), 1u);

  // A speaker destination without a microphone source: nothing is muted.
  world_.Remove(kPhone);
  world_.AddMixer(kPhone, {Layout{{platform::kComponentDstSpeakers, "Speaker", {}},
                                  {{platform::kComponentSrcLine, "Line", {mute}}}}});
  audio.MuteMicrophoneMonitor();
  EXPECT_EQ(mixerMute(0), 0u);
}

TEST(VolumeSliderTest, TheLoudEndIsAtTheTopAndTicksAreFifths) {
  const platform::MixerControl control{1, platform::kControlVolume, 0, 65535};
  EXPECT_EQ(VolumeStep(control), 13107u);
  EXPECT_EQ(SliderPosition(control, 65535), 0u);
  EXPECT_EQ(SliderValue(control, 0), 65535u);
  EXPECT_EQ(SliderValue(control, SliderPosition(control, 1234)), 1234u);
}

TEST(ToneSynthTest, SamplesStayInRangeAndPhasesCarryOver) {
  ToneSynthesizer synth;
  std::uint8_t first[kToneBlockSamples];
  std::uint8_t second[kToneBlockSamples];
  for (char key : std::string("0123456789*#ABCD")) {
    const auto& pair = KeyToneTable[*KeyToneRow(key)];
    synth.FillToneBlock(first, static_cast<int>(pair.low), static_cast<int>(pair.high), true);
    for (const auto sample : first) {
      EXPECT_GE(sample, 2);
      EXPECT_LE(sample, 254);
    }
  }
  const auto& five = KeyToneTable[*KeyToneRow('5')];
  EXPECT_EQ(five.low, 770);
  EXPECT_EQ(five.high, 1336);
  synth.FillToneBlock(first, 770, 1336, true);
  synth.FillToneBlock(second, 770, 1336, true);
  EXPECT_NE(std::vector<std::uint8_t>(first, first + 8), std::vector<std::uint8_t>(second, second + 8))
      << "two tones of one key start at different phases";
  EXPECT_FALSE(KeyToneRow('a'));
  synth.FillToneBlock(first, 0, 0, true);
  EXPECT_EQ(std::count(first, first + kToneBlockSamples, kToneSilence), static_cast<long>(kToneBlockSamples));
  synth.FillToneBlock(first, 770, 1336, false);
  EXPECT_EQ(std::count(first, first + kToneBlockSamples, kToneSilence), static_cast<long>(kToneBlockSamples));
}

}  // namespace
}  // namespace bridge::test
