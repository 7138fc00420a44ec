// TarvoAPIDLL.dll against softphone-sim.exe under Wine: the real library (imported by name,
// partly through Win32ClientApi as Teliox.exe uses it), the real transport between two
// processes, and the client model behind the simulator's window. The test's own window takes
// the notifications and copies their records while handling them, as the bridge does.
#include <gtest/gtest.h>
#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "companions/tarvoapi/Protocol.h"
#include "companions/tarvoapi/TarvoAPI.h"
#include "companions/tarvoapi/sim/win32/ControlPipe.h"
#include "platform/ClientApi.h"
#include "platform/win32/Win32ClientApi.h"

namespace {

struct Note {
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::string text;                      // 0x47D
  CALLStructure call{};                  // 0x47F
  std::vector<std::uint8_t> voicemails;  // 0x481: lParam entries
  std::chrono::steady_clock::time_point at;
};

std::vector<Note>* g_notes = nullptr;

LRESULT CALLBACK BridgeWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= platform::kClientAttached && msg <= platform::kClientVoicemailStatus && g_notes) {
    Note note{msg, wParam, lParam, {}, {}, {}, std::chrono::steady_clock::now()};
    if (msg == platform::kClientStatusText && wParam) note.text = reinterpret_cast<const char*>(wParam);
    if (msg == platform::kClientCallStatus && wParam) std::memcpy(&note.call, reinterpret_cast<void*>(wParam), 196);
    if (msg == platform::kClientVoicemailList && wParam && lParam > 0) {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(wParam);
      note.voicemails.assign(bytes, bytes + lParam * platform::kVoicemailEntrySize);
    }
    g_notes->push_back(std::move(note));
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of("\\/"));
}

bool ClientWindowExists() { return FindWindowA(tarvoapi::kClientWindowClass, nullptr) != nullptr; }

class TarvoApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_notes = &notes_;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = BridgeWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TarvoApiTestBridge";
    RegisterClassA(&windowClass);
    window_ = CreateWindowExA(0, "TarvoApiTestBridge", "bridge", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    ASSERT_TRUE(TarvoAPI_Initialize(window_));
    // Another simulator (a demo, a test beside this one) would answer instead of ours.
    ASSERT_TRUE(Pump([] { return !ClientWindowExists(); }, 5000)) << "a client window is already open";
  }

  void TearDown() override {
    // For screenshots: the simulator stays up a while with what the test left in it.
    if (const char* linger = std::getenv("TARVOAPI_TEST_LINGER_MS")) {
      Pump([] { return false; }, static_cast<DWORD>(std::atoi(linger)));
    }
    TarvoAPI_Disconnect2Tarvo();
    StopSimulator();
    Pump([] { return false; }, 100);
    DestroyWindow(window_);
    g_notes = nullptr;
  }

  // Dispatches this thread's messages until `done` or the time-out.
  static bool Pump(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
      if (done()) return true;
      if (GetTickCount64() >= deadline) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
  }

  // The next notification after the previous one found that satisfies `match`.
  const Note* WaitNote(const std::function<bool(const Note&)>& match, DWORD timeoutMs = 5000) {
    const Note* found = nullptr;
    Pump(
        [&] {
          for (std::size_t i = cursor_; i < notes_.size(); ++i) {
            if (match(notes_[i])) {
              cursor_ = i + 1;
              found = &notes_[i];
              return true;
            }
          }
          return false;
        },
        timeoutMs);
    return found;
  }

  const Note* WaitMessage(UINT msg, DWORD timeoutMs = 5000) {
    return WaitNote([msg](const Note& note) { return note.msg == msg; }, timeoutMs);
  }

  const Note* WaitCall(const std::string& status, int id = 0, DWORD timeoutMs = 5000) {
    return WaitNote(
        [&](const Note& note) {
          return note.msg == platform::kClientCallStatus && status == note.call.status &&
                 (id == 0 || note.call.id == id);
        },
        timeoutMs);
  }

  const Note* WaitText(const std::string& text, DWORD timeoutMs = 5000) {
    return WaitNote([&](const Note& note) { return note.msg == platform::kClientStatusText && note.text == text; },
                    timeoutMs);
  }

  void StartSimulator(const std::string& arguments = "") {
    pipe_ =
        "\\\\.\\pipe\\softphone-sim-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++started_);
    std::string commandLine =
        "\"" + ProgramFolder() + "\\softphone-sim.exe\" --pipe " + pipe_ + " --answer-ms 300 " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(
        CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    ASSERT_TRUE(control_.Connect(pipe_, 15000)) << "softphone-sim.exe did not open its pipe";
    ASSERT_TRUE(ClientWindowExists());
  }

  void StopSimulator() {
    control_.Close();
    if (!process_) return;
    if (HWND client = FindWindowA(tarvoapi::kClientWindowClass, nullptr)) PostMessageA(client, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
    CloseHandle(process_);
    process_ = nullptr;
  }

  std::string Sim(const std::string& command) { return control_.Command(command).value_or("no answer"); }

  void Attach() {
    TarvoAPI_Connect2Tarvo();
    ASSERT_NE(WaitMessage(platform::kClientAttached), nullptr);
  }

  HWND window_ = nullptr;
  std::vector<Note> notes_;
  std::size_t cursor_ = 0;
  HANDLE process_ = nullptr;
  std::string pipe_;
  int started_ = 0;
  softphone_sim::ControlClient control_;
};

TEST_F(TarvoApiTest, NoClientAnswersNotAvailableAndAttachesWhenOneAppears) {
  TarvoAPI_Connect2Tarvo();
  ASSERT_NE(WaitMessage(platform::kClientNotAvailable, 3000), nullptr);
  // The request stays: the client that starts later is announced and attached.
  StartSimulator();
  EXPECT_NE(WaitMessage(platform::kClientAvailable, 3000), nullptr);
  EXPECT_NE(WaitMessage(platform::kClientAttached, 3000), nullptr);
  // The attach may come before the test's pipe connection: ask for the state.
  EXPECT_TRUE(Sim("state").find("attached=1") != std::string::npos);
}

TEST_F(TarvoApiTest, CallsFromBothSidesReachTheBridgeAndTheCallTable) {
  StartSimulator();
  Attach();
  win32::Win32ClientApi client;
  platform::ClientApi& api = client;

  api.SendStringCommand("PROTOCOL 2");
  EXPECT_NE(WaitText("PROTOCOL 2"), nullptr);

  // An outgoing call: placed, then answered by the other end.
  api.SendStringCommand("CALL bob");
  const Note* routing = WaitCall("ROUTING");
  ASSERT_NE(routing, nullptr);
  const int bob = routing->call.id;
  EXPECT_STREQ(routing->call.partner, "bob");
  EXPECT_EQ(routing->lParam, 1);
  ASSERT_NE(WaitCall("INPROGRESS", bob), nullptr);
  int counts[6] = {-1, -1, -1, -1, -1, -1};
  api.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(std::vector<int>(counts, counts + 6), (std::vector<int>{1, bob, 0, 0, 0, 0}));
  std::uint8_t record[platform::kCallStructureSize] = {};
  ASSERT_TRUE(api.GetCallbyID(bob, record));
  EXPECT_STREQ(reinterpret_cast<const char*>(record + platform::kCallStatusOffset), "INPROGRESS");
  char handle[platform::kRecentCallHandleSize];
  std::memset(handle, 'x', sizeof handle);
  ASSERT_TRUE(api.GetRecentCallHandle(handle));
  EXPECT_STREQ(handle, "bob");

  // An incoming call rings; answering it puts the first on hold.
  const std::string started = Sim("incoming alice");
  ASSERT_TRUE(started.starts_with("ok ")) << started;
  const int alice = std::stoi(started.substr(3));
  const Note* ringing = WaitCall("RINGING", alice);
  ASSERT_NE(ringing, nullptr);
  EXPECT_STREQ(ringing->call.partner, "alice");
  api.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(counts[2], 1);
  EXPECT_EQ(counts[3], alice);

  api.SendStringCommand(("SET CALL " + std::to_string(alice) + " STATUS INPROGRESS").c_str());
  EXPECT_NE(WaitCall("ONHOLD", bob), nullptr);
  EXPECT_NE(WaitCall("INPROGRESS", alice), nullptr);
  EXPECT_NE(control_.Wait("cmd SET CALL " + std::to_string(alice) + " STATUS INPROGRESS", 1000), std::nullopt);

  // The held list is written only up to the array's size.
  unsigned long held[2] = {0xAAAA, 0xBBBB};
  int inProgress = 0;
  int ringingCount = 0;
  int onHold = 1;
  api.GetCallNumberEx(inProgress, nullptr, ringingCount, nullptr, onHold, held);
  EXPECT_EQ(inProgress, 1);
  EXPECT_EQ(onHold, 1);
  EXPECT_EQ(held[0], static_cast<unsigned long>(bob));
  EXPECT_EQ(held[1], 0xBBBBu);

  // The user detaches in the client: 0x480, and the library forgets the calls.
  EXPECT_EQ(Sim("detach"), "ok");
  ASSERT_NE(WaitMessage(platform::kClientDetached), nullptr);
  api.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(std::vector<int>(counts, counts + 6), (std::vector<int>(6, 0)));
  EXPECT_FALSE(api.GetCallbyID(bob, record));
}

TEST_F(TarvoApiTest, DirectCallsAnswerAtOnce) {
  StartSimulator();
  EXPECT_FALSE(TarvoAPI_SendCommandDirect("GET MUTE"));  // not attached yet
  Attach();
  EXPECT_TRUE(TarvoAPI_SendCommandDirect("GET MUTE"));
  EXPECT_NE(WaitText("MUTE OFF"), nullptr);
  EXPECT_NE(control_.Wait("cmd! GET MUTE", 1000), std::nullopt);

  EXPECT_FALSE(TarvoAPI_CloseTarvoMSGDialog());
  EXPECT_EQ(Sim("message-window open"), "ok");
  EXPECT_TRUE(TarvoAPI_CloseTarvoMSGDialog());
  EXPECT_TRUE(Sim("state").find("message-window=closed") != std::string::npos);

  // The user mutes in the client: the bridge hears it as a status text.
  EXPECT_EQ(Sim("mute on"), "ok");
  EXPECT_NE(WaitText("MUTE ON"), nullptr);
  EXPECT_EQ(Sim("presence DND"), "ok");
  EXPECT_NE(WaitText("USERSTATUS DND"), nullptr);

  EXPECT_EQ(Sim("window foreground"), "ok");
  TarvoAPI_MinimizeTarvo();
  EXPECT_NE(control_.Wait("api MinimizeTarvo", 2000), std::nullopt);
  EXPECT_TRUE(Sim("state").find("window=background") != std::string::npos);
}

TEST_F(TarvoApiTest, VoicemailListCarriesNoMoreEntriesThanArrived) {
  StartSimulator();
  Attach();
  EXPECT_EQ(Sim("voicemail 7 1700000000 5 carol"), "ok");
  EXPECT_EQ(Sim("voicemail-count 5"), "ok");  // the client claims more than it sends
  TarvoAPI_UpdateVMList();
  const Note* list = WaitMessage(platform::kClientVoicemailList);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->lParam, 1);
  ASSERT_EQ(list->voicemails.size(), platform::kVoicemailEntrySize);
  EXPECT_EQ(list->voicemails[0], 7);
  EXPECT_STREQ(reinterpret_cast<const char*>(list->voicemails.data() + platform::kVoicemailPartnerOffset), "carol");

  TarvoAPI_SendStringCommand("ALTER VOICEMAIL 7 STARTPLAYBACK");
  const Note* status = WaitMessage(platform::kClientVoicemailStatus);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->wParam, 7u);
  EXPECT_EQ(status->lParam, 12);
}

TEST_F(TarvoApiTest, ClientThatEndsDetachesAndItsSuccessorIsAttached) {
  StartSimulator();
  Attach();
  // Killed: no goodbye from the client; the library sees its window go.
  TerminateProcess(process_, 1);
  WaitForSingleObject(process_, 5000);
  CloseHandle(process_);
  process_ = nullptr;
  control_.Close();
  ASSERT_NE(WaitMessage(platform::kClientDetached, 3000), nullptr);
  int counts[6];
  TarvoAPI_GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(counts[0] + counts[2] + counts[4], 0);

  StartSimulator();
  EXPECT_NE(WaitMessage(platform::kClientAvailable, 3000), nullptr);
  EXPECT_NE(WaitMessage(platform::kClientAttached, 3000), nullptr);

  // A client that quits on its own says so.
  StopSimulator();
  EXPECT_NE(WaitMessage(platform::kClientDetached, 3000), nullptr);
}

TEST_F(TarvoApiTest, AttachWaitsForTheUsersAnswer) {
  StartSimulator("--do \"attach-answer pending\"");
  TarvoAPI_Connect2Tarvo();
  ASSERT_NE(WaitMessage(platform::kClientAttachPending), nullptr);
  EXPECT_FALSE(TarvoAPI_SendCommandDirect("GET MUTE"));
  EXPECT_EQ(Sim("allow"), "ok");
  ASSERT_NE(WaitMessage(platform::kClientAttached), nullptr);
  EXPECT_TRUE(TarvoAPI_SendCommandDirect("GET MUTE"));
}

TEST_F(TarvoApiTest, CommandRoundTripTime) {
  StartSimulator();
  Attach();
  std::vector<double> queued;
  std::vector<double> direct;
  for (int i = 0; i < 40; ++i) {
    const bool isDirect = i % 2 == 1;
    const auto start = std::chrono::steady_clock::now();
    if (isDirect) {
      ASSERT_TRUE(TarvoAPI_SendCommandDirect("GET MUTE"));
    } else {
      TarvoAPI_SendStringCommand("GET MUTE");
    }
    const Note* reply = WaitText("MUTE OFF", 2000);
    ASSERT_NE(reply, nullptr);
    (isDirect ? direct : queued).push_back(std::chrono::duration<double, std::milli>(reply->at - start).count());
  }
  std::sort(queued.begin(), queued.end());
  std::sort(direct.begin(), direct.end());
  std::printf("command to status text: queued median %.1f ms max %.1f ms; direct median %.1f ms max %.1f ms\n",
              queued[queued.size() / 2], queued.back(), direct[direct.size() / 2], direct.back());
  EXPECT_LT(queued[queued.size() / 2], 200.0);
  EXPECT_LT(direct[direct.size() / 2], 200.0);
}

}  // namespace
