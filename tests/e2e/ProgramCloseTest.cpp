// Both programs' single instance and the registered close message "PX_CloseApplication" under
// Wine: each program ends, with exit code 0, only on its own code (Teliox.exe 0xA0 and 0xA2, the
// manager 99) and runs on when given the other program's code or a stranger's; a second manager
// started while one runs ends at once with exit code 0. Teliox.exe's own second instance is
// checked in TelioxShellTest.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/e2e/ProgramTestSupport.h"

namespace {

constexpr char kManagerKey[] = "SOFTWARE\\VORLANE\\AUDIO_MANAGER";
constexpr char kManagerTitle[] = "SNDWD";
constexpr char kHandsetIn[] = "Microphone (Teliox Handset)";
constexpr char kHandsetOut[] = "Speakers (Teliox Handset)";
// A code that is not ours is ignored at once; a short wait shows the program did not end.
constexpr DWORD kIgnoredWaitMs = 700;

UINT CloseMessage() { return RegisterWindowMessageA("PX_CloseApplication"); }

DWORD WindowProcess(HWND window) {
  DWORD owner = 0;
  if (window) GetWindowThreadProcessId(window, &owner);
  return owner;
}

// Each test's programs see the registry, the environment and the sim libraries' state only as
// the test set them, and the prefix is left as it was found.
class ProgramClose : public ::testing::Test {
 protected:
  void SetUp() override {
    // A manager of another run would answer instead of ours; it ends at its next check unless a
    // registration keeps it.
    HWND stale = nullptr;
    e2e::PumpUntil([&] { return (stale = FindWindowA(nullptr, kManagerTitle)) == nullptr; }, 15000);
    ASSERT_EQ(nullptr, stale) << "a manager is running already, process " << WindowProcess(stale);
    const std::string id = std::to_string(GetCurrentProcessId());
    // A pipe nobody serves and no handset: the bridge's threads stay quiet.
    SetEnvironmentVariableA("HIDMAR_SIM_PIPE", ("\\\\.\\pipe\\teliox-e2e-close-" + id).c_str());
    SetEnvironmentVariableA("HIDMAR_SIM_START", "unplug");
    // Defaults that are the stored choices: the manager shows no wizard and no notice.
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    statePath_ = std::string(temp) + "teliox-e2e-close-sonvane-" + id + ".txt";
    {
      std::ofstream state(statePath_, std::ios::binary);
      state << "recording=" << kHandsetIn << "\r\nplayback=" << kHandsetOut << "\r\ndefault-recording=" << kHandsetIn
            << "\r\ndefault-playback=" << kHandsetOut << "\r\nfail-get=0\r\nfail-set=0\r\n";
      ASSERT_TRUE(state.good()) << statePath_;
    }
    SetEnvironmentVariableA("SONVANE_SIM_STATE", statePath_.c_str());
    ASSERT_TRUE(e2e::WriteDword(kManagerKey, "DEFAULT_DEVICE_WIZARD", 1));
    ASSERT_TRUE(e2e::WriteDword(kManagerKey, "WIZARD_AUTOMATIC", 0));
    ASSERT_TRUE(e2e::WriteText(kManagerKey, "DEFAULT_DEVICE_IN", kHandsetIn));
    ASSERT_TRUE(e2e::WriteText(kManagerKey, "DEFAULT_DEVICE_OUT", kHandsetOut));
    // Registrations of others would keep a manager running.
    RegDeleteTreeA(HKEY_CURRENT_USER, e2e::kRegisterKey);
  }

  void TearDown() override {
    first_.Kill();
    second_.Kill();
    SetEnvironmentVariableA("HIDMAR_SIM_PIPE", nullptr);
    SetEnvironmentVariableA("HIDMAR_SIM_START", nullptr);
    SetEnvironmentVariableA("SONVANE_SIM_STATE", nullptr);
    if (!statePath_.empty()) DeleteFileA(statePath_.c_str());
  }

  static std::string Manager() { return "\"" + e2e::ManagerSimFolder() + "\\SNDWD.exe\""; }
  static std::string Teliox() { return "\"" + e2e::SimDemoFolder() + "\\Teliox.exe\""; }

  e2e::RegistrySnapshot registry_{e2e::kVendorKey};  // restored after TearDown's kills
  std::string statePath_;
  e2e::StartedProgram first_;
  e2e::StartedProgram second_;
};

TEST_F(ProgramClose, TelioxEndsOnA2AndRunsOnForOtherCodes) {
  ASSERT_TRUE(first_.Start(Teliox())) << e2e::SimDemoFolder();
  std::optional<DWORD> registered;
  ASSERT_TRUE(e2e::PumpUntil([&] { return (registered = e2e::ReadRegisteredId("Teliox")).has_value(); }, 15000))
      << "no registration";
  EXPECT_EQ(first_.Id(), *registered);
  HWND main = nullptr;
  ASSERT_TRUE(e2e::PumpUntil([&] { return (main = e2e::MainDialogOf(first_.Id())) != nullptr; }));

  // 0xA1 beside its own codes, the manager's 99, and nothing at all.
  const UINT close = CloseMessage();
  for (const WPARAM code : {WPARAM{0xA1}, WPARAM{99}, WPARAM{0}, WPARAM{0xA3}}) {
    ASSERT_TRUE(PostMessageA(main, close, code, 0));
  }
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), first_.WaitExit(kIgnoredWaitMs)) << "ended on another code";

  const ULONGLONG closedAt = GetTickCount64();
  ASSERT_TRUE(PostMessageA(main, close, 0xA2, 0));
  EXPECT_EQ(0u, first_.WaitExit(15000)) << "0xA2 did not end it";
  std::printf("Teliox.exe ended %llu ms after 0xA2\n", GetTickCount64() - closedAt);
  EXPECT_FALSE(e2e::ReadRegisteredId("Teliox").has_value()) << "it ended in order, removing its registration";
}

TEST_F(ProgramClose, ManagerRunsOnceEndsOn99AndRunsOnForOtherCodes) {
  // This process as the manager's client: it runs as long as the test does.
  ASSERT_TRUE(e2e::WriteDword(e2e::kRegisterKey, "TelioxE2E", GetCurrentProcessId()));
  ASSERT_TRUE(first_.Start(Manager())) << e2e::ManagerSimFolder();
  HWND main = nullptr;
  ASSERT_TRUE(e2e::PumpUntil(
      [&] {
        main = FindWindowA(nullptr, kManagerTitle);
        return main != nullptr && WindowProcess(main) == first_.Id();
      },
      10000))
      << "no manager window; the manager " << (first_.Running() ? "runs" : "ended");
  EXPECT_FALSE(IsWindowVisible(main)) << "the main window stays hidden";

  // A second copy ends by itself with exit code 0; the first runs on, its window still the one.
  ASSERT_TRUE(second_.Start(Manager()));
  EXPECT_EQ(0u, second_.WaitExit(10000)) << "the second manager did not end by itself with 0";
  EXPECT_TRUE(first_.Running());
  EXPECT_EQ(main, FindWindowA(nullptr, kManagerTitle));

  // Teliox.exe's codes (160 is 0xA0) and a stranger's.
  const UINT close = CloseMessage();
  for (const WPARAM code : {WPARAM{160}, WPARAM{0xA2}, WPARAM{98}, WPARAM{0}}) {
    ASSERT_TRUE(PostMessageA(main, close, code, 0));
  }
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), first_.WaitExit(kIgnoredWaitMs)) << "ended on another code";

  const ULONGLONG closedAt = GetTickCount64();
  ASSERT_TRUE(PostMessageA(main, close, 99, 0));
  EXPECT_EQ(0u, first_.WaitExit(10000)) << "99 did not end it";
  std::printf("SNDWD.exe ended %llu ms after 99\n", GetTickCount64() - closedAt);
  EXPECT_EQ(nullptr, FindWindowA(nullptr, kManagerTitle)) << "the window goes with the manager";
}

}  // namespace
