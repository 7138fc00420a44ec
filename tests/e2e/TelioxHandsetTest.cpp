// Teliox.exe in the sim-demo folder: the sim flavour of Hidmar.dll and the real TarvoAPIDLL.dll
// beside it, the handset and softphone simulators as the outside world. It opens the simulated
// handset, completes the version handshake and uploads the ring tone; a key pressed on the
// simulator is listed in the hidden window's HID debug list and reaches its operation; an
// incoming call in the softphone simulator rings the handset and its yes key answers it.
#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "tests/e2e/PortTestSupport.h"

namespace {

// The folder the build fills with Teliox.exe, its English library and the sim Hidmar.dll.
std::string SimFolder() { return e2e::ProgramFolder() + "\\..\\..\\sim-demo"; }

// Runs a command line to its end; its exit code, or -1.
int RunToEnd(const std::string& commandLine, DWORD timeoutMs) {
  std::string line = commandLine;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) return -1;
  CloseHandle(info.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(info.hProcess, &code);
  else TerminateProcess(info.hProcess, 1);
  CloseHandle(info.hProcess);
  return static_cast<int>(code);
}

struct Found {
  DWORD process;
  HWND window;
};

BOOL CALLBACK FindDialogOf(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (owner == found->process && std::string(cls) == "#32770" && GetDlgItem(window, 1003)) {
    found->window = window;
    return FALSE;
  }
  return TRUE;
}

TEST(TelioxHandset, OpensTheSimulatedHandsetAndTakesItsKeys) {
  const std::string folder = SimFolder();
  const std::string simulator = "\"" + folder + "\\handset-sim.exe\"";
  // A pipe of our own, so a demo running beside the tests is not disturbed.
  const std::string pipe = "\\\\.\\pipe\\teliox-e2e-" + std::to_string(GetCurrentProcessId());
  SetEnvironmentVariableA("HIDMAR_SIM_PIPE", pipe.c_str());

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;

  // The client first, so that watching for the library's attach cannot miss it: a control
  // connection sees only what happens after it connects.
  const std::string softphone = "\"" + folder + "\\softphone-sim.exe\"";
  const std::string clientPipe = "\\\\.\\pipe\\teliox-e2e-client-" + std::to_string(GetCurrentProcessId());
  std::string clientLine = softphone + " --pipe " + clientPipe;
  PROCESS_INFORMATION client{};
  ASSERT_TRUE(CreateProcessA(nullptr, clientLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &client));
  CloseHandle(client.hThread);
  // The simulator stays until its window is closed: end it however the test ends.
  struct EndOnExit {
    HANDLE process;
    ~EndOnExit() {
      TerminateProcess(process, 0);
      CloseHandle(process);
    }
  } endClient{client.hProcess};
  ASSERT_TRUE(e2e::PumpUntil([&] { return RunToEnd(softphone + " --control --pipe " + clientPipe + " --state", 5000) == 0; },
                             15000))
      << "the softphone simulator did not come up";
  std::string attachLine = softphone + " --control --pipe " + clientPipe + " --timeout 30000 --wait \"lib attach\"";
  PROCESS_INFORMATION attach{};
  ASSERT_TRUE(CreateProcessA(nullptr, attachLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &attach));
  CloseHandle(attach.hThread);

  std::string commandLine = "\"" + folder + "\\Teliox.exe\"";
  PROCESS_INFORMATION teliox{};
  ASSERT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &teliox))
      << commandLine;
  CloseHandle(teliox.hThread);

  // The handshake asks twice for both version bytes; then the stored ring tone is uploaded.
  EXPECT_EQ(0, RunToEnd(simulator + " --pipe " + pipe + " --wait-report \"C0 00 91\"", 15000));
  EXPECT_EQ(0, RunToEnd(simulator + " --pipe " + pipe + " --wait-report \"C0 00 85\"", 15000))
      << "the ring tone upload did not reach its last tag";

  // The up key: listed as an "MCU->" line, and its operation marks key activity (bit 0).
  EXPECT_EQ(0, RunToEnd(simulator + " --pipe " + pipe + " --key up --wait-report \"C0 00 00 43\"", 10000));

  Found found{teliox.dwProcessId, nullptr};
  ASSERT_TRUE(e2e::PumpUntil([&] {
    EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&found));
    return found.window != nullptr;
  }));
  const HWND list = GetDlgItem(found.window, 1003);
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

  // An incoming call: the client rings the handset, the handset's yes key answers it. The
  // library attaches once the handset is open.
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(attach.hProcess, 35000));
  DWORD attached = 1;
  GetExitCodeProcess(attach.hProcess, &attached);
  CloseHandle(attach.hProcess);
  ASSERT_EQ(0u, attached) << "the client library never attached";
  // One control connection rings the call and waits for its answer: waits see only what comes
  // after they connect.
  std::string controlLine = softphone + " --control --pipe " + clientPipe +
                            " --timeout 20000 --do \"incoming alice\" --wait \"cmd SET CALL 1 STATUS INPROGRESS\"";
  PROCESS_INFORMATION control{};
  ASSERT_TRUE(CreateProcessA(nullptr, controlLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &control));
  CloseHandle(control.hThread);
  EXPECT_EQ(0, RunToEnd(simulator + " --pipe " + pipe + " --wait-report \"C0 00 9A\"", 10000))
      << "the handset was not told to ring";
  // The yes key stops the ringing (0x9F) before it answers.
  EXPECT_EQ(0, RunToEnd(simulator + " --pipe " + pipe + " --key yes --wait-report \"C0 00 9F\"", 10000));
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(control.hProcess, 25000));
  DWORD answered = 1;
  GetExitCodeProcess(control.hProcess, &answered);
  CloseHandle(control.hProcess);
  EXPECT_EQ(0u, answered) << "the yes key did not answer the call";

  const UINT close = RegisterWindowMessageA("PX_CloseApplication");
  PostMessageA(found.window, close, 0xA0, 0);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(teliox.hProcess, 15000));
  DWORD code = 1;
  GetExitCodeProcess(teliox.hProcess, &code);
  EXPECT_EQ(0u, code);
  CloseHandle(teliox.hProcess);
}

}  // namespace
