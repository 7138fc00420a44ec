// The audio device manager: its device-list questions against the simulated audio world, and
// whole runs of the program through the scenario runner for input that scenario files cannot
// spell comfortably (thousands of registrations, oversized names).
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "devicemanager/app/AudioManagerApp.h"
#include "devicemanager/app/ManagerSettings.h"
#include "sim/programs/Programs.h"
#include "sim/runner/Runner.h"
#include "sim/runner/World.h"

namespace {

using namespace devicemanager;

class DeviceListTest : public ::testing::Test {
 protected:
  sim::World world_;
  sim::AudioWorld& audio_ = world_.Audio();
};

TEST_F(DeviceListTest, NamelessOrBlankDevicesAreNotReadyAndOnlyAnEmptyRecordingNameMeansRemoteDesktop) {
  audio_.AddPlayback("Speakers");
  audio_.AddRecording("Microphone");
  EXPECT_TRUE(DeviceNamesReady(audio_));
  EXPECT_FALSE(IsRemoteDesktopAudio(audio_));
  audio_.AddPlayback(" ");
  EXPECT_FALSE(DeviceNamesReady(audio_));
  ASSERT_TRUE(audio_.Remove(" "));
  audio_.AddRecording("");
  EXPECT_FALSE(DeviceNamesReady(audio_));

  sim::World rdp;
  rdp.Audio().AddPlayback("Microsoft RDP Audio Driver");
  rdp.Audio().AddRecording("Mic");
  EXPECT_FALSE(IsRemoteDesktopAudio(rdp.Audio()));
  sim::World rdpNameless;
  rdpNameless.Audio().AddPlayback("Microsoft RDP Audio Driver");
  rdpNameless.Audio().AddRecording("");
  EXPECT_TRUE(IsRemoteDesktopAudio(rdpNameless.Audio()));
}

TEST_F(DeviceListTest, StoredDevicesMustBothBePresentComparedExactly) {
  audio_.AddPlayback("Speakers");
  audio_.AddPlayback("USB Phone");
  audio_.AddRecording("USB Phone");
  EXPECT_TRUE(StoredDevicesPresent(audio_, "USB Phone", "Speakers"));
  EXPECT_FALSE(StoredDevicesPresent(audio_, "USB Phone", "speakers"));
  EXPECT_FALSE(StoredDevicesPresent(audio_, "Speakers", "Speakers"));
  EXPECT_FALSE(StoredDevicesPresent(audio_, "", ""));
}

TEST_F(DeviceListTest, NamesAreBoundedTo255Characters) {
  audio_.AddPlayback(std::string(400, 'P'));
  audio_.AddRecording(std::string(400, 'R'));
  // The size passed is 255: the library keeps its terminator within it.
  EXPECT_EQ(PlaybackName(audio_, 0), std::string(254, 'P'));
  EXPECT_EQ(RecordingName(audio_, 0), std::string(254, 'R'));
  EXPECT_EQ(PlaybackName(audio_, 7), "");
  std::string in;
  std::string out;
  ASSERT_TRUE(DefaultDevices(audio_, in, out));
  EXPECT_EQ(in.size(), 255u);
  EXPECT_EQ(out.size(), 255u);
}

TEST(ManagerLanguageTest, TheSystemLanguagePicksTheLibrary) {
  EXPECT_EQ(ManagerLanguageLibrary(0x0404), nullptr);
  EXPECT_STREQ(ManagerLanguageLibrary(0x0411), "Swd_Jpn.dll");
  EXPECT_STREQ(ManagerLanguageLibrary(0x040C), "Swd_Fra.dll");
  EXPECT_STREQ(ManagerLanguageLibrary(0x0413), "Swd_Dut.dll");
  EXPECT_STREQ(ManagerLanguageLibrary(0x0804), "Swd_Eng.dll");
  EXPECT_STREQ(ManagerLanguageLibrary(0x0409), "Swd_Eng.dll");
}

struct PlayResult {
  int code = -1;
  std::string transcript;
  std::string errors;
};

PlayResult Play(const std::string& text) {
  sim::SimPrograms programs(sim::DefaultSourceDir());
  std::ostringstream out;
  std::ostringstream err;
  PlayResult run;
  run.code = sim::RunScenario(text, {}, &programs, out, err);
  run.transcript = out.str();
  run.errors = err.str();
  return run;
}

constexpr char kRegister[] = "registry set HKCU\\SOFTWARE\\VORLANE\\AUDIO_MANAGER\\REGISTER ";

TEST(ManagerRegistrationTest, ThousandsOfValuesAndOversizedOnesAreScannedInBoundedTime) {
  std::string text = "process start \"Client.exe\" id 4242\n";
  // A name over 511 characters and data over 4 bytes are no registrations; stepping past them
  // must not stall the scan.
  text += std::string(kRegister) + "\"" + std::string(600, 'N') + "\" dword 4242\n";
  text += std::string(kRegister) + "Blob binary 42 10 00 00 00\n";
  for (int i = 0; i < 3000; ++i) text += std::string(kRegister) + "Dead" + std::to_string(i) + " dword 9\n";
  const std::string run = "start manager\nexpect-not \"^exit manager\" for 12s\n";
  // Only the oversized entries and the dead ones: the manager ends at its first check.
  const PlayResult dead = Play(text + run);
  EXPECT_EQ(dead.code, 1) << dead.errors;
  EXPECT_NE(dead.transcript.find("5000 exit manager 0"), std::string::npos);

  const PlayResult alive = Play(text + std::string(kRegister) + "Zzz dword 4242\n" + run);
  EXPECT_EQ(alive.code, 0) << alive.errors << alive.transcript.substr(0, 2000);
}

}  // namespace
