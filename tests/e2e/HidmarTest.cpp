// Hidmar.dll under Wine, reached as Teliox.exe reaches it (Win32HidLink, ordinals resolved at run
// time), and the Windows HID stack beneath it. Wine has no handset, but it does show two virtual
// HID devices (mouse 845E:0001, keyboard 845E:0002, input reports only): they prove enumeration,
// id matching and that a collection without the handset's output report is passed over; taken for
// a handset by a test stack, they prove opening for overlapped I/O and stopping a reader that waits
// on a real device.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "companions/hidmar/device/win32/VirtualHandsetDevice.h"
#include "companions/hidmar/real/Win32HidSystem.h"
#include "platform/win32/Win32HidLink.h"

namespace {

constexpr std::uint16_t kWineVendor = 0x845E;
constexpr std::uint16_t kWineMouse = 0x0001;
constexpr std::uint16_t kWineKeyboard = 0x0002;
constexpr std::uint8_t kStatusReport[8] = {0xC0, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00, 0x00};

// A message-only window of the test thread that records the handset notifications it gets.
class NotifyWindow {
 public:
  struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD thread;
  };

  NotifyWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &NotifyWindow::Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "HidmarTestWindow";
    RegisterClassA(&windowClass);
    hwnd_ = CreateWindowA("HidmarTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, this);
  }
  ~NotifyWindow() { DestroyWindow(hwnd_); }
  NotifyWindow(const NotifyWindow&) = delete;
  NotifyWindow& operator=(const NotifyWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  platform::WindowHandle handle() const { return reinterpret_cast<platform::WindowHandle>(hwnd_); }
  const std::vector<Received>& received() const { return received_; }

  // Dispatches this thread's messages until `count` notifications are in or two seconds pass.
  bool PumpUntil(std::size_t count) {
    const ULONGLONG deadline = GetTickCount64() + 2000;
    while (received_.size() < count && GetTickCount64() < deadline) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return received_.size() >= count;
  }

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<NotifyWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self != nullptr && message >= WM_USER && message < WM_APP) {
      self->received_.push_back({message, wParam, lParam, GetCurrentThreadId()});
      return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }

  HWND hwnd_ = nullptr;
  std::vector<Received> received_;
};

// Each test starts and ends with the library released, since it is one per process.
// These tests need a prefix without a handset. A virtual handset device left installed by a
// simulator that was ended by force would be started again with the next Wine session, and the
// library would find it: such a leftover is removed first.
void NoVirtualHandset() {
  if (hidmar_device::setup::RemoveAll() == 0) return;
  hidmar::Win32HidSystem system;
  const ULONGLONG deadline = GetTickCount64() + 5000;
  while ((!system.FindPaths(0x11F1, 0x1402).empty() || !system.FindPaths(0x11F1, 0x1403).empty()) &&
         GetTickCount64() < deadline) {
    Sleep(50);
  }
}

class HidmarDll : public ::testing::Test {
 protected:
  void SetUp() override {
    NoVirtualHandset();
    ASSERT_TRUE(hid.Loaded()) << "Hidmar.dll beside the test, with ordinals 2, 9, 10, 13, 21, 22";
    hid.ReleaseLibrary();
  }
  void TearDown() override { hid.ReleaseLibrary(); }

  win32::Win32HidLink hid;
};

TEST_F(HidmarDll, FindsNoHandsetAndOpensNothing) {
  EXPECT_EQ(0, hid.FindDevice(0x11F1, 0x1402));
  EXPECT_EQ(0, hid.FindDevice(0x11F1, 0x1403));
  EXPECT_EQ(0, hid.OpenDevice(0));
  EXPECT_EQ(0, hid.WriteReport(kStatusReport, 7));
}

TEST_F(HidmarDll, CallsInAnyOrderAnswerWithoutCrashing) {
  EXPECT_EQ(0, hid.WriteReport(kStatusReport, 7)) << "write before open";
  hid.CloseDevice();
  hid.CloseDevice();
  hid.ReleaseLibrary();
  hid.ReleaseLibrary();
  hid.CloseDevice();
  hid.SetNotifyMessage(0x464);
  EXPECT_EQ(0, hid.OpenDevice(0));
  EXPECT_EQ(0, hid.WriteReport(nullptr, 7));
  EXPECT_EQ(0, hid.WriteReport(kStatusReport, 8));
  EXPECT_EQ(0, hid.WriteReport(kStatusReport, -1));
  EXPECT_EQ(0, hid.FindDevice(0xFFFFFFFF, 0xFFFFFFFF));
}

// Wine's two devices have ids the library can be asked for, but neither has the handset's output
// report (they have none), so the library takes neither.
TEST_F(HidmarDll, WinesVirtualDevicesAreNoHandset) {
  hidmar::Win32HidSystem system;
  ASSERT_FALSE(system.FindPaths(kWineVendor, kWineMouse).empty());
  ASSERT_FALSE(system.FindPaths(kWineVendor, kWineKeyboard).empty());
  EXPECT_EQ(0, hid.FindDevice(kWineVendor, kWineMouse));
  EXPECT_EQ(0, hid.FindDevice(kWineVendor, kWineKeyboard));
  EXPECT_EQ(0, hid.OpenDevice(0));
}

// Four writers, as the bridge's worker threads write without a lock of their own, while another
// thread runs the closing steps and searches again.
void WritersBesideTheClosingSteps(platform::HidLink& hid, std::uint16_t vendorId, std::uint16_t productId) {
  std::atomic<bool> stop{false};
  std::atomic<int> nonZero{0};
  std::vector<std::thread> writers;
  for (int i = 0; i < 4; ++i) {
    writers.emplace_back([&] {
      while (!stop) {
        if (hid.WriteReport(kStatusReport, 7) != 0) ++nonZero;
      }
    });
  }
  std::thread monitor([&] {
    for (int round = 0; round < 20; ++round) {
      hid.FindDevice(0x11F1, round % 2 ? 0x1403 : 0x1402);
      hid.OpenDevice(0);
      hid.CloseDevice();
      hid.FindDevice(vendorId, productId);
      hid.OpenDevice(0);
      Sleep(1);
      hid.CloseDevice();
      hid.ReleaseLibrary();
    }
  });
  monitor.join();
  stop = true;
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(0, nonZero.load()) << "nothing here takes an output report";
}

TEST_F(HidmarDll, FourWritersBesideTheClosingSteps) { WritersBesideTheClosingSteps(hid, kWineVendor, kWineMouse); }

// --- the library on the Windows HID stack, with a real device open --------------------------

// The Windows HID stack, except that Wine's keyboard is taken for a handset: it examines as it is
// but claims the handset's output report, so the library opens the real device, and its reader
// waits on it. Writes still fail: the device has no output report.
class KeyboardAsHandset final : public hidmar::HidSystem {
 public:
  std::vector<std::string> FindPaths(std::uint16_t vendorId, std::uint16_t productId) override {
    return vendorId == 0x11F1 && productId == 0x1402 ? real_.FindPaths(kWineVendor, kWineKeyboard)
                                                     : std::vector<std::string>{};
  }
  std::optional<hidmar::ReportShape> Examine(const std::string& path) override {
    auto shape = real_.Examine(path);
    if (shape) shape->outputLength = hidmar::HandsetOutputLength(shape->numbered);
    return shape;
  }
  std::unique_ptr<hidmar::HidDevice> Open(const std::string& path) override { return real_.Open(path); }
  void Post(std::uintptr_t window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
    real_.Post(window, message, wParam, lParam);
  }

 private:
  hidmar::Win32HidSystem real_;
};

// The HidLink port on a HidmarLibrary, as the DLL's exports put it in front of one.
class LibraryLink final : public platform::HidLink {
 public:
  explicit LibraryLink(hidmar::HidSystem& system) : library_(system) {}
  int FindDevice(std::uint32_t vendorId, std::uint32_t productId) override {
    return library_.Find(vendorId, productId);
  }
  int OpenDevice(platform::WindowHandle window) override {
    return library_.Open(reinterpret_cast<std::uintptr_t>(window));
  }
  void SetNotifyMessage(std::uint32_t message) override { library_.SetMessage(message); }
  int WriteReport(const std::uint8_t* report, int length) override { return library_.Write(report, length); }
  void CloseDevice() override { library_.Close(); }
  void ReleaseLibrary() override { library_.Release(); }

 private:
  hidmar::HidmarLibrary library_;
};

// Its reader waits in an overlapped read that nothing completes; closing ends it at once.
TEST(HidmarOnWin32, ClosesAnOpenDeviceWhoseReaderWaits) {
  NotifyWindow window;
  ASSERT_NE(nullptr, window.hwnd());
  KeyboardAsHandset system;
  LibraryLink hid(system);
  for (int round = 0; round < 3; ++round) {
    ASSERT_NE(0, hid.FindDevice(0x11F1, 0x1402));
    ASSERT_NE(0, hid.OpenDevice(window.handle()));
    hid.SetNotifyMessage(0x464);
    EXPECT_NE(0, hid.OpenDevice(window.handle())) << "open again keeps the device";
    EXPECT_EQ(0, hid.WriteReport(kStatusReport, 7));
    const ULONGLONG before = GetTickCount64();
    hid.CloseDevice();
    EXPECT_LT(GetTickCount64() - before, 1000u);
    EXPECT_EQ(0, hid.WriteReport(kStatusReport, 7));
    if (round == 1) {
      EXPECT_NE(0, hid.OpenDevice(window.handle())) << "the found device is kept until step two";
    }
    hid.ReleaseLibrary();
    EXPECT_EQ(0, hid.OpenDevice(window.handle()));
  }
}

TEST(HidmarOnWin32, FourWritersBesideTheClosingStepsOfAnOpenDevice) {
  KeyboardAsHandset system;
  LibraryLink hid(system);
  WritersBesideTheClosingSteps(hid, 0x11F1, 0x1402);
}

TEST(HidmarLink, AbsentOrIncompleteLibraryAnswersAsNoHandset) {
  // smoke_lang.dll is a resource-only library: it loads, but has none of the six ordinals.
  for (const char* file : {"NoSuchHidmar.dll", "smoke_lang.dll"}) {
    SCOPED_TRACE(file);
    win32::Win32HidLink hid(file);
    EXPECT_FALSE(hid.Loaded());
    EXPECT_EQ(0, hid.FindDevice(0x11F1, 0x1402));
    EXPECT_EQ(0, hid.OpenDevice(0));
    hid.SetNotifyMessage(0x464);
    EXPECT_EQ(0, hid.WriteReport(kStatusReport, 7));
    hid.CloseDevice();
    hid.ReleaseLibrary();
  }
}

// --- the Windows HID stack beneath the library ------------------------------------------------

// The ids are matched, not just any HID interface taken.
TEST(Win32HidSystem, FindsInterfacesByTheirIds) {
  hidmar::Win32HidSystem system;
  const auto mice = system.FindPaths(kWineVendor, kWineMouse);
  const auto keyboards = system.FindPaths(kWineVendor, kWineKeyboard);
  ASSERT_EQ(1u, mice.size());
  ASSERT_EQ(1u, keyboards.size());
  EXPECT_NE(mice[0], keyboards[0]);
  EXPECT_TRUE(system.FindPaths(kWineVendor, 0x0003).empty());
  EXPECT_TRUE(system.FindPaths(0x845F, kWineMouse).empty());
}

// Wine, unlike Windows, lets anyone open its keyboard and mouse for reading and writing.
TEST(Win32HidSystem, ExaminesAndOpensWithTheSameCapabilities) {
  hidmar::Win32HidSystem system;
  for (const std::uint16_t product : {kWineMouse, kWineKeyboard}) {
    const std::string path = system.FindPaths(kWineVendor, product).at(0);
    const auto examined = system.Examine(path);
    ASSERT_TRUE(examined.has_value()) << path;
    EXPECT_GT(examined->inputLength, 1u);
    EXPECT_EQ(0u, examined->outputLength);
    EXPECT_FALSE(examined->numbered);
    EXPECT_FALSE(hidmar::TakesHandsetReports(*examined));
    const auto device = system.Open(path);
    ASSERT_NE(nullptr, device) << path;
    EXPECT_EQ(examined->inputLength, device->Shape().inputLength);
    EXPECT_EQ(examined->outputLength, device->Shape().outputLength);
  }
  EXPECT_FALSE(system.Examine("\\\\?\\hid#no_such_device").has_value());
  EXPECT_EQ(nullptr, system.Open("\\\\?\\hid#no_such_device"));
}

TEST(Win32HidSystem, InterruptEndsAWaitingReadAndEveryLaterCall) {
  hidmar::Win32HidSystem system;
  const auto device = system.Open(system.FindPaths(kWineVendor, kWineMouse).at(0));
  ASSERT_NE(nullptr, device);
  std::atomic<int> result{-1};
  std::thread reader([&] {
    std::vector<std::uint8_t> buffer;
    result = device->Read(buffer) ? 1 : 0;
  });
  Sleep(100);
  EXPECT_EQ(-1, result.load()) << "no input arrives from the virtual mouse";
  const ULONGLONG before = GetTickCount64();
  device->Interrupt();
  reader.join();
  EXPECT_LT(GetTickCount64() - before, 1000u);
  EXPECT_EQ(0, result.load());
  std::vector<std::uint8_t> buffer;
  EXPECT_FALSE(device->Read(buffer));
  EXPECT_FALSE(device->Write({0x00, 0xC0, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00}));
}

// Reports are posted from the reader thread and must be handled on the window's own thread, with
// wParam and lParam as packed (a negative lParam included).
TEST(Win32HidSystem, PostsReachTheWindowsOwnThreadUnchanged) {
  NotifyWindow window;
  ASSERT_NE(nullptr, window.hwnd());
  hidmar::Win32HidSystem system;
  std::thread reader([&] {
    system.Post(window.handle(), 0x464, 0x015A07, 0x42000000);
    system.Post(window.handle(), 0x464, 0x801C08, static_cast<std::int32_t>(0xFFFEFDFCu));
    system.Post(0x7FFFFFF0, 0x464, 1, 2);  // a window that is gone is no error
  });
  reader.join();
  ASSERT_TRUE(window.PumpUntil(2));
  ASSERT_EQ(2u, window.received().size());
  EXPECT_EQ(0x464u, window.received()[0].message);
  EXPECT_EQ(0x015A07u, window.received()[0].wParam);
  EXPECT_EQ(0x42000000, window.received()[0].lParam);
  EXPECT_EQ(0x801C08u, window.received()[1].wParam);
  EXPECT_EQ(static_cast<LPARAM>(static_cast<std::int32_t>(0xFFFEFDFCu)), window.received()[1].lParam);
  EXPECT_EQ(GetCurrentThreadId(), window.received()[1].thread);
}

}  // namespace
