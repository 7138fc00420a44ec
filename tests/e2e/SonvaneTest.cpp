// The real Sonvane.dll under Wine, reached as SNDWD.exe reaches it (Win32AudioControl, linked at
// load time), against Wine's own devices: an ALSA null device gives one output and one input.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
// clang-format on

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/Win32AudioControl.h"

namespace {

constexpr char kKeyPath[] = "SOFTWARE\\VORLANE\\AUDIO_MANAGER";

std::vector<std::string> WinmmInputs() {
  std::vector<std::string> names;
  for (UINT i = 0; i < waveInGetNumDevs(); ++i) {
    WAVEINCAPSA caps{};
    if (waveInGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR) names.emplace_back(caps.szPname);
  }
  return names;
}

std::vector<std::string> WinmmOutputs() {
  std::vector<std::string> names;
  for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
    WAVEOUTCAPSA caps{};
    if (waveOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR) names.emplace_back(caps.szPname);
  }
  return names;
}

struct Lists {
  std::vector<std::string> inputs, outputs;
};

Lists LibraryLists(win32::Win32AudioControl& audio) {
  Lists lists;
  char name[256];
  for (std::uint32_t i = 0; i < audio.WaveInGetNumDevs(); ++i) {
    EXPECT_NE(audio.WaveInGetDevCaps(i, name, 255), 0);
    lists.inputs.emplace_back(name);
  }
  for (std::uint32_t i = 0; i < audio.WaveOutGetNumDevs(); ++i) {
    EXPECT_NE(audio.WaveOutGetDevCaps(i, name, 255), 0);
    lists.outputs.emplace_back(name);
  }
  return lists;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  for (const auto& n : names) {
    if (n == name) return true;
  }
  return false;
}

// Wine's endpoints carry the product names winmm reports, in the same order ("Out: default",
// "In: default"); winmm cuts names to 31 characters, so a longer name only begins with it.
TEST(SonvaneReal, ListsAndDefaultsAgreeWithWinmm) {
  win32::Win32AudioControl audio;
  audio.UpdateAudioDevice(kKeyPath);
  const Lists lists = LibraryLists(audio);
  const auto inputs = WinmmInputs();
  const auto outputs = WinmmOutputs();
  ASSERT_EQ(lists.inputs.size(), inputs.size());
  ASSERT_EQ(lists.outputs.size(), outputs.size());
  ASSERT_FALSE(inputs.empty()) << "the ALSA null device gives one input";
  ASSERT_FALSE(outputs.empty()) << "the ALSA null device gives one output";
  for (std::size_t i = 0; i < inputs.size(); ++i) EXPECT_EQ(lists.inputs[i].rfind(inputs[i], 0), 0u) << i;
  for (std::size_t i = 0; i < outputs.size(); ++i) EXPECT_EQ(lists.outputs[i].rfind(outputs[i], 0), 0u) << i;
  EXPECT_EQ(lists.inputs[0], "In: default");
  EXPECT_EQ(lists.outputs[0], "Out: default");

  char input[256] = "stale";
  char output[256] = "stale";
  ASSERT_NE(audio.GetDefaultAudioDevice(input, output), 0);
  EXPECT_TRUE(Contains(lists.inputs, input)) << input;
  EXPECT_TRUE(Contains(lists.outputs, output)) << output;
}

// Wine has no policy configuration class: setting the defaults answers 0 and changes nothing.
// On Windows the same call succeeds; either way it must not crash and the defaults stay sound.
TEST(SonvaneReal, SettingDefaultsAnswersWithoutCrashing) {
  win32::Win32AudioControl audio;
  audio.UpdateAudioDevice(kKeyPath);
  char input[256];
  char output[256];
  ASSERT_NE(audio.GetDefaultAudioDevice(input, output), 0);
  const int set = audio.SetDefaultAudioDevice(input, output);
  std::printf("SetDefaultAudioDevice with the current defaults: %d\n", set);
  EXPECT_TRUE(set == 0 || set == 1);
  char after[2][256];
  ASSERT_NE(audio.GetDefaultAudioDevice(after[0], after[1]), 0);
  EXPECT_STREQ(after[0], input);
  EXPECT_STREQ(after[1], output);

  EXPECT_EQ(audio.SetDefaultAudioDevice("", output), 0);
  EXPECT_EQ(audio.SetDefaultAudioDevice(input, ""), 0);
  EXPECT_EQ(audio.SetDefaultAudioDevice("No such device", output), 0);
  EXPECT_EQ(audio.SetDefaultAudioDevice("in: DEFAULT", output), 0) << "names match case-sensitively";
  EXPECT_EQ(audio.SetDefaultAudioDevice(nullptr, output), 0);
}

TEST(SonvaneReal, NamesStayInsideTheCallersBuffer) {
  win32::Win32AudioControl audio;
  audio.UpdateAudioDevice(kKeyPath);
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_NE(audio.WaveInGetDevCaps(0, buffer, 4), 0);
  EXPECT_STREQ(buffer, "In:");
  EXPECT_EQ(buffer[4], '#');
  std::memset(buffer, '#', sizeof buffer);
  audio.WaveOutGetDevCaps(0, buffer, 1);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], '#');
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(audio.WaveOutGetDevCaps(0, buffer, 0), 0);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(audio.WaveInGetDevCaps(0, nullptr, 255), 0);
  EXPECT_EQ(audio.WaveOutGetDevCaps(99, buffer, 8), 0);
  EXPECT_EQ(buffer[0], '\0');
}

// The manager calls from its user-interface thread and its watcher at once; the library takes
// COM per call and gives it back, whatever apartment the thread had.
TEST(SonvaneReal, TwoThreadsAndEveryApartmentAreServed) {
  win32::Win32AudioControl audio;
  auto worker = [&audio](DWORD apartment, int* failures) {
    const HRESULT mine = apartment ? CoInitializeEx(nullptr, apartment) : E_FAIL;
    for (int i = 0; i < 40; ++i) {
      char input[256];
      char output[256];
      audio.UpdateAudioDevice(kKeyPath);
      if (audio.WaveOutGetNumDevs() == 0 || !audio.GetDefaultAudioDevice(input, output)) ++*failures;
    }
    if (apartment) {
      // Our own initialisation is still in place: the library balanced only its own.
      EXPECT_EQ(CoInitializeEx(nullptr, apartment), S_FALSE);
      CoUninitialize();
      if (SUCCEEDED(mine)) CoUninitialize();
    } else {
      // The library left no COM behind on a thread that had none.
      const HRESULT fresh = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      EXPECT_EQ(fresh, S_OK);
      if (SUCCEEDED(fresh)) CoUninitialize();
    }
  };
  int failures[3] = {};
  std::thread plain(worker, 0, &failures[0]);
  std::thread single(worker, COINIT_APARTMENTTHREADED, &failures[1]);
  std::thread multi(worker, COINIT_MULTITHREADED, &failures[2]);
  plain.join();
  single.join();
  multi.join();
  EXPECT_EQ(failures[0] + failures[1] + failures[2], 0);
}

}  // namespace
