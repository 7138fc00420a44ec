// Teliox.exe in the sim-demo folder: the sim flavour of Hidmar.dll and the real TarvoAPIDLL.dll
// beside it, the handset and softphone simulators as the outside world. It opens the simulated
// handset, completes the version handshake and uploads the ring tone; a key pressed on the
// simulator is listed in the hidden window's HID debug list and reaches its operation; an
// incoming call in the softphone simulator rings the handset and its yes key answers it; the
// client key presses the client's own key only when the client's window is visible behind
// another one.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "companions/tarvoapi/sim/SimControl.h"
#include "companions/tarvoapi/sim/win32/ControlPipe.h"
#include "platform/win32/Handles.h"
#include "tests/e2e/ProgramTestSupport.h"

namespace {

constexpr char kClientWindowClass[] = "tTvMainForm.UnicodeClass";

// The folder the build fills with Teliox.exe, its English library and the sim Hidmar.dll.
std::string SimFolder() { return e2e::ProgramFolder() + "\\..\\..\\sim-demo"; }

struct WindowSearch {
  DWORD process;
  const std::string& windowClass;
  int control;
  HWND found;
};

BOOL CALLBACK VisitTopWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  if (owner != search->process || search->windowClass != name) return TRUE;
  if (search->control != 0 && !GetDlgItem(window, search->control)) return TRUE;
  search->found = window;
  return FALSE;
}

// A top-level window of `process`, by class; for dialogs also by a control it holds.
HWND TopWindowOf(DWORD process, const std::string& windowClass, int control = 0) {
  WindowSearch search{process, windowClass, control, nullptr};
  EnumWindows(VisitTopWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

struct WindowTraits {
  using Type = HWND;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type window) { return window != nullptr; }
  static void Close(Type window) { DestroyWindow(window); }
};
using UniqueWindow = win32::UniqueHandleOf<WindowTraits>;

// Makes `window` the foreground window and waits until the system agrees. Windows grants
// SetForegroundWindow only to the foreground process, one it started, or the one that received
// the last input; a test started from a console in the background is none of them, and its call
// is refused. Attached to the input of the foreground window's thread for the call, the test
// counts as the foreground's own. Wine does not enforce the rule: there the plain call works.
bool BringToFront(HWND window) {
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  if (!SetForegroundWindow(window)) {
    const DWORD own = GetCurrentThreadId();
    const DWORD front = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
    const bool attached = front != 0 && front != own && AttachThreadInput(own, front, TRUE);
    SetForegroundWindow(window);
    if (attached) AttachThreadInput(own, front, FALSE);
  }
  return e2e::PumpUntil([&] { return GetForegroundWindow() == window; }, 3000);
}

// The two simulators and Teliox.exe between them, on pipes of this test's own so a demo running
// beside the tests is not disturbed. The client starts first, and the control connection to it
// opens before Teliox.exe starts: a connection sees only what happens after it opened, and the
// library's attach must not be missed.
class TelioxHandset : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string id = std::to_string(GetCurrentProcessId());
    handsetPipe_ = "\\\\.\\pipe\\teliox-e2e-" + id;
    SetEnvironmentVariableA("HIDMAR_SIM_PIPE", handsetPipe_.c_str());
    const std::string clientPipe = "\\\\.\\pipe\\teliox-e2e-client-" + id;
    ASSERT_TRUE(softphone_.Start("\"" + SimFolder() + "\\softphone-sim.exe\" --pipe " + clientPipe));
    ASSERT_TRUE(client_.Connect(clientPipe, 15000)) << "the softphone simulator did not come up";
    ASSERT_TRUE(teliox_.Start("\"" + SimFolder() + "\\Teliox.exe\""));
  }

  // The handset simulator's command line, run to its end: 0 when every step succeeded.
  int Handset(const std::string& steps, DWORD timeoutMs = 10000) {
    return e2e::RunToEnd("\"" + SimFolder() + "\\handset-sim.exe\" --pipe " + handsetPipe_ + " " + steps, timeoutMs);
  }

  // Teliox.exe answers the attach with "PROTOCOL 2" once it counts the client as attached, and
  // the library attaches only after the handset is open.
  bool ClientAttached() { return client_.Wait("cmd PROTOCOL 2", 35000).has_value(); }

  // Presses the client key and collects what it made the client do: the FOCUS and BTN_RELEASED
  // commands as the client's event lines show them ("cmd!" for those sent direct), in order,
  // until a second after the first FOCUS (the key sends them all at once).
  std::vector<std::string> ClientKeyCommands() {
    client_.Monitor(0);  // what came before the press
    std::vector<std::string> commands;
    bool focused = false;
    const auto take = [&](const std::vector<std::string>& events) {
      for (const auto& event : events) {
        const std::string line = softphone_sim::WithoutTime(event);
        const std::size_t space = line.find(' ');
        if (space == std::string::npos || !line.starts_with("cmd")) continue;
        const std::string text = line.substr(space + 1);
        if (text == "FOCUS" || text.starts_with("BTN_RELEASED")) commands.push_back(line);
        focused = focused || text == "FOCUS";
      }
    };
    // This thread's windows keep answering meanwhile: the client takes the foreground on FOCUS.
    const auto collectFor = [&](DWORD ms, bool untilFocused) {
      const ULONGLONG deadline = GetTickCount64() + ms;
      while (!(untilFocused && focused) && GetTickCount64() < deadline) {
        take(client_.Monitor(50));
        e2e::PumpUntil([] { return true; }, 0);
      }
    };
    if (Handset("--key client") != 0) return {"the handset simulator failed"};
    collectFor(10000, true);
    if (focused) collectFor(1000, false);
    return commands;
  }

  std::string handsetPipe_;
  e2e::StartedProgram softphone_;
  e2e::StartedProgram teliox_;
  softphone_sim::ControlClient client_;  // closes before the simulator ends
};

TEST_F(TelioxHandset, OpensTheSimulatedHandsetAndTakesItsKeys) {
  // The handshake asks twice for both version bytes; then the stored ring tone is uploaded.
  EXPECT_EQ(0, Handset("--wait-report \"C0 00 91\"", 15000));
  EXPECT_EQ(0, Handset("--wait-report \"C0 00 85\"", 15000)) << "the ring tone upload did not reach its last tag";

  // The up key: listed as an "MCU->" line, and its operation marks key activity (bit 0).
  EXPECT_EQ(0, Handset("--key up --wait-report \"C0 00 00 43\""));

  HWND main = nullptr;
  ASSERT_TRUE(e2e::PumpUntil([&] { return (main = TopWindowOf(teliox_.Id(), "#32770", 1003)) != nullptr; }));
  const HWND list = GetDlgItem(main, 1003);
  const int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  bool listed = false;
  std::string seen;
  for (int i = 0; i < count && !listed; ++i) {
    // The list is a Unicode window: ask for its text in the wide form.
    wchar_t wide[256] = {};
    char line[256] = {};
    if (SendMessageW(list, LB_GETTEXTLEN, i, 0) < static_cast<LRESULT>(std::size(wide))) {
      SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
      WideCharToMultiByte(CP_ACP, 0, wide, -1, line, sizeof line, nullptr, nullptr);
    }
    listed = std::string(line).rfind("MCU-> 00 1D ", 0) == 0;
    seen.append(line).append("\n");
  }
  EXPECT_TRUE(listed) << count << " lines in the HID debug list, none for the up key:\n" << seen;

  // An incoming call: the client rings the handset, the handset's yes key answers it.
  ASSERT_TRUE(ClientAttached()) << "the client library never attached";
  const auto incoming = client_.Command("incoming alice");
  ASSERT_TRUE(incoming && incoming->starts_with("ok")) << incoming.value_or("no answer");
  EXPECT_EQ(0, Handset("--wait-report \"C0 00 9A\"")) << "the handset was not told to ring";
  // The yes key stops the ringing (0x9F) before it answers.
  EXPECT_EQ(0, Handset("--key yes --wait-report \"C0 00 9F\""));
  EXPECT_TRUE(client_.Wait("cmd SET CALL 1 STATUS INPROGRESS", 20000)) << "the yes key did not answer the call";

  PostMessageA(main, RegisterWindowMessageA("PX_CloseApplication"), 0xA0, 0);
  EXPECT_EQ(0u, teliox_.WaitExit(15000));
}

// Whether the client's window is "in the background" is asked desktop-wide: the window in front
// may belong to any program. The client's own key is pressed only when its window is visible and
// another one is in front; otherwise bringing the client forward is all the key does.
TEST_F(TelioxHandset, ClientKeyPressesTheClientsKeyOnlyWhenItsVisibleWindowIsBehindAnother) {
  ASSERT_TRUE(ClientAttached()) << "the client library never attached";
  HWND clientWindow = nullptr;
  ASSERT_TRUE(
      e2e::PumpUntil([&] { return (clientWindow = TopWindowOf(softphone_.Id(), kClientWindowClass)) != nullptr; }));
  // A window of another program than the client's and the bridge's: this test's own.
  const UniqueWindow window(CreateWindowExW(0, L"STATIC", L"Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                                            100, 320, 120, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(window);
  const HWND other = window.get();

  ASSERT_TRUE(BringToFront(clientWindow)) << "the client's window did not come to the front";
  EXPECT_EQ(std::vector<std::string>{"cmd! FOCUS"}, ClientKeyCommands()) << "client window in front";

  ASSERT_TRUE(BringToFront(other)) << "our window did not come to the front";
  EXPECT_EQ((std::vector<std::string>{"cmd! FOCUS", "cmd! BTN_RELEASED TARVO"}), ClientKeyCommands())
      << "another window in front";

  // A hidden client window is not "in the background", whatever is in front. ShowWindow works on
  // another program's window: the call is carried out by the window's own thread.
  ASSERT_TRUE(BringToFront(other));
  ShowWindow(clientWindow, SW_HIDE);
  ASSERT_TRUE(e2e::PumpUntil([&] { return !IsWindowVisible(clientWindow); }));
  EXPECT_EQ(std::vector<std::string>{"cmd! FOCUS"}, ClientKeyCommands()) << "client window hidden";
}

}  // namespace
