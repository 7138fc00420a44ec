// The sim flavour of Hidmar.dll as a program meets it: loaded by path from its own folder,
// opened with a window of the test's own, acknowledging in real time, and driven from outside
// by handset-sim.exe over the pipe.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "companions/hidmar/HidmarExports.h"
#include "platform/win32/Handles.h"
#include "tests/e2e/PortTestSupport.h"
#include "tests/e2e/ProbeTime.h"

namespace {

using Report = std::array<std::uint8_t, 7>;

// The build folder as Windows sees it: Wine maps the Unix root to drive Z.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

const std::string kFlavourDir = WindowsPath(TELIOX_SIM_FLAVOUR_DIR);

double Now() { return e2e::NowMs(); }

struct Notification {
  Report bytes;
  double at;  // ms, as Now()
};

// The library's six ordinals, resolved as Teliox.exe resolves them.
struct Library {
  HMODULE module = nullptr;
  decltype(&HidmarFindDevice) find = nullptr;
  decltype(&HidmarOpenDevice) open = nullptr;
  decltype(&HidmarSetNotifyMessage) setMessage = nullptr;
  decltype(&HidmarWriteReport) write = nullptr;
  decltype(&HidmarCloseDevice) close = nullptr;
  decltype(&HidmarReleaseLibrary) release = nullptr;

  template <typename Fn>
  void Resolve(WORD ordinal, Fn& function) {
    function = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
  }
  bool Load() {
    module = LoadLibraryA((kFlavourDir + "\\Hidmar.dll").c_str());
    if (!module) return false;
    Resolve(13, find);
    Resolve(9, open);
    Resolve(22, setMessage);
    Resolve(21, write);
    Resolve(10, close);
    Resolve(2, release);
    return find && open && setMessage && write && close && release;
  }
};

class HidmarSim : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A pipe of this process alone: CTest runs test programs side by side, maybe beside a demo.
    pipe_ = "\\\\.\\pipe\\" + e2e::UniqueName("hidmar-sim-test");
    SetEnvironmentVariableA("HIDMAR_SIM_PIPE", pipe_.c_str());
    loaded_ = lib_.Load();
    WNDCLASSA wc{};
    wc.lpfnWndProc = &HidmarSim::Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HidmarSimTestWindow";
    RegisterClassA(&wc);
  }

  void SetUp() override {
    ASSERT_TRUE(loaded_) << "cannot load " << kFlavourDir << "\\Hidmar.dll with its six ordinals";
    received_.clear();
    window_ = CreateWindowExA(0, "HidmarSimTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    // The first call brings the handset to life; only then does the simulator find the pipe.
    lib_.find(0, 0);
    // Every test starts from the default handset, whatever an earlier one in this process did.
    ASSERT_EQ(0, Sim("--plug 0x1402 1 4 --ack-delay 5 --drop-acks 0 --version-reply normal"));
  }

  void TearDown() override {
    lib_.close();
    lib_.release();
    DestroyWindow(window_);
  }

  void OpenDefault() {
    ASSERT_EQ(0, lib_.find(0x11F1, 0x1403)) << "the default handset is a 0x1402";
    ASSERT_NE(0, lib_.find(0x11F1, 0x1402));
    ASSERT_NE(0, lib_.open(window_));
    lib_.setMessage(0x464);
  }

  int Write(std::uint8_t code, std::uint8_t status = 0x42) {
    const std::uint8_t report[8] = {0xC0, 0x00, code, status, 0x00, 0x00, 0x00, 0x00};
    return lib_.write(report, 7);
  }

  // Starts handset-sim.exe with `arguments`; Sim waits for its exit code.
  static win32::UniqueHandle StartSim(const std::string& arguments) {
    std::string commandLine = "\"" + kFlavourDir + "\\handset-sim.exe\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
      return {};
    CloseHandle(info.hThread);
    return win32::UniqueHandle(info.hProcess);
  }

  static int Sim(const std::string& arguments) {
    const auto process = StartSim(arguments);
    if (!process) return -1;
    if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) {
      TerminateProcess(process.get(), 99);
      return -2;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
  }

  // The next report notification, pumping this thread's messages for up to `timeoutMs`.
  std::optional<Notification> Next(DWORD timeoutMs = 2000) {
    e2e::PumpUntil([&] { return !received_.empty(); }, timeoutMs);
    if (received_.empty()) return std::nullopt;
    const Notification first = received_.front();
    received_.erase(received_.begin());
    return first;
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != 0x464) return DefWindowProcA(hwnd, msg, wParam, lParam);
    // The packing the bridge relies on: b0..b2 in wParam bits 16-23, 8-15, 0-7; b3..b6 in
    // lParam from the top byte down.
    const auto w = static_cast<std::uint32_t>(wParam);
    const auto l = static_cast<std::uint32_t>(lParam);
    EXPECT_EQ(w >> 24, 0u) << "wParam's top byte is unused";
    received_.push_back(
        {Report{static_cast<std::uint8_t>(w >> 16), static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w),
                static_cast<std::uint8_t>(l >> 24), static_cast<std::uint8_t>(l >> 16),
                static_cast<std::uint8_t>(l >> 8), static_cast<std::uint8_t>(l)},
         Now()});
    return 0;
  }

  static inline Library lib_;
  static inline bool loaded_ = false;
  static inline std::string pipe_;
  static inline std::vector<Notification> received_;
  HWND window_ = nullptr;
};

TEST_F(HidmarSim, AcknowledgesCommandsInRealTimeWithTheLibrarysPacking) {
  OpenDefault();
  std::vector<double> latencies;
  std::optional<std::uint8_t> sequence;
  for (int i = 0; i < 20; ++i) {
    const double start = Now();
    ASSERT_NE(0, Write(0x9A));
    const auto ack = Next();
    ASSERT_TRUE(ack) << "no acknowledgement of write " << i;
    latencies.push_back(ack->at - start);
    EXPECT_EQ(0x00, ack->bytes[0]);
    EXPECT_EQ(0x5A, ack->bytes[1]);
    if (sequence) {
      EXPECT_EQ(static_cast<std::uint8_t>(*sequence + 1), ack->bytes[2]) << "a fresh sequence byte";
    }
    sequence = ack->bytes[2];
    EXPECT_EQ(0x42, ack->bytes[3]) << "the status byte at power-on";
    EXPECT_EQ(0x00, ack->bytes[4] | ack->bytes[5] | ack->bytes[6]);
  }
  std::sort(latencies.begin(), latencies.end());
  const double median = latencies[latencies.size() / 2];
  std::printf("acknowledgement after a write (5 ms delay): min %.1f ms, median %.1f ms, max %.1f ms\n",
              latencies.front(), median, latencies.back());
  RecordProperty("ack_median_us", static_cast<int>(median * 1000));
  // The delay is honoured in real time (whole virtual milliseconds: one may be lost), and the
  // answer is not held back by anything else.
  EXPECT_GE(latencies.front(), 3.9);
  EXPECT_LT(median, 50.0);
  EXPECT_LT(latencies.back(), 250.0);

  // A status report is never acknowledged; a version request answers the firmware.
  ASSERT_NE(0, Write(0x00, 0x41));
  ASSERT_NE(0, Write(0x91));
  const auto minor = Next();
  ASSERT_TRUE(minor);
  EXPECT_EQ(0x04, minor->bytes[1]);
  EXPECT_EQ(0x41, minor->bytes[3]) << "the status byte of the last status report";
}

TEST_F(HidmarSim, ReportsFromTheSimulatorArriveAsNotifications) {
  OpenDefault();
  ASSERT_EQ(0, Sim("--key 0x20"));
  auto report = Next();
  ASSERT_TRUE(report);
  EXPECT_EQ(0x20, report->bytes[1]);
  EXPECT_EQ(0x00, report->bytes[0]);

  // Names, an exact report and a repeat of it, in one run of the simulator.
  ASSERT_EQ(0, Sim("--key voicemail --report \"00 1F 33 42 00 00 00\" --repeat"));
  report = Next();
  ASSERT_TRUE(report);
  EXPECT_EQ(0xC3, report->bytes[1]);
  const Report exact = {0x00, 0x1F, 0x33, 0x42, 0x00, 0x00, 0x00};
  for (int i = 0; i < 2; ++i) {
    report = Next();
    ASSERT_TRUE(report);
    EXPECT_EQ(exact, report->bytes);
  }
  // The handset counts on past an injected sequence byte.
  ASSERT_EQ(0, Sim("--key d5"));
  report = Next();
  ASSERT_TRUE(report);
  EXPECT_EQ(0xB5, report->bytes[1]);
  EXPECT_EQ(0x34, report->bytes[2]);
}

TEST_F(HidmarSim, UnplugFailsWritesAndFindsUntilAnotherHandsetIsPlugged) {
  OpenDefault();
  ASSERT_EQ(0, Sim("--unplug"));
  EXPECT_EQ(0, Write(0x9A));
  EXPECT_EQ(0, lib_.find(0x11F1, 0x1402));
  EXPECT_EQ(1, Sim("--key yes")) << "a key needs a plugged, opened handset";
  EXPECT_FALSE(Next(100)) << "nothing arrives from an unplugged handset";

  ASSERT_EQ(0, Sim("--plug 0x1403 2 7"));
  EXPECT_EQ(0, Write(0x9A)) << "a new device must be found and opened again";
  EXPECT_EQ(0, lib_.find(0x11F1, 0x1402));
  ASSERT_NE(0, lib_.find(0x11F1, 0x1403));
  ASSERT_NE(0, lib_.open(window_));
  ASSERT_NE(0, Write(0x90));
  const auto major = Next();
  ASSERT_TRUE(major);
  EXPECT_EQ(0x02, major->bytes[1]);
}

TEST_F(HidmarSim, CloseStopsNotificationsThatWereOnTheirWay) {
  OpenDefault();
  ASSERT_EQ(0, Sim("--ack-delay 60"));
  ASSERT_NE(0, Write(0x9A));
  lib_.close();
  EXPECT_FALSE(Next(250)) << "no notification after ordinal 10 returned";
  EXPECT_EQ(0, Write(0x9A));
  // Found once, the device opens again after 10 (not after 2).
  ASSERT_NE(0, lib_.open(window_));
  ASSERT_NE(0, Write(0x9A));
  const auto ack = Next();
  ASSERT_TRUE(ack);
  EXPECT_EQ(0x5A, ack->bytes[1]);
}

TEST_F(HidmarSim, ScriptsWaitForWhatTheProgramDoesAndSayWhyTheyFailed) {
  OpenDefault();
  // The simulator waits for the program's silent-ring command and the state it leads to; the
  // "program" keeps writing until the simulator has seen it (it may connect late).
  const auto waiter = StartSim(
      "--timeout 10000 --wait-report \"C0 00 9C\" --wait-in \"00 5A\" "
      "--wait-state \"ringer=silent plugged=1 product=0x1402\"");
  ASSERT_TRUE(waiter);
  const ULONGLONG deadline = GetTickCount64() + 15000;
  while (WaitForSingleObject(waiter.get(), 100) == WAIT_TIMEOUT && GetTickCount64() < deadline) Write(0x9C);
  DWORD code = 99;
  GetExitCodeProcess(waiter.get(), &code);
  EXPECT_EQ(0u, code);

  EXPECT_EQ(3, Sim("--timeout 300 --wait-report \"C0 00 77\"")) << "never written";
  EXPECT_EQ(64, Sim("--send \"drop-acks\"")) << "bad commands are refused before connecting";
  EXPECT_EQ(64, Sim("--wait-state \"colour=red\""));
  EXPECT_EQ(2, Sim("--pipe \\\\.\\pipe\\nobody-serves-this --connect-timeout 200 --unplug"));
}

}  // namespace
