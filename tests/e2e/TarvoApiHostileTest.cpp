// TarvoAPIDLL.dll's link window under Wine, against what any program on the desktop can send it.
// WM_COPYDATA names its sender in wParam and nothing checks that name, so the library is sent,
// from another thread and from another process, messages without a body, with short, broken and
// oversized bodies, unterminated texts and huge counts, under the client's name and under
// strangers'. The bridge's window must get nothing, nothing may crash, and the client's next
// message must still get through. The client here is a window of the client's class on a thread
// of this program, so the tests also decide when it answers.
//
// The program is its own stranger: started as `--stranger <library> <client>` it sends the
// hostile messages from its own process and exits with the number the library took.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "companions/tarvoapi/Protocol.h"
#include "companions/tarvoapi/TarvoAPI.h"
#include "platform/ClientApi.h"
#include "platform/win32/Handles.h"

namespace {

using tarvoapi::ClientMessage;
using tarvoapi::FieldWriter;
using Bytes = std::vector<std::uint8_t>;

constexpr UINT kRunOnClient = WM_APP + 1;

bool IsNotification(UINT msg) { return msg >= platform::kClientAttached && msg <= platform::kClientVoicemailStatus; }

// --- what a stranger sends -----------------------------------------------------------------------

struct Sent {
  std::string what;
  bool delivered = false;
  LRESULT answer = 0;
};

Sent SendCopyData(HWND library, const std::string& what, HWND sender, ULONG_PTR kind, const void* data, DWORD size) {
  COPYDATASTRUCT copy{};
  copy.dwData = kind;
  copy.cbData = size;
  copy.lpData = const_cast<void*>(data);
  DWORD_PTR answer = 0;
  const bool delivered = SendMessageTimeoutA(library, WM_COPYDATA, reinterpret_cast<WPARAM>(sender),
                                             reinterpret_cast<LPARAM>(&copy), SMTO_NORMAL, 5000, &answer) != 0;
  return {what, delivered, static_cast<LRESULT>(answer)};
}

Sent SendBody(HWND library, const std::string& what, HWND sender, ULONG_PTR kind, const Bytes& body) {
  return SendCopyData(library, what, sender, kind, body.data(), static_cast<DWORD>(body.size()));
}

Bytes Note(std::uint32_t msg) {
  ClientMessage message;
  message.message = msg;
  return tarvoapi::Encode(message);
}

// Messages that break the protocol, sent under the client's name, and well-formed ones sent under
// other names. `sameProcess`: pointers reach the library as they are, so a missing
// COPYDATASTRUCT can be sent too (across processes the system copies what it points to).
std::vector<Sent> SendHostile(HWND library, HWND client, HWND own, bool sameProcess) {
  std::vector<Sent> sent;
  const auto broken = [&](const std::string& what, ULONG_PTR kind, const Bytes& body) {
    sent.push_back(SendBody(library, what, client, kind, body));
  };
  if (sameProcess) {
    DWORD_PTR answer = 0;
    const bool delivered =
        SendMessageTimeoutA(library, WM_COPYDATA, reinterpret_cast<WPARAM>(client), 0, SMTO_NORMAL, 5000, &answer) != 0;
    sent.push_back({"no COPYDATASTRUCT", delivered, static_cast<LRESULT>(answer)});
  }
  sent.push_back(SendCopyData(library, "a length without data", client, tarvoapi::kNotify, nullptr, 64));
  broken("an empty body", tarvoapi::kNotify, {});
  broken("one byte", tarvoapi::kNotify, {0x04});
  broken("three bytes", tarvoapi::kNotify, {0x04, 0x00, 0x04});
  broken("a field past the end", tarvoapi::kNotify, {0x04, 0x00, 0x04, 0x00, 0x7D, 0x04});
  broken("a field length of 65535 past the end", tarvoapi::kNotify, {0x03, 0x00, 0xFF, 0xFF, 'M', 'U'});
  broken("a two-byte message number", tarvoapi::kNotify, {0x04, 0x00, 0x02, 0x00, 0x7D, 0x04});
  broken("no message number", tarvoapi::kNotify, {0x03, 0x00, 0x02, 0x00, 'h', 'i'});
  for (const std::uint32_t number : {0x477u, 0x483u, 0xFFFFFFFFu}) {
    broken("message number " + std::to_string(number), tarvoapi::kNotify, Note(number));
  }
  broken("a call status without its call", tarvoapi::kNotify, Note(platform::kClientCallStatus));
  {
    FieldWriter call;
    call.Text(tarvoapi::kFieldCallStatus, "RINGING");
    FieldWriter writer;
    writer.U32(tarvoapi::kFieldMessage, platform::kClientCallStatus);
    writer.Bytes(tarvoapi::kFieldCall, call.Data());
    broken("a call without its id", tarvoapi::kNotify, writer.Data());
  }
  {
    FieldWriter writer;
    writer.U32(tarvoapi::kFieldMessage, platform::kClientVoicemailList);
    writer.I32(tarvoapi::kFieldParam, 1);
    writer.Bytes(tarvoapi::kFieldVoicemail, Bytes(tarvoapi::kVoicemailSize - 1, 'v'));
    broken("a voicemail one byte short", tarvoapi::kNotify, writer.Data());
  }
  broken("a kind the library sends", tarvoapi::kAttach, Note(platform::kClientAttached));
  broken("an unknown kind", 0x12345678, Note(platform::kClientStatusText));
  {
    // Well-formed fields, one byte over the limit in all.
    FieldWriter writer;
    writer.U32(tarvoapi::kFieldMessage, platform::kClientStatusText);
    writer.Text(tarvoapi::kFieldText, "MUTE ON");
    Bytes body = writer.Take();
    while (body.size() + 4 + 0xFFFF <= tarvoapi::kMaxBody) {
      FieldWriter filler;
      filler.Bytes(0x7F, Bytes(0xFFFF, 'x'));
      body.insert(body.end(), filler.Data().begin(), filler.Data().end());
    }
    FieldWriter last;
    last.Bytes(0x7F, Bytes(tarvoapi::kMaxBody - body.size() - 4 + 1, 'x'));
    body.insert(body.end(), last.Data().begin(), last.Data().end());
    broken("a body one byte over the limit", tarvoapi::kNotify, body);
  }
  // Wine cannot unpack this much from another process: it drops the message after the library's
  // GetMessage has answered -1, and the sender waits out its time-out.
  broken("8 MiB", tarvoapi::kNotify, Bytes(8u << 20, 0));

  // Well-formed, from windows that are not the client.
  ClientMessage text;
  text.message = platform::kClientStatusText;
  text.text = std::string(5000, 'u');  // cut to 1023 and terminated, if it were taken
  ClientMessage voicemails;
  voicemails.message = platform::kClientVoicemailList;
  voicemails.param = 0x7FFFFFFF;
  ClientMessage contacts;
  contacts.message = platform::kClientContactList;
  contacts.contacts.assign(10000, std::string(8, 'c'));
  ClientMessage call;
  call.message = platform::kClientCallStatus;
  call.param = 1;
  call.calls = {{7, "RINGING", 0, std::string(400, 'p'), true}};
  ClientMessage state;
  state.kind = tarvoapi::kClientState;
  const std::pair<const char*, ClientMessage> wellFormed[] = {
      {"an unterminated status text", text}, {"a voicemail count of 2^31-1", voicemails},
      {"10000 contacts", contacts},          {"a call with an unterminated partner", call},
      {"an empty call table", state},
  };
  for (const auto& [what, message] : wellFormed) {
    sent.push_back(SendBody(library, std::string(what) + " from a stranger", own, message.kind, Encode(message)));
  }
  for (const std::uint32_t number : {platform::kClientAttached, platform::kClientAttachRefused,
                                     platform::kClientNotAvailable, platform::kClientDetached}) {
    sent.push_back(SendBody(library, "attach state " + std::to_string(number) + " from a stranger", own,
                            tarvoapi::kNotify, Note(number)));
  }
  sent.push_back(SendBody(library, "a status text naming no sender", nullptr, tarvoapi::kNotify, Encode(text)));
  sent.push_back(SendBody(library, "a status text naming the library", library, tarvoapi::kNotify, Encode(text)));
  return sent;
}

// A message-only window to send from.
class StrangerWindow {
 public:
  StrangerWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TarvoApiStranger";
    RegisterClassA(&windowClass);
    hwnd_ = CreateWindowExA(0, "TarvoApiStranger", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                            nullptr);
  }
  ~StrangerWindow() { DestroyWindow(hwnd_); }
  StrangerWindow(const StrangerWindow&) = delete;
  StrangerWindow& operator=(const StrangerWindow&) = delete;
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

HWND ParseWindow(const char* text) { return reinterpret_cast<HWND>(std::strtoul(text, nullptr, 10)); }

std::string WindowText(HWND window) { return std::to_string(reinterpret_cast<std::uintptr_t>(window)); }

int RunStranger(const char* library, const char* client) {
  StrangerWindow own;
  if (!own.hwnd()) return 100;
  int taken = 0;
  for (const auto& sent : SendHostile(ParseWindow(library), ParseWindow(client), own.hwnd(), false)) {
    std::printf("%-50s %s %ld\n", sent.what.c_str(), sent.delivered ? "answered" : "not delivered",
                static_cast<long>(sent.answer));
    if (sent.delivered && sent.answer != 0) ++taken;
  }
  std::fflush(stdout);
  return taken;
}

// --- the client ----------------------------------------------------------------------------------

// A window of the client's class on a thread of its own. It takes every request, notes where the
// attach requests come from, and answers them at once with `answer` (0: it does not answer).
class FakeClient {
 public:
  explicit FakeClient(std::uint32_t answer = platform::kClientAttached) : answer_(answer) {
    const win32::UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread([this, event = ready.get()] { Run(event); });
    WaitForSingleObject(ready.get(), 5000);
  }
  ~FakeClient() {
    if (IsWindow(hwnd_)) PostMessageA(hwnd_, WM_CLOSE, 0, 0);
    thread_.join();
  }
  FakeClient(const FakeClient&) = delete;
  FakeClient& operator=(const FakeClient&) = delete;

  HWND hwnd() const { return hwnd_; }
  HWND library() const { return library_; }
  int attachRequests() const { return attachRequests_; }
  int detachRequests() const { return detachRequests_; }
  void SetAnswer(std::uint32_t answer) { answer_ = answer; }

  // Runs `body` on the client's thread and returns its result.
  LRESULT OnClient(const std::function<LRESULT()>& body) {
    return SendMessageA(hwnd_, kRunOnClient, 0, reinterpret_cast<LPARAM>(&body));
  }
  // The client sends `message` to the library from its window; the library's answer.
  LRESULT Notify(const ClientMessage& message) {
    return OnClient([&] {
      const Bytes body = tarvoapi::Encode(message);
      return SendBody(library_, "", hwnd_, message.kind, body).answer;
    });
  }
  void Destroy() {
    OnClient([this] { return static_cast<LRESULT>(DestroyWindow(hwnd_)); });
  }

 private:
  void Run(HANDLE ready) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &FakeClient::Procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = tarvoapi::kClientWindowClass;
    RegisterClassA(&windowClass);  // once per process; later clients find it registered
    hwnd_ = CreateWindowExA(0, tarvoapi::kClientWindowClass, "client", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                            windowClass.hInstance, this);
    SetEvent(ready);
    if (!hwnd_) return;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  }

  static LRESULT CALLBACK Procedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<FakeClient*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (msg) {
      case WM_COPYDATA: {
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (copy && copy->dwData == tarvoapi::kAttach) {
          self->library_ = reinterpret_cast<HWND>(wParam);
          ++self->attachRequests_;
          // Answered while the library waits for this send, as SendMessage lets it in.
          if (const std::uint32_t answer = self->answer_) {
            SendBody(self->library_, "", hwnd, tarvoapi::kNotify, Note(answer));
          }
        }
        if (copy && copy->dwData == tarvoapi::kDetach) ++self->detachRequests_;
        return 1;
      }
      case kRunOnClient:
        return (*reinterpret_cast<const std::function<LRESULT()>*>(lParam))();
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
  }

  std::atomic<std::uint32_t> answer_;
  std::thread thread_;
  HWND hwnd_ = nullptr;
  std::atomic<HWND> library_{nullptr};
  std::atomic<int> attachRequests_{0};
  std::atomic<int> detachRequests_{0};
};

// --- the bridge ----------------------------------------------------------------------------------

struct Received {
  UINT msg;
  std::string text;  // 0x47D, read while handling it
};

std::vector<Received>* g_received = nullptr;

LRESULT CALLBACK BridgeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (IsNotification(msg) && g_received) {
    std::string text;
    if (msg == platform::kClientStatusText && wParam) text = reinterpret_cast<const char*>(wParam);
    g_received->push_back({msg, std::move(text)});
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class TarvoApiHostile : public ::testing::Test {
 protected:
  void SetUp() override {
    g_received = &received_;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = BridgeProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TarvoApiHostileBridge";
    RegisterClassA(&windowClass);
    window_ = CreateWindowExA(0, "TarvoApiHostileBridge", "bridge", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              windowClass.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    ASSERT_TRUE(TarvoAPI_Initialize(window_));
    // Another client (a simulator of a test beside this one) would answer instead of ours.
    ASSERT_TRUE(Pump([] { return FindWindowA(tarvoapi::kClientWindowClass, nullptr) == nullptr; }, 10000))
        << "another client window is open";
  }

  void TearDown() override {
    TarvoAPI_Disconnect2Tarvo();
    Pump([] { return false; }, 100);
    DestroyWindow(window_);
    g_received = nullptr;
  }

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

  // The next notification `msg` after the last one waited for.
  const Received* Wait(UINT msg, DWORD timeoutMs = 3000) {
    const Received* found = nullptr;
    Pump(
        [&] {
          for (std::size_t i = cursor_; i < received_.size(); ++i) {
            if (received_[i].msg == msg) {
              cursor_ = i + 1;
              found = &received_[i];
              return true;
            }
          }
          return false;
        },
        timeoutMs);
    return found;
  }

  // What arrived from `from` on, after the queue has been given `settleMs` to deliver.
  std::vector<UINT> Since(std::size_t from, DWORD settleMs = 300) {
    Pump([] { return false; }, settleMs);
    std::vector<UINT> messages;
    for (std::size_t i = from; i < received_.size(); ++i) messages.push_back(received_[i].msg);
    return messages;
  }

  void Attach(FakeClient& client) {
    TarvoAPI_Connect2Tarvo();
    ASSERT_NE(Wait(platform::kClientAttached), nullptr);
    ASSERT_NE(client.library(), nullptr);
  }

  // The client's well-formed text still gets through.
  void StillListening(FakeClient& client) {
    ClientMessage text;
    text.message = platform::kClientStatusText;
    text.text = "MUTE ON";
    EXPECT_EQ(client.Notify(text), 1);
    const Received* note = Wait(platform::kClientStatusText);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text, "MUTE ON");
  }

  static void ExpectNothingTaken(const std::vector<Sent>& sent) {
    for (const auto& one : sent) {
      EXPECT_TRUE(!one.delivered || one.answer == 0) << one.what << " was taken";
    }
  }

  HWND window_ = nullptr;
  std::vector<Received> received_;
  std::size_t cursor_ = 0;
};

TEST_F(TarvoApiHostile, BrokenAndStrangersMessagesFromAnotherThreadReachNothing) {
  FakeClient client;
  Attach(client);
  const std::size_t mark = received_.size();
  std::vector<Sent> sent;
  std::thread stranger([&] {
    StrangerWindow own;
    sent = SendHostile(client.library(), client.hwnd(), own.hwnd(), true);
  });
  stranger.join();
  for (const auto& one : sent) EXPECT_TRUE(one.delivered) << one.what;
  ExpectNothingTaken(sent);
  EXPECT_EQ(Since(mark), std::vector<UINT>{});
  StillListening(client);
}

TEST_F(TarvoApiHostile, BrokenAndStrangersMessagesFromAnotherProcessReachNothing) {
  FakeClient client;
  Attach(client);
  const std::size_t mark = received_.size();
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string commandLine =
      "\"" + std::string(program) + "\" --stranger " + WindowText(client.library()) + " " + WindowText(client.hwnd());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(
      CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
  const win32::UniqueHandle child(process.hProcess);
  const win32::UniqueHandle childThread(process.hThread);
  // The bridge window's messages are handled meanwhile, as the bridge would.
  EXPECT_TRUE(Pump([&] { return WaitForSingleObject(child.get(), 0) == WAIT_OBJECT_0; }, 30000));
  DWORD taken = 1000;
  GetExitCodeProcess(child.get(), &taken);
  EXPECT_EQ(taken, 0u) << "messages the library took from the other process";
  EXPECT_TRUE(IsWindow(client.library())) << "the library's window is gone";
  EXPECT_EQ(Since(mark), std::vector<UINT>{});
  StillListening(client);
}

// --- the attach under Wine -----------------------------------------------------------------------

TEST_F(TarvoApiHostile, ClientNotAvailableWhileAttachedIsADetachAndTheLibraryAsksAgain) {
  FakeClient client;
  Attach(client);
  const int asked = client.attachRequests();
  client.SetAnswer(platform::kClientNotAvailable);
  ClientMessage gone;
  gone.message = platform::kClientNotAvailable;
  EXPECT_EQ(client.Notify(gone), 1);
  ASSERT_NE(Wait(platform::kClientDetached), nullptr);
  EXPECT_FALSE(TarvoAPI_SendCommandDirect("GET MUTE"));
  // Asked again every 500 ms; its repeated answer is not passed on.
  const std::size_t mark = received_.size();
  EXPECT_TRUE(Pump([&] { return client.attachRequests() >= asked + 2; }, 3000));
  EXPECT_EQ(Since(mark, 0), std::vector<UINT>{});
  client.SetAnswer(platform::kClientAttached);
  ASSERT_NE(Wait(platform::kClientAttached), nullptr);
  StillListening(client);
}

TEST_F(TarvoApiHostile, AClientWindowThatIsDestroyedIsADetachAndTheNextOneIsAttached) {
  {
    FakeClient first;
    Attach(first);
    first.Destroy();
    const ULONGLONG before = GetTickCount64();
    ASSERT_NE(Wait(platform::kClientDetached), nullptr);
    std::printf("detach noticed after %llu ms\n", GetTickCount64() - before);
  }
  FakeClient second;
  ASSERT_NE(Wait(platform::kClientAvailable), nullptr);
  ASSERT_NE(Wait(platform::kClientAttached), nullptr);
  StillListening(second);
}

TEST_F(TarvoApiHostile, ALateAttachAnswerAfterDisconnectDoesNotAttach) {
  FakeClient client(0);  // answers later, when the test says
  TarvoAPI_Connect2Tarvo();
  ASSERT_TRUE(Pump([&] { return client.attachRequests() == 1; }, 3000));
  TarvoAPI_Disconnect2Tarvo();
  ASSERT_TRUE(Pump([&] { return client.detachRequests() == 1; }, 3000));
  const std::size_t mark = received_.size();
  ClientMessage attached;
  attached.message = platform::kClientAttached;
  EXPECT_EQ(client.Notify(attached), 0);
  EXPECT_EQ(Since(mark, 700), std::vector<UINT>{});
  EXPECT_FALSE(TarvoAPI_SendCommandDirect("GET MUTE"));
  EXPECT_EQ(client.attachRequests(), 1) << "nobody wants to attach any more";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--stranger") == 0) return RunStranger(argv[2], argv[3]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
