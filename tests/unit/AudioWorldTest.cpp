// The audio world: the handset's registry identity, both device views, mixer lines and controls,
// waveOut timing and messages on the virtual clock, the default devices and the WAV dump.
#include "sim/AudioWorld.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace sim;
using platform::LineQuery;
using platform::WaveBlock;

namespace {

struct Post {
  std::uint64_t time;
  std::uint32_t msg;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  bool operator==(const Post&) const = default;
};

class RecordingPoster final : public WindowPoster {
 public:
  explicit RecordingPoster(VirtualClock& clock) : clock_(clock) {}
  bool PostTo(platform::WindowHandle, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
              std::shared_ptr<const void>) override {
    const auto now = clock_.Now();
    {
      std::lock_guard lock(mutex_);
      posts_.push_back({now, msg, wParam, lParam});
    }
    clock_.Notify();
    return true;
  }
  std::vector<Post> Posts() const {
    std::lock_guard lock(mutex_);
    return posts_;
  }
  std::size_t Count() const {
    std::lock_guard lock(mutex_);
    return posts_.size();
  }

 private:
  VirtualClock& clock_;
  mutable std::mutex mutex_;
  std::vector<Post> posts_;
};

struct World {
  explicit World(bool autoAdvance = false) : clock(VirtualClock::Options{autoAdvance, 0}) {}

  // "<time> <channel> <payload>" of every transcript line.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto& line : transcript.Lines())
      lines.push_back(std::to_string(line.time) + " " + Transcript::Body(line));
    return lines;
  }

  VirtualClock clock;
  Scheduler scheduler{clock};
  Transcript transcript{clock};
  RecordingPoster poster{clock};
  MemoryRegistry registry;
  AudioWorld audio{clock, scheduler, transcript, poster, registry};
};

constexpr char kHandset[] = "Teliox USB Phone";
constexpr platform::WindowHandle kWindow = 0x4242;

std::string ReadSz(platform::Registry& port, const std::string& key, const char* name) {
  platform::RegKey handle = 0;
  if (port.OpenKey(platform::kHkeyLocalMachine, key.c_str(), platform::RegAccess::Read, &handle)) return "<no key>";
  char data[256] = {};
  std::uint32_t size = sizeof data;
  std::uint32_t type = 0;
  const auto result = port.QueryValue(handle, name, &type, reinterpret_cast<std::uint8_t*>(data), &size);
  port.CloseKey(handle);
  if (result) return "<no value>";
  EXPECT_EQ(platform::kRegSz, type);
  EXPECT_EQ(std::strlen(data) + 1, size) << "stored with its terminator";
  return data;
}

std::uint32_t ReadCount(platform::Registry& port) {
  platform::RegKey handle = 0;
  EXPECT_EQ(0, port.OpenKey(platform::kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\usbaudio\\Enum",
                            platform::RegAccess::Read, &handle));
  std::uint32_t value = 0, size = 4, type = 0;
  EXPECT_EQ(0, port.QueryValue(handle, "Count", &type, reinterpret_cast<std::uint8_t*>(&value), &size));
  EXPECT_EQ(platform::kRegDword, type);
  port.CloseKey(handle);
  return value;
}

TEST(AudioWorldRegistry, HandsetsAreListedByTheUsbAudioDriverAndNamedByTheirDeviceKeys) {
  World w;
  int observed = 0;
  w.registry.SetObserver([&](const RegistryChange&) { ++observed; });
  const std::string enumKey = "SYSTEM\\CurrentControlSet\\Services\\usbaudio\\Enum";
  const std::string first = "USB\\Vid_11f1&Pid_1402&MI_00\\6&1a2b3c&0&0000";
  const std::string second = "USB\\Vid_11f1&Pid_1403&MI_00\\6&1a2b3c&1&0000";

  w.audio.AddHandset(kHandset);
  w.audio.AddHandset("Second Phone", 0x1403);
  EXPECT_EQ(2u, ReadCount(w.registry));
  EXPECT_EQ(first, ReadSz(w.registry, enumKey, "0"));
  EXPECT_EQ(second, ReadSz(w.registry, enumKey, "1"));
  EXPECT_EQ(kHandset, ReadSz(w.registry, "SYSTEM\\CurrentControlSet\\Enum\\" + first, "DeviceDesc"));
  EXPECT_EQ(kHandset, ReadSz(w.registry, "SYSTEM\\CurrentControlSet\\Enum\\" + first, "LocationInformation"));
  EXPECT_EQ("Second Phone", ReadSz(w.registry, "SYSTEM\\CurrentControlSet\\Enum\\" + second, "LocationInformation"));

  // Removing the first renumbers the list; re-adding takes the free instance again.
  EXPECT_TRUE(w.audio.Remove(kHandset));
  EXPECT_EQ(1u, ReadCount(w.registry));
  EXPECT_EQ(second, ReadSz(w.registry, enumKey, "0"));
  EXPECT_EQ("<no value>", ReadSz(w.registry, enumKey, "1"));
  EXPECT_EQ("<no key>", ReadSz(w.registry, "SYSTEM\\CurrentControlSet\\Enum\\" + first, "DeviceDesc"));
  w.audio.AddHandset(kHandset);
  EXPECT_EQ(first, ReadSz(w.registry, enumKey, "1"));

  EXPECT_FALSE(w.audio.Remove("Nothing of that name"));
  EXPECT_EQ(0, observed) << "world set-up is not a program's write";
  EXPECT_TRUE(w.transcript.Lines().empty());
}

TEST(AudioWorldDevices, WinmmCutsProductNamesTheAudioLibraryGivesThemWhole) {
  World w;
  const std::string longName = "Speakers (High Definition Audio Device)";  // 39 characters
  w.audio.AddPlayback(longName);
  w.audio.AddRecording("Line");
  w.audio.AddHandset(kHandset);

  platform::Winmm& winmm = w.audio;
  platform::AudioControl& library = w.audio;
  ASSERT_EQ(2u, winmm.WaveOutCount());
  ASSERT_EQ(2u, library.WaveOutGetNumDevs());
  ASSERT_EQ(2u, winmm.WaveInCount());
  ASSERT_EQ(1u, winmm.MixerCount());
  std::string name;
  EXPECT_EQ(0u, winmm.WaveOutName(0, name));
  EXPECT_EQ(longName.substr(0, 31), name);
  EXPECT_EQ(0u, winmm.WaveOutName(1, name));
  EXPECT_EQ(kHandset, name);
  EXPECT_EQ(0u, winmm.WaveInName(1, name));
  EXPECT_EQ(kHandset, name);
  EXPECT_EQ(0u, winmm.MixerName(0, name));
  EXPECT_EQ(kHandset, name);
  EXPECT_EQ(platform::kMmBadDeviceId, winmm.WaveOutName(2, name));
  EXPECT_EQ(platform::kMmBadDeviceId, winmm.MixerName(1, name));

  char buffer[platform::kAudioNameSize + 4];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(1, library.WaveOutGetDevCaps(0, buffer, 255));
  EXPECT_EQ(longName, buffer);
  EXPECT_EQ(1, library.WaveInGetDevCaps(1, buffer, 255));
  EXPECT_EQ(kHandset, std::string(buffer));
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(1, library.WaveOutGetDevCaps(0, buffer, 9));
  EXPECT_EQ("Speakers", std::string(buffer));
  EXPECT_EQ('#', buffer[9]) << "never past the given size";
  EXPECT_EQ(0, library.WaveInGetDevCaps(2, buffer, 255));
  EXPECT_EQ("", std::string(buffer));

  // The library's view is always the present devices, refreshed or not.
  w.audio.Remove(kHandset);
  EXPECT_EQ(1u, library.WaveOutGetNumDevs());
  EXPECT_EQ(1u, library.WaveInGetNumDevs());
  EXPECT_EQ(0u, winmm.MixerCount());
  EXPECT_EQ(1, library.UpdateAudioDevice("SOFTWARE\\VORLANE\\AUDIO_MANAGER"));
  EXPECT_EQ(1u, w.audio.UpdateCount());
}

class AudioWorldMixer : public ::testing::Test {
 protected:
  void SetUp() override { w.audio.AddHandset(kHandset); }

  platform::MixerLine Line(LineQuery query, std::uint32_t a, std::uint32_t b = 0, std::uint32_t* result = nullptr) {
    platform::MixerLine line;
    if (query == LineQuery::ByComponentType) line.componentType = a;
    line.destination = a;
    line.source = b;
    const auto code = w.audio.MixerLineInfo(0, query, line);
    if (result) *result = code;
    return line;
  }
  platform::MixerControl Control(std::uint32_t lineId, std::uint32_t type, std::uint32_t expected = 0) {
    platform::MixerControl control;
    EXPECT_EQ(expected, w.audio.MixerLineControl(0, lineId, type, control));
    return control;
  }

  World w;
};

TEST_F(AudioWorldMixer, LinesAreFoundByTypeDestinationAndSource) {
  auto speaker = Line(LineQuery::ByComponentType, platform::kComponentDstSpeakers);
  EXPECT_EQ(0u, speaker.destination);
  EXPECT_EQ(2u, speaker.connections);
  EXPECT_EQ(2u, speaker.controls);
  EXPECT_EQ(speaker.lineId, Line(LineQuery::ByDestination, 0).lineId);
  EXPECT_EQ(1u, Line(LineQuery::ByComponentType, platform::kComponentDstWaveIn).destination);

  // No destination is a microphone: the first microphone source, the speakers' monitor, answers.
  const auto monitor = Line(LineQuery::ByComponentType, platform::kComponentSrcMicrophone);
  EXPECT_EQ(0u, monitor.destination);
  EXPECT_EQ(1u, monitor.source);
  EXPECT_EQ(0u, monitor.connections);

  EXPECT_EQ(platform::kComponentSrcWaveOut, Line(LineQuery::BySource, 0, 0).componentType);
  const auto microphone = Line(LineQuery::BySource, 1, 1);
  EXPECT_EQ(platform::kComponentSrcMicrophone, microphone.componentType);
  EXPECT_EQ(1u, microphone.controls);
  EXPECT_EQ(platform::kComponentSrcLine, Line(LineQuery::BySource, 1, 0).componentType);
  const std::vector<std::uint32_t> ids = {speaker.lineId, monitor.lineId, microphone.lineId,
                                          Line(LineQuery::ByDestination, 1).lineId};
  for (std::size_t i = 0; i < ids.size(); ++i) {
    for (std::size_t j = i + 1; j < ids.size(); ++j) EXPECT_NE(ids[i], ids[j]);
  }

  std::uint32_t result = 0;
  Line(LineQuery::ByComponentType, 0x1234, 0, &result);
  EXPECT_EQ(platform::kMixerErrInvalLine, result);
  Line(LineQuery::ByDestination, 2, 0, &result);
  EXPECT_EQ(platform::kMixerErrInvalLine, result);
  Line(LineQuery::BySource, 0, 2, &result);
  EXPECT_EQ(platform::kMixerErrInvalLine, result);
  platform::MixerLine line;
  EXPECT_EQ(platform::kMmBadDeviceId, w.audio.MixerLineInfo(1, LineQuery::ByDestination, line));
}

TEST_F(AudioWorldMixer, ControlsReadAndSetWithEverySetInTheTranscript) {
  const auto speaker = Control(Line(LineQuery::ByDestination, 0).lineId, platform::kControlVolume);
  EXPECT_EQ(0u, speaker.minimum);
  EXPECT_EQ(65535u, speaker.maximum);
  const auto monitorMute = Control(Line(LineQuery::BySource, 0, 1).lineId, platform::kControlMute);
  EXPECT_EQ(1u, monitorMute.maximum);
  const auto microphone = Control(Line(LineQuery::BySource, 1, 1).lineId, platform::kControlVolume);
  EXPECT_NE(speaker.controlId, microphone.controlId);
  Control(Line(LineQuery::BySource, 1, 1).lineId, platform::kControlMute, platform::kMixerErrInvalControl);
  Control(Line(LineQuery::ByDestination, 1).lineId, platform::kControlVolume, platform::kMixerErrInvalControl);
  Control(0x12345678, platform::kControlVolume, platform::kMixerErrInvalLine);

  std::uint32_t value = 0;
  EXPECT_EQ(0u, w.audio.MixerGetValue(0, speaker.controlId, value));
  EXPECT_EQ(32768u, value);
  EXPECT_EQ(0u, w.audio.MixerGetValue(0, monitorMute.controlId, value));
  EXPECT_EQ(0u, value);

  w.clock.AdvanceTo(7);
  EXPECT_EQ(0u, w.audio.MixerSetValue(0, speaker.controlId, 13107));
  EXPECT_EQ(0u, w.audio.MixerSetValue(0, monitorMute.controlId, 1));
  EXPECT_EQ(0u, w.audio.MixerSetValue(0, microphone.controlId, 70000));  // not clamped
  EXPECT_EQ(platform::kMixerErrInvalControl, w.audio.MixerSetValue(0, 0, 1));
  EXPECT_EQ(platform::kMixerErrInvalControl, w.audio.MixerGetValue(0, 999, value));
  EXPECT_EQ(platform::kMmBadDeviceId, w.audio.MixerSetValue(3, speaker.controlId, 1));
  EXPECT_EQ(0u, w.audio.MixerGetValue(0, microphone.controlId, value));
  EXPECT_EQ(70000u, value);
  EXPECT_EQ(1u, w.audio.ControlValue(kHandset, {0, 1}, AudioWorld::ControlKind::Mute));
  EXPECT_EQ(13107u, w.audio.ControlValue(kHandset, {0, {}}, AudioWorld::ControlKind::Volume));
  const std::vector<std::string> expected = {
      "7 mixer set \"Teliox USB Phone\" dst0 volume 13107",
      "7 mixer set \"Teliox USB Phone\" dst0.src1 mute 1",
      "7 mixer set \"Teliox USB Phone\" dst1.src1 volume 70000",
  };
  EXPECT_EQ(expected, w.Lines());
}

TEST_F(AudioWorldMixer, ScenarioControlsCreateMissingControlsAndChangeBounds) {
  using Kind = AudioWorld::ControlKind;
  EXPECT_TRUE(w.audio.SetControl(kHandset, {1, 1}, Kind::Mute, std::nullopt, 1));
  const auto mute = Control(Line(LineQuery::BySource, 1, 1).lineId, platform::kControlMute);
  EXPECT_EQ(0u, mute.minimum);
  EXPECT_EQ(1u, mute.maximum);
  EXPECT_EQ(1u, w.audio.ControlValue(kHandset, {1, 1}, Kind::Mute));
  EXPECT_EQ(2u, Line(LineQuery::BySource, 1, 1).controls);

  // A new range keeps the value; a created volume starts at its minimum.
  EXPECT_TRUE(w.audio.SetControl(kHandset, {0, {}}, Kind::Volume, AudioWorld::Range{0, 4}, std::nullopt));
  const auto speaker = Control(Line(LineQuery::ByDestination, 0).lineId, platform::kControlVolume);
  EXPECT_EQ(4u, speaker.maximum);
  EXPECT_EQ(32768u, w.audio.ControlValue(kHandset, {0, {}}, Kind::Volume));
  EXPECT_TRUE(w.audio.SetControl(kHandset, {1, {}}, Kind::Volume, AudioWorld::Range{10, 20}, std::nullopt));
  EXPECT_EQ(10u, w.audio.ControlValue(kHandset, {1, {}}, Kind::Volume));

  EXPECT_FALSE(w.audio.SetControl(kHandset, {0, 2}, Kind::Volume, std::nullopt, 1));
  EXPECT_FALSE(w.audio.SetControl(kHandset, {2, {}}, Kind::Volume, std::nullopt, 1));
  EXPECT_FALSE(w.audio.SetControl("Other", {0, {}}, Kind::Volume, std::nullopt, 1));
  EXPECT_TRUE(w.transcript.Lines().empty());
}

// The key-tone player's pattern, on a participant thread: two blocks written at MM_WOM_OPEN, a
// close tried at every MM_WOM_DONE until the device accepts it.
TEST(AudioWorldWaveOut, BlocksPlayBackToBackAndMessagesArriveInOrder) {
  World w(true);
  w.audio.AddPlayback("Speakers");
  w.audio.AddHandset(kHandset);
  std::vector<std::uint8_t> tone(1000, 0x90), silence(1000, 0x80);
  WaveBlock first{tone.data(), 1000}, second{silence.data(), 1000};
  platform::WaveOutHandle handle = 0;
  std::vector<std::uint32_t> closeResults;
  std::thread player = w.clock.Spawn([&] {
    ASSERT_EQ(0u, w.audio.WaveOutOpen(handle, 1, platform::WaveFormat{}, kWindow));
    for (std::size_t handled = 0;; ++handled) {
      w.clock.WaitFor([&] { return w.poster.Count() > handled; });
      const Post post = w.poster.Posts()[handled];
      if (post.msg == platform::kMmWomOpen) {
        w.audio.WaveOutPrepare(handle, first);
        w.audio.WaveOutPrepare(handle, second);
        w.audio.WaveOutWrite(handle, first);
        w.audio.WaveOutWrite(handle, second);
      } else if (post.msg == platform::kMmWomDone) {
        closeResults.push_back(w.audio.WaveOutClose(handle));
      } else {
        break;
      }
    }
  });
  w.clock.RunUntilIdle();
  player.join();

  const auto firstAddress = reinterpret_cast<std::intptr_t>(&first),
             secondAddress = reinterpret_cast<std::intptr_t>(&second);
  const std::vector<Post> expected = {{0, platform::kMmWomOpen, handle, 0},
                                      {90, platform::kMmWomDone, handle, firstAddress},
                                      {181, platform::kMmWomDone, handle, secondAddress},
                                      {181, platform::kMmWomClose, handle, 0}};
  EXPECT_EQ(expected, w.poster.Posts());
  EXPECT_EQ((std::vector<std::uint32_t>{platform::kWaveErrStillPlaying, 0}), closeResults);
  EXPECT_TRUE(first.done && second.done);
  const std::vector<std::string> lines = {"0 wave open \"Teliox USB Phone\"", "0 wave write 1000", "0 wave write 1000",
                                          "90 wave close refused", "181 wave close"};
  EXPECT_EQ(lines, w.Lines());
}

TEST(AudioWorldWaveOut, ResetHandsBackEveryQueuedBlockAtOnce) {
  World w;
  w.audio.AddHandset(kHandset);
  std::vector<std::uint8_t> data(1000, 0x80);
  WaveBlock blocks[3] = {{data.data(), 1000}, {data.data(), 1000}, {data.data(), 1000}};
  platform::WaveOutHandle handle = 0;
  platform::WaveFormat format;
  EXPECT_EQ(platform::kMmBadDeviceId, w.audio.WaveOutOpen(handle, 1, format, kWindow));
  format.formatTag = 2;
  EXPECT_EQ(kWaveErrBadFormat, w.audio.WaveOutOpen(handle, 0, format, kWindow));
  ASSERT_EQ(0u, w.audio.WaveOutOpen(handle, 0, platform::WaveFormat{}, kWindow));

  EXPECT_EQ(kWaveErrUnprepared, w.audio.WaveOutWrite(handle, blocks[0]));
  for (auto& block : blocks) w.audio.WaveOutPrepare(handle, block);
  for (auto& block : blocks) EXPECT_EQ(0u, w.audio.WaveOutWrite(handle, block));
  EXPECT_EQ(platform::kWaveErrStillPlaying, w.audio.WaveOutWrite(handle, blocks[1]));
  EXPECT_EQ(platform::kWaveErrStillPlaying, w.audio.WaveOutUnprepare(handle, blocks[2]));
  EXPECT_EQ(0u, w.audio.WaveOutSetVolume(handle, 0xFFFF));
  w.clock.AdvanceTo(100);
  EXPECT_TRUE(blocks[0].done);
  EXPECT_FALSE(blocks[1].done);
  EXPECT_EQ(0u, w.audio.WaveOutReset(handle));
  EXPECT_TRUE(blocks[1].done && blocks[2].done);
  w.clock.AdvanceTo(400);  // the cancelled completions never come
  EXPECT_EQ(0u, w.audio.WaveOutUnprepare(handle, blocks[2]));
  EXPECT_FALSE(blocks[2].prepared);
  EXPECT_EQ(0u, w.audio.WaveOutClose(handle));
  EXPECT_EQ(platform::kMmInvalidHandle, w.audio.WaveOutClose(handle));
  EXPECT_EQ(platform::kMmInvalidHandle, w.audio.WaveOutUnprepare(handle, blocks[0]));

  std::vector<Post> done;
  for (const auto& post : w.poster.Posts()) {
    if (post.msg == platform::kMmWomDone) done.push_back(post);
  }
  const std::vector<Post> expected = {{90, platform::kMmWomDone, handle, reinterpret_cast<std::intptr_t>(&blocks[0])},
                                      {100, platform::kMmWomDone, handle, reinterpret_cast<std::intptr_t>(&blocks[1])},
                                      {100, platform::kMmWomDone, handle, reinterpret_cast<std::intptr_t>(&blocks[2])}};
  EXPECT_EQ(expected, done);
  const std::vector<std::string> lines = {
      "0 wave open \"Teliox USB Phone\"", "0 wave write 1000", "0 wave write 1000", "0 wave write 1000",
      "0 wave volume 0x0000FFFF",         "100 wave reset",    "400 wave close"};
  EXPECT_EQ(lines, w.Lines());
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::uint32_t Le(const std::vector<std::uint8_t>& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes.at(at + static_cast<std::size_t>(i));
  return value;
}

TEST(AudioWorldWaveOut, StreamsKeepWhatWasHeardAndDumpAsWaveFiles) {
  World w;
  w.audio.AddHandset(kHandset);
  std::vector<std::uint8_t> a(1000, 0x10), b(1000, 0x20), c(100, 0x30);
  WaveBlock blockA{a.data(), 1000}, blockB{b.data(), 1000}, blockC{c.data(), 100};
  platform::WaveOutHandle handle = 0;
  w.clock.AdvanceTo(50);
  ASSERT_EQ(0u, w.audio.WaveOutOpen(handle, 0, platform::WaveFormat{}, kWindow));
  w.clock.AdvanceTo(60);
  for (auto* block : {&blockA, &blockB}) {
    w.audio.WaveOutPrepare(handle, *block);
    w.audio.WaveOutWrite(handle, *block);
  }
  w.clock.AdvanceTo(60 + 135);
  w.audio.WaveOutReset(handle);  // 1488 bytes in: 488 of B were heard
  w.clock.AdvanceTo(60 + 300);   // the next run starts 3307 bytes into the stream
  w.audio.WaveOutPrepare(handle, blockC);
  w.audio.WaveOutWrite(handle, blockC);
  w.clock.AdvanceTo(60 + 310);
  w.audio.WaveOutClose(handle);

  const auto streams = w.audio.WaveStreams();
  ASSERT_EQ(1u, streams.size());
  const WaveStream& stream = streams[0];
  EXPECT_EQ(kHandset, stream.device);
  EXPECT_EQ(60u, stream.startTime);
  std::vector<std::uint8_t> heard(a);
  heard.insert(heard.end(), 488, 0x20);
  heard.insert(heard.end(), 3307 - heard.size(), 0x80);
  heard.insert(heard.end(), c.begin(), c.end());
  EXPECT_EQ(heard, stream.samples);

  const auto path = std::filesystem::temp_directory_path() / "teliox-audioworld-test.wav";
  ASSERT_TRUE(AudioWorld::WriteWav(stream, path.string()));
  const auto file = ReadFile(path);
  std::filesystem::remove(path);
  const std::uint32_t size = 3407;  // odd: a pad byte follows the data
  ASSERT_EQ(44u + size + 1, file.size());
  EXPECT_EQ("RIFF", std::string(file.begin(), file.begin() + 4));
  EXPECT_EQ(36u + size + 1, Le(file, 4, 4));
  EXPECT_EQ("WAVEfmt ", std::string(file.begin() + 8, file.begin() + 16));
  EXPECT_EQ(16u, Le(file, 16, 4));
  EXPECT_EQ(1u, Le(file, 20, 2));  // PCM
  EXPECT_EQ(1u, Le(file, 22, 2));
  EXPECT_EQ(11025u, Le(file, 24, 4));
  EXPECT_EQ(11025u, Le(file, 28, 4));
  EXPECT_EQ(1u, Le(file, 32, 2));
  EXPECT_EQ(8u, Le(file, 34, 2));
  EXPECT_EQ("data", std::string(file.begin() + 36, file.begin() + 40));
  EXPECT_EQ(size, Le(file, 40, 4));
  EXPECT_TRUE(std::equal(heard.begin(), heard.end(), file.begin() + 44));
  EXPECT_FALSE(AudioWorld::WriteWav(stream, (path / "no" / "such" / "dir.wav").string()));
}

TEST(AudioWorldDefaults, GetAndSetFollowTheDevicesAndTheInjectedFailures) {
  World w;
  platform::AudioControl& library = w.audio;
  char input[platform::kAudioNameSize + 4], output[platform::kAudioNameSize + 4];
  EXPECT_EQ(0, library.GetDefaultAudioDevice(input, output)) << "no device, no default";

  w.audio.AddRecording("Microphone");
  w.audio.AddPlayback("Speakers");
  w.audio.AddHandset(kHandset);
  EXPECT_EQ(1, library.GetDefaultAudioDevice(input, output));
  EXPECT_EQ("Microphone", std::string(input));
  EXPECT_EQ("Speakers", std::string(output));

  w.audio.FailGetDefault(2);
  std::strcpy(input, "untouched");
  EXPECT_EQ(0, library.GetDefaultAudioDevice(input, output));
  EXPECT_EQ(0, library.GetDefaultAudioDevice(input, output));
  EXPECT_EQ("untouched", std::string(input));
  EXPECT_EQ(1, library.GetDefaultAudioDevice(input, output));

  EXPECT_EQ(1, library.SetDefaultAudioDevice(kHandset, kHandset));
  EXPECT_EQ(kHandset, w.audio.DefaultPlayback());
  EXPECT_EQ(0, library.SetDefaultAudioDevice("Microphone", "Absent"));
  EXPECT_EQ(kHandset, w.audio.DefaultRecording());
  w.audio.FailSetDefault(1);
  EXPECT_EQ(0, library.SetDefaultAudioDevice("Microphone", "Speakers"));
  EXPECT_EQ(1, library.SetDefaultAudioDevice("Microphone", "Speakers"));

  // The default goes with its device to the first one left; then a long name stays bounded.
  w.audio.SetDefaults(kHandset, kHandset);
  w.audio.Remove(kHandset);
  EXPECT_EQ("Microphone", w.audio.DefaultRecording());
  EXPECT_EQ("Speakers", w.audio.DefaultPlayback());
  const std::string longName(300, 'x');
  w.audio.SetDefaults(longName, "Speakers");
  std::memset(input, '#', sizeof input);
  EXPECT_EQ(1, library.GetDefaultAudioDevice(input, output));
  EXPECT_EQ(longName.substr(0, 255), std::string(input));
  EXPECT_EQ('#', input[platform::kAudioNameSize]);

  const std::vector<std::string> expected = {
      "0 audio get-default -> 0",
      "0 audio get-default -> 1",
      "0 audio get-default -> 0",
      "0 audio get-default -> 0",
      "0 audio get-default -> 1",
      "0 audio set-default \"Teliox USB Phone\" \"Teliox USB Phone\" -> 1",
      "0 audio set-default \"Microphone\" \"Absent\" -> 0",
      "0 audio set-default \"Microphone\" \"Speakers\" -> 0",
      "0 audio set-default \"Microphone\" \"Speakers\" -> 1",
      "0 audio get-default -> 1",
  };
  EXPECT_EQ(expected, w.Lines());
}

}  // namespace
