// The Desktop port on real Win32 under Wine: another program's window found, messaged and fed
// copy data; processes started and listed; system facts; the tray icon.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/win32/Text.h"
#include "platform/win32/Win32Desktop.h"
#include "tests/e2e/PortTestSupport.h"
#include "tests/e2e/ShellSmokeIds.h"

namespace {

using platform::WindowHandle;

WindowHandle HandleOf(HWND hwnd) { return reinterpret_cast<WindowHandle>(hwnd); }

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string TitleOf(HWND hwnd) {
  std::string title(4096, '\0');
  title.resize(static_cast<std::size_t>(GetWindowTextA(hwnd, title.data(), static_cast<int>(title.size()))));
  return title;
}

class DesktopPort : public ::testing::Test {
 protected:
  win32::Win32Desktop desktop;
};

// A peer with a window of a title of its own, for the tests that talk to another program.
class DesktopPeer : public DesktopPort {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.Started());
    window = HandleOf(peer.Window(title.c_str()));
    ASSERT_NE(window, 0u) << "the peer's window did not appear";
  }

  const std::string title = e2e::UniqueName("peer");
  e2e::PeerProcess peer{"--window " + title};
  WindowHandle window = 0;
};

TEST_F(DesktopPeer, FindsTheWindowByTitleAloneOrWithItsClass) {
  EXPECT_EQ(desktop.FindTopWindow(nullptr, title.c_str()), window);
  EXPECT_EQ(desktop.Send(window, kPeerSelf, 0, 0), static_cast<std::intptr_t>(window));
  EXPECT_EQ(desktop.FindTopWindow(kPeerClass, title.c_str()), window);
  EXPECT_EQ(desktop.FindTopWindow(nullptr, (title + "x").c_str()), 0u);
  EXPECT_EQ(desktop.FindTopWindow("NoSuchClass", title.c_str()), 0u);
  // The window is hidden, as the audio device manager's is, and still found.
  EXPECT_FALSE(desktop.IsVisible(window));
}

TEST_F(DesktopPeer, SendReturnsTheAnswerAndPostArrives) {
  EXPECT_EQ(desktop.Send(window, kPeerAsk, 3, 7), 3007);
  EXPECT_EQ(desktop.Send(window, kPeerLastRecord, 0, 0), 0);
  EXPECT_TRUE(desktop.Post(window, kPeerRecord, 77, 0));
  // A posted message waits in the queue behind nothing, but sends overtake it: ask until it is in.
  std::intptr_t recorded = 0;
  e2e::PumpUntil([&] { return (recorded = desktop.Send(window, kPeerLastRecord, 0, 0)) == 77; });
  EXPECT_EQ(recorded, 77);
  EXPECT_FALSE(desktop.Post(0x7FFFFFF0, kPeerRecord, 1, 0)) << "no such window";
}

TEST_F(DesktopPeer, CopyDataArrivesWithItsBytesIdAndWParam) {
  const char name[] = "Unknown";
  EXPECT_EQ(desktop.SendCopyData(window, 0, 1, 0, name, sizeof name), 8);
  EXPECT_EQ(TitleOf(reinterpret_cast<HWND>(window)), "copy 1 0 556E6B6E6F776E00");

  const unsigned char bytes[] = {0x00, 0xFF, 0x41, 0x00, 0x80};
  EXPECT_EQ(desktop.SendCopyData(window, 0, 2, 0x1234, bytes, sizeof bytes), 5);
  EXPECT_EQ(TitleOf(reinterpret_cast<HWND>(window)), "copy 2 4660 00FF410080");

  // The longest device name the protocol carries, 255 characters and the terminator.
  const std::string longName(255, 'M');
  EXPECT_EQ(desktop.SendCopyData(window, 0, 1, 0, longName.c_str(), 256), 256);
  std::string hex;
  for (int i = 0; i < 255; ++i) hex += "4D";
  EXPECT_EQ(TitleOf(reinterpret_cast<HWND>(window)), "copy 1 0 " + hex + "00");

  EXPECT_EQ(desktop.SendCopyData(window, 0, 2, 0, nullptr, 0), 0);
  EXPECT_EQ(TitleOf(reinterpret_cast<HWND>(window)), "copy 2 0 ");
}

TEST_F(DesktopPeer, RegisteredNameGivesTheSameNumberInBothPrograms) {
  const std::uint32_t number = desktop.RegisterMessage(kPeerRegisteredName);
  EXPECT_GE(number, 0xC000u);
  EXPECT_LE(number, 0xFFFFu);
  EXPECT_EQ(desktop.Send(window, kPeerRegistered, 0, 0), static_cast<std::intptr_t>(number));
  EXPECT_EQ(desktop.RegisterMessage(kPeerRegisteredName), number);
  EXPECT_NE(desktop.RegisterMessage("Teliox e2e other name"), number);
}

TEST_F(DesktopPeer, ProcessListNamesThisProgramAndThePeer) {
  const std::uint32_t self = desktop.CurrentProcessId();
  EXPECT_EQ(self, GetCurrentProcessId());
  const auto peerId = static_cast<std::uint32_t>(desktop.Send(window, kPeerProcessId, 0, 0));
  ASSERT_NE(peerId, 0u);
  ASSERT_NE(peerId, self);

  std::string selfName, peerName;
  for (const platform::ProcessEntry& entry : desktop.Processes()) {
    if (entry.id == self) selfName = entry.exeName;
    if (entry.id == peerId) peerName = entry.exeName;
  }
  // File names alone, no folder.
  EXPECT_EQ(Lower(selfName), "desktop_port_tests.exe");
  EXPECT_EQ(Lower(peerName), kPeerExe);
}

TEST_F(DesktopPort, StartProcessRunsTheProgramWithTheStartupFlags) {
  // A peer of an earlier, interrupted run could still be around.
  if (const HWND stale = FindWindowA(kPeerClass, kPeerDefaultTitle)) PostMessageA(stale, WM_CLOSE, 0, 0);
  e2e::PumpUntil([] { return FindWindowA(kPeerClass, kPeerDefaultTitle) == nullptr; });

  ASSERT_TRUE(desktop.StartProcess(e2e::PeerPath().c_str(), platform::kStartfForceOffFeedback));
  const HWND started = e2e::WaitForWindow(kPeerDefaultTitle);
  ASSERT_NE(started, nullptr) << "the started program never made its window";
  EXPECT_EQ(desktop.Send(HandleOf(started), kPeerStartupFlags, 0, 0), 0x80);
  const auto startedId = static_cast<std::uint32_t>(desktop.Send(HandleOf(started), kPeerProcessId, 0, 0));
  const auto processes = desktop.Processes();
  EXPECT_TRUE(std::any_of(processes.begin(), processes.end(),
                          [&](const platform::ProcessEntry& entry) { return entry.id == startedId; }));

  // Its handles were closed, so once it ends nothing keeps it in the list.
  PostMessageA(started, WM_CLOSE, 0, 0);
  EXPECT_TRUE(e2e::PumpUntil([&] {
    const auto now = desktop.Processes();
    return std::none_of(now.begin(), now.end(), [&](const platform::ProcessEntry& e) { return e.id == startedId; });
  }));

  EXPECT_FALSE(desktop.StartProcess((e2e::ProgramFolder() + "\\no_such_program.exe").c_str(), 0x80));
  EXPECT_FALSE(desktop.StartProcess(nullptr, 0x80));
  EXPECT_FALSE(desktop.StartProcess("", 0x80));
}

TEST_F(DesktopPort, SystemFactsArePlausible) {
  const platform::VersionInfo version = desktop.Version();
  EXPECT_EQ(version.platformId, 2u);  // VER_PLATFORM_WIN32_NT
  EXPECT_GE(version.major, 5u);
  EXPECT_LE(version.major, 10u);
  EXPECT_GT(version.build, 0u);

  const std::uint16_t language = desktop.SystemDefaultLangId();
  EXPECT_NE(language & 0x3FF, 0) << "a primary language";

  const std::string common = desktop.CommonProgramFilesFolder();
  ASSERT_FALSE(common.empty());
  EXPECT_NE(common.back(), '\\');
  EXPECT_NE(common.find("Common Files"), std::string::npos) << common;
  const DWORD attributes = GetFileAttributesA(common.c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) << common;

  const platform::WorkArea area = desktop.GetWorkArea();
  EXPECT_GE(area.left, 0);
  EXPECT_GE(area.top, 0);
  EXPECT_GT(area.right, area.left);
  EXPECT_GT(area.bottom, area.top);
  EXPECT_LE(area.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_LE(area.bottom, GetSystemMetrics(SM_CYSCREEN));
}

TEST_F(DesktopPort, ForegroundAndVisibleFollowOurOwnWindow) {
  const HWND hwnd = CreateWindowExW(0, L"STATIC", L"Teliox e2e visible", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_FALSE(desktop.IsVisible(HandleOf(hwnd)));
  ShowWindow(hwnd, SW_SHOW);
  EXPECT_TRUE(desktop.IsVisible(HandleOf(hwnd)));
  EXPECT_TRUE(desktop.BringToForeground(HandleOf(hwnd)));
  e2e::PumpUntil([&] { return desktop.ForegroundWindow() == HandleOf(hwnd); }, 2000);
  EXPECT_EQ(desktop.ForegroundWindow(), HandleOf(hwnd));
  DestroyWindow(hwnd);
  EXPECT_FALSE(desktop.IsVisible(HandleOf(hwnd)));
  EXPECT_NE(desktop.ForegroundWindow(), HandleOf(hwnd));
}

// The window in front may belong to another program: the port reports it all the same, where
// GetActiveWindow, bound to the calling thread's own queue, sees none.
TEST_F(DesktopPeer, ForegroundWindowOfAnotherProgramIsReported) {
  const HWND hwnd = reinterpret_cast<HWND>(window);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  EXPECT_TRUE(desktop.IsVisible(window));
  desktop.BringToForeground(window);
  EXPECT_TRUE(e2e::PumpUntil([&] { return desktop.ForegroundWindow() == window; }, 3000));
  EXPECT_EQ(GetActiveWindow(), nullptr);
}

TEST_F(DesktopPort, TrayIconIsAddedModifiedAndDeletedWithChineseTips) {
  const HWND hwnd = CreateWindowExW(0, L"STATIC", L"Teliox e2e tray", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(hwnd, nullptr);
  platform::TrayIcon icon{HandleOf(hwnd), 1, WM_APP + 1, IDI_SMOKE, "Teliox: 離線\nTarvo: 離線"};
  EXPECT_TRUE(desktop.NotifyIcon(platform::TrayAction::Add, icon));

  icon.tip = "Teliox: 連線\nTarvo: 連線";
  EXPECT_TRUE(desktop.NotifyIcon(platform::TrayAction::Modify, icon));
  // Longer than the tip field: cut, not refused.
  icon.tip.clear();
  for (int i = 0; i < 40; ++i) icon.tip += "連線";
  EXPECT_TRUE(desktop.NotifyIcon(platform::TrayAction::Modify, icon));

  EXPECT_TRUE(desktop.NotifyIcon(platform::TrayAction::Delete, icon));
  EXPECT_FALSE(desktop.NotifyIcon(platform::TrayAction::Delete, icon)) << "already gone";
  EXPECT_FALSE(desktop.NotifyIcon(platform::TrayAction::Modify, icon)) << "nothing to modify";
  DestroyWindow(hwnd);
}

TEST(TrayTip, IsCutToTheFieldWithoutSplittingACharacter) {
  EXPECT_EQ(win32::FitTrayTip(""), L"");
  EXPECT_EQ(win32::FitTrayTip("Teliox: 連線\nTarvo: 離線"), L"Teliox: \u9023\u7dda\nTarvo: \u96e2\u7dda");

  const std::string exact(63, 'a');
  EXPECT_EQ(win32::FitTrayTip(exact), std::wstring(63, L'a'));
  EXPECT_EQ(win32::FitTrayTip(exact + "b"), std::wstring(63, L'a'));

  std::string chinese;
  for (int i = 0; i < 100; ++i) chinese += "線";
  EXPECT_EQ(win32::FitTrayTip(chinese), std::wstring(63, L'\u7dda'));

  // A character outside the basic plane takes two units; one unit left is not enough for it.
  const std::wstring cut = win32::FitTrayTip(std::string(62, 'a') + "😀");
  EXPECT_EQ(cut, std::wstring(62, L'a'));
  EXPECT_EQ(win32::FitTrayTip(std::string(61, 'a') + "😀"), std::wstring(61, L'a') + L"\xd83d\xde00");
}

}  // namespace
