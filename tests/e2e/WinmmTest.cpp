// winmm under Wine through Win32Winmm, and the bridge's handset audio on top of it: the device
// lookup on the real registry, the mixer volume, and a key tone played by CKeyTonePlayer. Wine
// has no handset; with an ALSA null device as the default (ALSA_CONFIG_PATH, set by CTest) it
// shows "Out: default", "In: default" and a mixer of each name. The tests that need a handset
// write the USB audio driver's entries for one whose device name is Wine's output name, and
// remove them again.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h: the lean build leaves the multimedia declarations out.
#include <mmsystem.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bridge/audio/HandsetAudio.h"
#include "bridge/audio/KeyTonePlayer.h"
#include "platform/HidLink.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Winmm.h"
#include "tests/e2e/PortTestSupport.h"

namespace {

using bridge::HandsetAudio;
using bridge::MixerLineRef;

constexpr char kEnumPath[] = "SYSTEM\\CurrentControlSet\\Services\\usbaudio\\Enum";
constexpr char kInstance[] = "USB\\Vid_11f1&Pid_1402&MI_00\\6&1a2b3c&0&0000";
constexpr char kDevicePath[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_11f1&Pid_1402&MI_00\\6&1a2b3c&0&0000";
constexpr char kWineOutput[] = "Out: default";
constexpr char kWineInput[] = "In: default";

// The real registry, counting the keys opened through it that are still open.
class CountingRegistry final : public platform::Registry {
 public:
  std::int32_t CreateKey(platform::RegKey parent, const char* subKey, platform::RegAccess access,
                         platform::RegKey* result) override {
    return Opened(real_.CreateKey(parent, subKey, access, result), result);
  }
  std::int32_t OpenKey(platform::RegKey parent, const char* subKey, platform::RegAccess access,
                       platform::RegKey* result) override {
    return Opened(real_.OpenKey(parent, subKey, access, result), result);
  }
  std::int32_t CloseKey(platform::RegKey key) override {
    const std::int32_t result = real_.CloseKey(key);
    if (result == platform::kErrorSuccess && !platform::IsPredefinedKey(key)) --open_;
    return result;
  }
  std::int32_t QueryValue(platform::RegKey key, const char* name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* size) override {
    return real_.QueryValue(key, name, type, data, size);
  }
  std::int32_t SetValue(platform::RegKey key, const char* name, std::uint32_t type, const std::uint8_t* data,
                        std::uint32_t size) override {
    return real_.SetValue(key, name, type, data, size);
  }
  std::int32_t DeleteValue(platform::RegKey key, const char* name) override { return real_.DeleteValue(key, name); }
  std::int32_t EnumValue(platform::RegKey key, std::uint32_t index, char* name, std::uint32_t* nameSize,
                         std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) override {
    return real_.EnumValue(key, index, name, nameSize, type, data, dataSize);
  }

  int OpenKeys() const { return open_; }
  int Opens() const { return opens_; }

 private:
  std::int32_t Opened(std::int32_t result, const platform::RegKey* key) {
    if (result == platform::kErrorSuccess && !platform::IsPredefinedKey(*key)) {
      ++open_;
      ++opens_;
    }
    return result;
  }

  win32::Win32Registry real_;
  int open_ = 0;
  int opens_ = 0;
};

bool KeyExists(const char* path) {
  win32::UniqueKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.receive()) == ERROR_SUCCESS;
}

// The first key on `path` (separated by backslashes) that is not there yet; empty if all are.
std::string FirstMissingKey(const std::string& path) {
  for (std::size_t end = path.find('\\');; end = path.find('\\', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (!KeyExists(prefix.c_str())) return prefix;
    if (end == std::string::npos) return {};
  }
}

// The USB audio driver's entries for a handset of product 0x1402 whose audio device is called
// `deviceName`. The keys this object created are removed again.
class HandsetEntries {
 public:
  explicit HandsetEntries(const std::string& deviceName)
      : createdEnum_(FirstMissingKey(kEnumPath)), createdDevice_(FirstMissingKey(kDevicePath)) {
    win32::UniqueKey enumKey;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEnumPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, enumKey.receive(), nullptr);
    const DWORD count = 1;
    RegSetValueExA(enumKey.get(), "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
    RegSetValueExA(enumKey.get(), "0", 0, REG_SZ, reinterpret_cast<const BYTE*>(kInstance), sizeof kInstance);
    win32::UniqueKey device;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDevicePath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, device.receive(), nullptr);
    written_ = enumKey && device &&
               RegSetValueExA(device.get(), "LocationInformation", 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(deviceName.c_str()),
                              static_cast<DWORD>(deviceName.size() + 1)) == ERROR_SUCCESS;
  }
  ~HandsetEntries() {
    for (const auto& created : {createdEnum_, createdDevice_}) {
      if (!created.empty()) RegDeleteTreeA(HKEY_LOCAL_MACHINE, created.c_str());
    }
  }
  HandsetEntries(const HandsetEntries&) = delete;
  HandsetEntries& operator=(const HandsetEntries&) = delete;

  bool Written() const { return written_; }

 private:
  std::string createdEnum_;
  std::string createdDevice_;
  bool written_ = false;
};

// A message-only window of the test thread; every message goes to `onMessage` first.
class MessageWindow {
 public:
  MessageWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &MessageWindow::Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "WinmmTestWindow";
    RegisterClassA(&windowClass);
    hwnd_ = CreateWindowA("WinmmTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~MessageWindow() { DestroyWindow(hwnd_); }
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  platform::WindowHandle handle() const { return reinterpret_cast<platform::WindowHandle>(hwnd_); }

  std::function<bool(UINT, WPARAM, LPARAM)> onMessage;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MessageWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self && self->onMessage && self->onMessage(msg, wParam, lParam)) return 0;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
  }

  HWND hwnd_ = nullptr;
};

bool IsWaveOutMessage(UINT msg) { return msg == MM_WOM_OPEN || msg == MM_WOM_DONE || msg == MM_WOM_CLOSE; }

class WinmmWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(winmm_.WaveOutCount(), 0u) << "Wine shows no waveform output: ALSA_CONFIG_PATH must name "
                                            "tests/e2e/alsa-null.conf";
  }

  std::optional<std::uint32_t> MixerNamed(const std::string& wanted) {
    for (std::uint32_t device = 0; device < winmm_.MixerCount(); ++device) {
      std::string name;
      if (winmm_.MixerName(device, name) == MMSYSERR_NOERROR && name == wanted) return device;
    }
    return std::nullopt;
  }

  HandsetAudio Audio(platform::Registry& registry) {
    return HandsetAudio(
        registry, [this] { return desktop_.Version(); }, winmm_,
        [] {
          return HandsetAudio::HandsetIdentity{true, platform::kHandsetProductA};
        });
  }

  win32::Win32Winmm winmm_;
  win32::Win32Desktop desktop_;
};

TEST_F(WinmmWine, DeviceListsAndMixerLinesAnswerAsWineReportsThem) {
  std::string name = "untouched";
  ASSERT_EQ(winmm_.WaveOutCount(), 1u);
  EXPECT_EQ(winmm_.WaveOutName(0, name), MMSYSERR_NOERROR);
  EXPECT_EQ(name, kWineOutput);
  ASSERT_EQ(winmm_.WaveInCount(), 1u);
  EXPECT_EQ(winmm_.WaveInName(0, name), MMSYSERR_NOERROR);
  EXPECT_EQ(name, kWineInput);
  name = "untouched";
  EXPECT_EQ(winmm_.WaveOutName(1, name), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(winmm_.WaveInName(1, name), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(winmm_.MixerName(winmm_.MixerCount(), name), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(name, "untouched");

  const auto output = MixerNamed(kWineOutput);
  const auto input = MixerNamed(kWineInput);
  ASSERT_TRUE(output && input);

  // The three query forms address the same lines.
  platform::MixerLine destination;
  destination.destination = 0;
  ASSERT_EQ(winmm_.MixerLineInfo(*output, platform::LineQuery::ByDestination, destination), MMSYSERR_NOERROR);
  EXPECT_EQ(destination.componentType, platform::kComponentDstSpeakers);
  EXPECT_EQ(destination.name, "Master Volume");
  EXPECT_EQ(destination.controls, 2u);
  ASSERT_GE(destination.connections, 1u);
  platform::MixerLine byType;
  byType.componentType = platform::kComponentDstSpeakers;
  ASSERT_EQ(winmm_.MixerLineInfo(*output, platform::LineQuery::ByComponentType, byType), MMSYSERR_NOERROR);
  EXPECT_EQ(byType.lineId, destination.lineId);
  EXPECT_EQ(byType.destination, 0u);
  platform::MixerLine source;
  source.destination = 0;
  source.source = 0;
  ASSERT_EQ(winmm_.MixerLineInfo(*output, platform::LineQuery::BySource, source), MMSYSERR_NOERROR);
  EXPECT_EQ(source.componentType, platform::kComponentSrcWaveOut);
  EXPECT_NE(source.lineId, destination.lineId);

  // winmm's own answers come back unchanged.
  platform::MixerLine missing;
  missing.componentType = platform::kComponentDstSpeakers;
  EXPECT_EQ(winmm_.MixerLineInfo(*input, platform::LineQuery::ByComponentType, missing), platform::kMixerErrInvalLine);
  platform::MixerLine inputDestination;
  ASSERT_EQ(winmm_.MixerLineInfo(*input, platform::LineQuery::ByDestination, inputDestination), MMSYSERR_NOERROR);
  EXPECT_EQ(inputDestination.componentType, platform::kComponentDstWaveIn);
  constexpr std::uint32_t kBassControl = 0x50030002;
  platform::MixerControl control;
  EXPECT_NE(winmm_.MixerLineControl(*output, destination.lineId, kBassControl, control), MMSYSERR_NOERROR);
  std::uint32_t value = 77;
  EXPECT_NE(winmm_.MixerGetValue(*output, 0xFFFFu, value), MMSYSERR_NOERROR);
  EXPECT_EQ(value, 77u);
}

TEST_F(WinmmWine, HandsetLookupFindsNothingWithoutTheDriversEntriesAndKeepsNoKeyOpen) {
  ASSERT_FALSE(KeyExists(kEnumPath)) << "a handset's entries are in the registry";
  CountingRegistry registry;
  auto audio = Audio(registry);
  for (const std::uint32_t product : {platform::kHandsetProductA, platform::kHandsetProductB}) {
    EXPECT_FALSE(bridge::FindHandsetDeviceName(registry, desktop_.Version(), platform::kHandsetVendorId, product));
    EXPECT_FALSE(audio.FindMixer(product));
    EXPECT_FALSE(audio.FindWaveOut(product));
    EXPECT_FALSE(audio.FindWaveIn(product));
  }
  EXPECT_FALSE(audio.HandsetAudioPresent());
  EXPECT_EQ(registry.OpenKeys(), 0);
}

TEST_F(WinmmWine, TheHandsetsMixerFoundByWinesProductNameSetsAndReadsBackItsVolume) {
  std::string outputName;
  ASSERT_EQ(winmm_.WaveOutName(0, outputName), MMSYSERR_NOERROR);
  HandsetEntries entries(outputName);
  ASSERT_TRUE(entries.Written());
  CountingRegistry registry;
  auto audio = Audio(registry);

  const auto mixer = audio.FindMixer(platform::kHandsetProductA);
  ASSERT_TRUE(mixer);
  EXPECT_EQ(mixer, MixerNamed(kWineOutput));
  EXPECT_EQ(audio.FindWaveOut(platform::kHandsetProductA), 0u);
  // Wine names its input device apart from its output: only one side is found.
  EXPECT_FALSE(audio.FindWaveIn(platform::kHandsetProductA));
  EXPECT_FALSE(audio.HandsetAudioPresent());
  EXPECT_FALSE(audio.FindMixer(platform::kHandsetProductB));

  const auto volume = bridge::GetLineControl(winmm_, *mixer, MixerLineRef::Destination(0), platform::kControlVolume);
  ASSERT_TRUE(volume);
  EXPECT_EQ(volume->controlType, platform::kControlVolume);
  EXPECT_EQ(volume->minimum, 0u);
  EXPECT_EQ(volume->maximum, 65535u);
  const auto original = bridge::GetControlValue(winmm_, *mixer, volume->controlId);
  ASSERT_TRUE(original);
  // Wine keeps the volume as a fraction of the range: the ends read back exactly, a value between
  // them up to one less than was set.
  for (const std::uint32_t value : {volume->maximum, volume->minimum}) {
    EXPECT_TRUE(bridge::SetControlValue(winmm_, *mixer, volume->controlId, value));
    EXPECT_EQ(bridge::GetControlValue(winmm_, *mixer, volume->controlId), value);
  }
  EXPECT_TRUE(bridge::SetControlValue(winmm_, *mixer, volume->controlId, 40000));
  const auto between = bridge::GetControlValue(winmm_, *mixer, volume->controlId);
  ASSERT_TRUE(between);
  EXPECT_NEAR(*between, 40000, 1);
  EXPECT_TRUE(bridge::SetControlValue(winmm_, *mixer, volume->controlId, *original));

  const auto mute = bridge::GetLineControl(winmm_, *mixer, MixerLineRef::Destination(0), platform::kControlMute);
  ASSERT_TRUE(mute);
  EXPECT_NE(mute->controlId, volume->controlId);
  const auto muted = bridge::GetControlValue(winmm_, *mixer, mute->controlId);
  ASSERT_TRUE(muted);
  EXPECT_TRUE(bridge::SetControlValue(winmm_, *mixer, mute->controlId, *muted ? 0 : 1));
  EXPECT_EQ(bridge::GetControlValue(winmm_, *mixer, mute->controlId), *muted ? 0u : 1u);
  EXPECT_TRUE(bridge::SetControlValue(winmm_, *mixer, mute->controlId, *muted));

  // Every lookup opens the driver's key and the device's key, and closes both.
  EXPECT_GT(registry.Opens(), 0);
  EXPECT_EQ(registry.OpenKeys(), 0);
}

// The key-tone player on the handset's audio, with what its window hears.
class KeyToneOnWine : public WinmmWine {
 protected:
  struct Heard {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    std::optional<std::uint32_t> speakerBefore;  // speaker volume before the player handled it
    std::optional<std::uint32_t> speakerAfter;
  };

  void SetUp() override {
    WinmmWine::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(winmm_.WaveOutName(0, outputName_), MMSYSERR_NOERROR);
    entries_.emplace(outputName_);
    ASSERT_TRUE(entries_->Written());
    mixer_ = MixerNamed(outputName_);
    ASSERT_TRUE(mixer_);
    speaker_ = bridge::GetLineControl(winmm_, *mixer_, bridge::kSpeakerByType, platform::kControlVolume);
    ASSERT_TRUE(speaker_);
    userVolume_ = bridge::GetControlValue(winmm_, *mixer_, speaker_->controlId);
    ASSERT_TRUE(userVolume_);
    bridge::SetControlValue(winmm_, *mixer_, speaker_->controlId, kUserVolume);
    window_.onMessage = [this](UINT msg, WPARAM wParam, LPARAM lParam) {
      if (!IsWaveOutMessage(msg)) return false;
      Heard heard{msg, wParam, lParam, Speaker(), std::nullopt};
      if (msg == MM_WOM_DONE) {
        const auto* header = reinterpret_cast<const WAVEHDR*>(lParam);
        doneHeaders_.push_back({header->dwUser, header->dwBufferLength, header->dwFlags});
      }
      player_.OnWaveOutMessage(msg, wParam, lParam);
      heard.speakerAfter = Speaker();
      heard_.push_back(heard);
      if (afterMessage_) afterMessage_(msg);
      return true;
    };
  }

  void TearDown() override {
    if (mixer_ && speaker_ && userVolume_) bridge::SetControlValue(winmm_, *mixer_, speaker_->controlId, *userVolume_);
  }

  std::optional<std::uint32_t> Speaker() { return bridge::GetControlValue(winmm_, *mixer_, speaker_->controlId); }

  // Plays until the device has closed again.
  bool PlayAndWait(char key) {
    player_.PlayKeyTone(key);
    return e2e::PumpUntil([&] { return !player_.Playing(); }, 5000);
  }

  std::vector<UINT> Messages() const {
    std::vector<UINT> messages;
    for (const auto& heard : heard_) messages.push_back(heard.msg);
    return messages;
  }

  // The end of the range, which Wine reads back exactly, and the other end while the tone sounds.
  static constexpr std::uint32_t kUserVolume = 65535;
  static constexpr std::uint32_t kKeyToneLevelMinimum = 2;

  struct DoneHeader {
    DWORD_PTR user;
    DWORD length;
    DWORD flags;
  };

  std::string outputName_;
  std::optional<HandsetEntries> entries_;
  std::optional<std::uint32_t> mixer_;
  std::optional<platform::MixerControl> speaker_;
  std::optional<std::uint32_t> userVolume_;
  win32::Win32Registry registry_;
  HandsetAudio audio_ = Audio(registry_);
  MessageWindow window_;
  bridge::CKeyTonePlayer player_{bridge::CKeyTonePlayer::Context{audio_, [this] { return window_.handle(); },
                                                                 [] { return kKeyToneLevelMinimum; }}};
  std::vector<Heard> heard_;
  std::vector<DoneHeader> doneHeaders_;
  std::function<void(UINT)> afterMessage_;
};

TEST_F(KeyToneOnWine, ATonePlaysItsTwoBlocksAndClosesWithTheSpeakerAtTheKeyToneLevelMeanwhile) {
  ASSERT_TRUE(PlayAndWait('5'));
  ASSERT_EQ(Messages(), (std::vector<UINT>{MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_CLOSE}));
  for (const auto& heard : heard_) EXPECT_EQ(heard.wParam, heard_[0].wParam);
  EXPECT_NE(heard_[0].wParam, 0u);

  // Each completion carries the adapter's header of one of the two 1000-sample blocks.
  ASSERT_EQ(doneHeaders_.size(), 2u);
  EXPECT_NE(heard_[1].lParam, heard_[2].lParam);
  EXPECT_NE(doneHeaders_[0].user, doneHeaders_[1].user);
  for (const auto& header : doneHeaders_) {
    EXPECT_NE(header.user, 0u);
    EXPECT_EQ(header.length, 1000u);
    EXPECT_TRUE(header.flags & WHDR_DONE);
  }

  // The tone block sounds at the key-tone level; from the first completion on, the user's volume.
  EXPECT_EQ(heard_[0].speakerBefore, kUserVolume);
  EXPECT_EQ(heard_[0].speakerAfter, speaker_->minimum);
  EXPECT_EQ(heard_[1].speakerAfter, kUserVolume);
  EXPECT_EQ(Speaker(), kUserVolume);
  EXPECT_EQ(winmm_.HeldHeaders(), 0u);
}

TEST_F(KeyToneOnWine, AKeyWithinAToneCutsItShortAndTheNextKeyPlaysAgain) {
  // The second key arrives while the first tone's blocks are queued.
  afterMessage_ = [this](UINT msg) {
    if (msg == MM_WOM_OPEN) player_.PlayKeyTone('2');
  };
  ASSERT_TRUE(PlayAndWait('1'));
  EXPECT_EQ(Messages(), (std::vector<UINT>{MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_CLOSE}));
  EXPECT_EQ(Speaker(), kUserVolume);

  afterMessage_ = nullptr;
  heard_.clear();
  ASSERT_TRUE(PlayAndWait('3'));
  EXPECT_EQ(Messages(), (std::vector<UINT>{MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_CLOSE}));
  EXPECT_EQ(winmm_.HeldHeaders(), 0u);
}

TEST_F(WinmmWine, CloseIsRefusedWhileABlockIsQueuedAndBlocksComeBackOnReset) {
  MessageWindow window;
  std::vector<std::pair<UINT, LPARAM>> heard;
  window.onMessage = [&](UINT msg, WPARAM, LPARAM lParam) {
    if (IsWaveOutMessage(msg)) heard.emplace_back(msg, lParam);
    return IsWaveOutMessage(msg);
  };
  platform::WaveOutHandle handle = 0;
  ASSERT_EQ(winmm_.WaveOutOpen(handle, 0, platform::WaveFormat{}, window.handle()), MMSYSERR_NOERROR);
  ASSERT_TRUE(e2e::PumpUntil([&] { return heard.size() == 1; }));

  // A second of silence each: long enough to be still queued, however fast Wine plays.
  const std::vector<std::uint8_t> silence(11025, 0x80);
  platform::WaveBlock first{silence.data(), static_cast<std::uint32_t>(silence.size())};
  platform::WaveBlock second = first;
  EXPECT_EQ(winmm_.WaveOutWrite(handle, first), WAVERR_UNPREPARED);
  ASSERT_EQ(winmm_.WaveOutPrepare(handle, first), MMSYSERR_NOERROR);
  ASSERT_EQ(winmm_.WaveOutPrepare(handle, second), MMSYSERR_NOERROR);
  EXPECT_TRUE(first.prepared && second.prepared);
  EXPECT_EQ(winmm_.WaveOutSetVolume(handle, 0xFFFF), MMSYSERR_NOERROR);
  ASSERT_EQ(winmm_.WaveOutWrite(handle, first), MMSYSERR_NOERROR);
  ASSERT_EQ(winmm_.WaveOutWrite(handle, second), MMSYSERR_NOERROR);
  EXPECT_EQ(winmm_.WaveOutWrite(handle, second), WAVERR_STILLPLAYING);

  EXPECT_EQ(winmm_.WaveOutClose(handle), WAVERR_STILLPLAYING);
  EXPECT_EQ(winmm_.WaveOutUnprepare(handle, first), WAVERR_STILLPLAYING);
  EXPECT_TRUE(first.prepared);

  EXPECT_EQ(winmm_.WaveOutReset(handle), MMSYSERR_NOERROR);
  EXPECT_TRUE(first.done && second.done);
  ASSERT_TRUE(e2e::PumpUntil([&] { return heard.size() == 3; }));
  ASSERT_EQ(heard[1].first, static_cast<UINT>(MM_WOM_DONE));
  ASSERT_EQ(heard[2].first, static_cast<UINT>(MM_WOM_DONE));
  // lParam is the adapter's WAVEHDR; its dwUser names the caller's block.
  EXPECT_EQ(reinterpret_cast<const WAVEHDR*>(heard[1].second)->dwUser, reinterpret_cast<DWORD_PTR>(&first));
  EXPECT_EQ(reinterpret_cast<const WAVEHDR*>(heard[2].second)->dwUser, reinterpret_cast<DWORD_PTR>(&second));

  // The close succeeds once nothing is queued; the blocks are unprepared afterwards, as the
  // key-tone player does at MM_WOM_CLOSE.
  EXPECT_EQ(winmm_.WaveOutClose(handle), MMSYSERR_NOERROR);
  ASSERT_TRUE(e2e::PumpUntil([&] { return heard.size() == 4; }));
  EXPECT_EQ(heard[3].first, static_cast<UINT>(MM_WOM_CLOSE));
  EXPECT_EQ(winmm_.WaveOutUnprepare(handle, first), MMSYSERR_NOERROR);
  EXPECT_EQ(winmm_.WaveOutUnprepare(handle, second), MMSYSERR_NOERROR);
  EXPECT_FALSE(first.prepared || second.prepared);
  EXPECT_EQ(winmm_.HeldHeaders(), 0u);
  EXPECT_EQ(winmm_.WaveOutClose(handle), MMSYSERR_INVALHANDLE);
}

}  // namespace
