// Sonvane.dll's behaviour shared by both flavours (cache, lookup, buffer bounds, one lock) and the
// sim flavour's state file.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "companions/sonvane/SonvaneCore.h"
#include "companions/sonvane/sim/SimState.h"

namespace {

using sonvane::Device;
using sonvane::DeviceLists;

class FakeSystem final : public sonvane::AudioSystem {
 public:
  bool ReadDevices(DeviceLists& lists) override {
    Enter();
    ++reads;
    lists = devices;
    Leave();
    return readable;
  }
  bool ReadDefaults(sonvane::DefaultNames& names) override {
    Enter();
    names = defaults;
    Leave();
    return defaultsReadable;
  }
  bool MakeDefaults(const Device& recording, const Device& playback) override {
    Enter();
    madeRecording = recording.id;
    madePlayback = playback.id;
    ++makes;
    Leave();
    return accepts;
  }

  DeviceLists devices{{{"Mic A", "r0"}, {"Mic B", "r1"}}, {{"Out A", "p0"}, {"Out B", "p1"}, {"Out A", "p2"}}};
  sonvane::DefaultNames defaults{"Mic B", "Out A"};
  bool readable = true;
  bool defaultsReadable = true;
  bool accepts = true;
  int reads = 0;
  int makes = 0;
  std::string madeRecording, madePlayback;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};

 private:
  void Enter() {
    if (inside.fetch_add(1) != 0) overlapped = true;
    std::this_thread::yield();
  }
  void Leave() { inside.fetch_sub(1); }
};

TEST(SonvaneCore, ListsComeFromTheCacheUntilTheNextUpdate) {
  FakeSystem system;
  sonvane::Library library(system);
  // The first call of any kind fills the cache once.
  EXPECT_EQ(library.PlaybackCount(), 3u);
  EXPECT_EQ(library.RecordingCount(), 2u);
  EXPECT_EQ(system.reads, 1);
  system.devices.playback.pop_back();
  char name[256];
  EXPECT_EQ(library.PlaybackName(2, name, 255), 1);
  EXPECT_STREQ(name, "Out A");
  EXPECT_EQ(library.PlaybackCount(), 3u);
  EXPECT_EQ(library.Update(), 1);
  EXPECT_EQ(library.PlaybackCount(), 2u);
  EXPECT_EQ(system.reads, 2);
  // A system that cannot be read leaves no devices rather than stale ones.
  system.readable = false;
  EXPECT_EQ(library.Update(), 0);
  EXPECT_EQ(library.PlaybackCount(), 0u);
  EXPECT_EQ(library.RecordingName(0, name, 255), 0);
  EXPECT_STREQ(name, "");
}

TEST(SonvaneCore, NamesAreBoundedByTheCallersBufferAndTheNameLimit) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  sonvane::CopyBounded("abcdef", buffer, 4);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], '#');
  std::memset(buffer, '#', sizeof buffer);
  sonvane::CopyBounded("abc", buffer, 1);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '#');
  std::memset(buffer, '#', sizeof buffer);
  sonvane::CopyBounded("abc", buffer, 0);
  sonvane::CopyBounded("abc", buffer, -5);
  sonvane::CopyBounded("abc", nullptr, 8);
  EXPECT_EQ(buffer[0], '#');

  EXPECT_EQ(sonvane::CutName(std::string(300, 'x')).size(), sonvane::kMaxName);
  EXPECT_EQ(sonvane::CutName(std::string("ab\0cd", 5)), "ab");

  // A long name reads whole through the callers' 255 and equals the default's copy.
  FakeSystem system;
  const std::string longName(300, 'L');
  system.devices.playback[1].name = longName;
  system.defaults.playback = longName;
  sonvane::Library library(system);
  char listed[256];
  char input[256];
  char output[256];
  ASSERT_EQ(library.PlaybackName(1, listed, 255), 1);
  ASSERT_EQ(library.GetDefaults(input, output), 1);
  EXPECT_EQ(std::strlen(listed), sonvane::kMaxName);
  EXPECT_STREQ(listed, output);
  EXPECT_EQ(library.PlaybackName(0, nullptr, 255), 0);
  EXPECT_EQ(library.PlaybackName(7, listed, 255), 0);
  EXPECT_STREQ(listed, "");
}

TEST(SonvaneCore, DefaultsAreAskedAfreshAndFailEmpty) {
  FakeSystem system;
  sonvane::Library library(system);
  char input[256] = "stale";
  char output[256] = "stale";
  ASSERT_EQ(library.GetDefaults(input, output), 1);
  EXPECT_STREQ(input, "Mic B");
  EXPECT_STREQ(output, "Out A");
  system.defaults.playback = "Out B";  // Windows switched, no refresh in between
  ASSERT_EQ(library.GetDefaults(input, output), 1);
  EXPECT_STREQ(output, "Out B");
  system.defaultsReadable = false;
  EXPECT_EQ(library.GetDefaults(input, output), 0);
  EXPECT_STREQ(input, "");
  EXPECT_STREQ(output, "");
  system.defaultsReadable = true;
  system.defaults.recording.clear();  // no default recording device
  EXPECT_EQ(library.GetDefaults(input, output), 0);
  EXPECT_EQ(library.GetDefaults(nullptr, output), 0);
}

TEST(SonvaneCore, SetLooksNamesUpExactlyAmongThePresentDevices) {
  FakeSystem system;
  sonvane::Library library(system);
  EXPECT_EQ(library.SetDefaults("Mic A", "Out A"), 1);
  EXPECT_EQ(system.madeRecording, "r0");
  EXPECT_EQ(system.madePlayback, "p0") << "the first of two equal names";
  EXPECT_EQ(library.SetDefaults("mic a", "Out A"), 0);
  EXPECT_EQ(library.SetDefaults("", "Out A"), 0);
  EXPECT_EQ(library.SetDefaults("Mic A", ""), 0);
  EXPECT_EQ(library.SetDefaults("Mic A", "Out C"), 0);
  EXPECT_EQ(library.SetDefaults(nullptr, "Out A"), 0);
  EXPECT_EQ(system.makes, 1);
  // A device plugged in after the last refresh can be chosen; one that went cannot.
  library.PlaybackCount();
  system.devices.playback.push_back({"Out C", "p3"});
  system.devices.recording.erase(system.devices.recording.begin());
  EXPECT_EQ(library.SetDefaults("Mic B", "Out C"), 1);
  EXPECT_EQ(system.madePlayback, "p3");
  EXPECT_EQ(library.SetDefaults("Mic A", "Out C"), 0);
  system.accepts = false;
  EXPECT_EQ(library.SetDefaults("Mic B", "Out C"), 0);
}

TEST(SonvaneCore, CallsFromTwoThreadsNeverOverlapInTheSystem) {
  FakeSystem system;
  sonvane::Library library(system);
  auto work = [&library](int turn) {
    char a[256];
    char b[256];
    for (int i = 0; i < 300; ++i) {
      if ((i + turn) % 3 == 0) library.Update();
      library.RecordingName(0, a, 255);
      library.GetDefaults(a, b);
      library.SetDefaults("Mic A", "Out B");
    }
  };
  std::thread first(work, 0);
  std::thread second(work, 1);
  first.join();
  second.join();
  EXPECT_FALSE(system.overlapped);
}

TEST(SonvaneSimState, ParsesWhatItWritesAndKeepsOddNames) {
  const auto state = sonvane::ParseSimState(
      "# comment\r\nrecording=In: handset\r\nrecording= \nplayback=Out: one\nplayback=Out: two\n"
      "default-recording=In: handset\ndefault-playback=Out: two\nfail-get=3\nfail-set=x\nnonsense\nother=1\n");
  ASSERT_EQ(state.devices.recording.size(), 2u);
  EXPECT_EQ(state.devices.recording[0].name, "In: handset");
  EXPECT_EQ(state.devices.recording[1].name, " ") << "a one-blank name survives";
  ASSERT_EQ(state.devices.playback.size(), 2u);
  EXPECT_EQ(state.defaults.playback, "Out: two");
  EXPECT_EQ(state.failGet, 3);
  EXPECT_EQ(state.failSet, 0);
  const auto again = sonvane::ParseSimState(sonvane::FormatSimState(state));
  EXPECT_EQ(again.devices.recording[1].name, " ");
  EXPECT_EQ(again.devices.playback[1].name, "Out: two");
  EXPECT_EQ(again.defaults.recording, "In: handset");
  EXPECT_EQ(again.failGet, 3);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SonvaneSimState, TheFileIsTheWorldAndSetsWriteBack) {
  const std::string path = testing::TempDir() + "sonvane-sim-state.txt";
  std::remove(path.c_str());
  sonvane::SimAudioSystem system(path);
  sonvane::Library library(system);
  EXPECT_EQ(library.Update(), 0) << "no file, no devices";
  EXPECT_EQ(library.PlaybackCount(), 0u);
  {
    std::ofstream out(path, std::ios::binary);
    out << "recording=Mic 1\nrecording=Mic 2\nplayback=Spk 1\nplayback=Spk 2\n"
           "default-recording=Mic 1\ndefault-playback=Spk 1\nfail-get=1\nfail-set=1\n";
  }
  EXPECT_EQ(library.Update(), 1);
  EXPECT_EQ(library.RecordingCount(), 2u);
  char input[256];
  char output[256];
  EXPECT_EQ(library.GetDefaults(input, output), 0) << "the one failure asked for";
  EXPECT_NE(ReadFile(path).find("fail-get=0"), std::string::npos);
  EXPECT_EQ(library.GetDefaults(input, output), 1);
  EXPECT_STREQ(output, "Spk 1");
  EXPECT_EQ(library.SetDefaults("Mic 2", "Spk 2"), 0);
  EXPECT_EQ(library.SetDefaults("Mic 2", "Spk 2"), 1);
  const std::string written = ReadFile(path);
  EXPECT_NE(written.find("default-recording=Mic 2\n"), std::string::npos) << written;
  EXPECT_NE(written.find("default-playback=Spk 2\n"), std::string::npos) << written;
  EXPECT_NE(written.find("recording=Mic 1\n"), std::string::npos) << "devices kept";
  // Someone edits the file: "Windows switches its default device".
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << "default-playback=Spk 1\n";
  }
  EXPECT_EQ(library.GetDefaults(input, output), 1);
  EXPECT_STREQ(output, "Spk 1");
  std::remove(path.c_str());
}

}  // namespace
