// dispatch_latency_probe PRESSES TELIOX.exe: how long Teliox.exe takes to turn a handset key into
// a client command, against the bare message round trip it is built on, timed in this one
// process under Wine.
//
// This program is the client: a hidden window of the client's class that takes the client
// library's attach request (and answers it with "attached") and its commands. It starts
// TELIOX.exe from its folder (the sim-demo folder, whose handset opens without hardware, so the
// bridge attaches to the client), then posts message 0x464 with a report of the client key to
// Teliox's main window, as the HID library does, and times it to the arrival of the "FOCUS" the
// key sends through the library (WM_COPYDATA, sent on Teliox's user-interface thread). Taking
// turns with each press, in the same run:
//   echo  the same road without the bridge: a message posted to a window of another process (this
//         program started with --echo), whose window procedure at once sends the same WM_COPYDATA
//         back, as the library does;
//   bare  a message posted to a window of this thread, to its window procedure.
// Prints the median, the 10th and 90th percentiles and the range of each, and the bridge's
// figure against each of the other two (ratio of the medians, and the median of the ratios of
// each turn). tools/dispatch-latency.sh runs it.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "companions/tarvoapi/Protocol.h"
#include "tests/e2e/ProbeTime.h"

namespace {

constexpr UINT kMsgHandsetReport = 0x464;
constexpr UINT kMsgSendAttached = WM_APP + 1;
constexpr UINT kMsgEcho = WM_APP + 2;
constexpr UINT kMsgBare = WM_APP + 3;
constexpr std::uint32_t kEchoKind = 0x54560F01;  // the echo's WM_COPYDATA, a kind of no library
constexpr char kEchoClass[] = "TelioxDispatchEcho";
constexpr std::uint8_t kKeyClient = 0x1C;

using e2e::NowMs;

// What the window procedures saw; this thread only.
struct Seen {
  HWND library = nullptr;
  bool attached = false;  // the bridge's first queued command after the attach arrived
  double focus = 0;       // arrival of the last "FOCUS"
  double echo = 0;
  double bare = 0;
} seen;

LRESULT SendCopyData(HWND to, HWND from, std::uint32_t kind, const std::vector<std::uint8_t>& body) {
  COPYDATASTRUCT data{};
  data.dwData = kind;
  data.cbData = static_cast<DWORD>(body.size());
  data.lpData = const_cast<std::uint8_t*>(body.data());
  DWORD_PTR result = 0;
  SendMessageTimeoutA(to, WM_COPYDATA, reinterpret_cast<WPARAM>(from), reinterpret_cast<LPARAM>(&data),
                      SMTO_ABORTIFHUNG, 2000, &result);
  return static_cast<LRESULT>(result);
}

LRESULT CALLBACK ClientProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COPYDATA: {
      const double now = NowMs();
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (data->dwData == kEchoKind) {
        seen.echo = now;
        return 1;
      }
      const auto* bytes = static_cast<const std::uint8_t*>(data->lpData);
      const auto message = tarvoapi::DecodeLibraryMessage(static_cast<std::uint32_t>(data->dwData),
                                                          std::span<const std::uint8_t>(bytes, data->cbData));
      if (!message) return 0;
      if (message->kind == tarvoapi::kAttach) {
        seen.library = reinterpret_cast<HWND>(wParam);
        // Answered after this send has returned, as a client does.
        PostMessageA(window, kMsgSendAttached, 0, 0);
      } else if (message->kind == tarvoapi::kCommandDirect && message->text == "FOCUS") {
        seen.focus = now;
      } else if (message->kind == tarvoapi::kCommand) {
        seen.attached = true;
      }
      return 1;
    }
    case kMsgSendAttached: {
      tarvoapi::ClientMessage attached;
      attached.message = 0x478;
      SendCopyData(seen.library, window, tarvoapi::kNotify, tarvoapi::Encode(attached));
      return 0;
    }
    case kMsgBare:
      seen.bare = NowMs();
      return 0;
    default:
      return DefWindowProcA(window, msg, wParam, lParam);
  }
}

HWND echoReplyTo = nullptr;

LRESULT CALLBACK EchoProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kMsgEcho) {
    tarvoapi::LibraryMessage focus;
    focus.kind = tarvoapi::kCommandDirect;
    focus.text = "FOCUS";
    SendCopyData(echoReplyTo, window, kEchoKind, tarvoapi::Encode(focus));
    return 0;
  }
  if (msg == WM_CLOSE) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, msg, wParam, lParam);
}

int RunEcho(HWND replyTo) {
  echoReplyTo = replyTo;
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = EchoProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kEchoClass;
  RegisterClassA(&windowClass);
  if (!CreateWindowExA(0, kEchoClass, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, windowClass.hInstance,
                       nullptr)) {
    return 1;
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}

// Handles this thread's messages, sent ones included, until `done` or `timeoutMs` has passed.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
  const double end = NowMs() + timeoutMs;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (done()) return true;
    const double left = end - NowMs();
    if (left <= 0) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left) + 1, QS_ALLINPUT);
  }
}

void Pause(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

struct Started {
  HANDLE process = nullptr;
  DWORD id = 0;
};

Started Start(const std::string& path, const std::string& arguments) {
  const std::string folder = path.substr(0, path.find_last_of("\\/"));
  std::string commandLine = "\"" + path + "\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                      &info)) {
    return {};
  }
  CloseHandle(info.hThread);
  return {info.hProcess, info.dwProcessId};
}

struct MainSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK VisitMain(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<MainSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char windowClass[16] = {};
  GetClassNameA(window, windowClass, sizeof windowClass);
  if (owner == search->process && std::string(windowClass) == "#32770" && !GetWindow(window, GW_OWNER)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

struct Figures {
  double median, p10, p90, low, high;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

Figures Describe(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const auto at = [&](double q) {
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
  };
  return {Median(values), at(0.1), at(0.9), values.front(), values.back()};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--echo") {
    return RunEcho(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoull(argv[2], nullptr, 16))));
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: dispatch_latency_probe PRESSES TELIOX.exe\n");
    return 64;
  }
  const int presses = std::atoi(argv[1]);

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ClientProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = tarvoapi::kClientWindowClass;
  RegisterClassA(&windowClass);
  HWND client = CreateWindowExA(0, tarvoapi::kClientWindowClass, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  if (!client) return 2;

  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  char handle[32];
  std::snprintf(handle, sizeof handle, "%lx", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(client)));
  const Started echo = Start(self, std::string("--echo ") + handle);
  HWND echoWindow = nullptr;
  if (!echo.process || !PumpUntil([&] { return (echoWindow = FindWindowA(kEchoClass, nullptr)) != nullptr; }, 10000)) {
    std::fprintf(stderr, "the echo process did not start\n");
    return 2;
  }

  const Started teliox = Start(argv[2], "");
  if (!teliox.process) {
    std::fprintf(stderr, "cannot start %s\n", argv[2]);
    return 2;
  }
  MainSearch search{teliox.id, nullptr};
  const bool ready = PumpUntil(
      [&] {
        if (!search.found) EnumWindows(VisitMain, reinterpret_cast<LPARAM>(&search));
        return search.found && seen.attached;
      },
      30000);
  int status = 0;
  if (!ready) {
    std::fprintf(stderr, "Teliox.exe did not attach to the client\n");
    status = 3;
  } else {
    Pause(3000);  // the rest of the start-up: handshake, ring-tone upload, the client's devices
    std::vector<double> dispatch, echoed, bare;
    std::uint8_t sequence = 0x80;
    int dropped = 0;
    for (int turn = -5; turn < presses && status == 0; ++turn) {  // five turns to warm up
      // A report whose sequence byte equals the last one's is a repeat and dropped: try the next.
      double took = -1;
      for (int attempt = 0; attempt < 3 && took < 0; ++attempt) {
        const std::uint8_t bytes[7] = {0x00, kKeyClient, ++sequence, 0x42, 0, 0, 0};
        const WPARAM w = static_cast<WPARAM>(bytes[0] << 16 | bytes[1] << 8 | bytes[2]);
        const LPARAM l = static_cast<LPARAM>(static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[3]) << 24));
        seen.focus = 0;
        const double start = NowMs();
        PostMessageA(search.found, kMsgHandsetReport, w, l);
        if (PumpUntil([] { return seen.focus != 0; }, 1000)) {
          took = seen.focus - start;
        } else {
          ++dropped;
        }
      }
      if (took < 0) {
        std::fprintf(stderr, "the client key sent no FOCUS\n");
        status = 3;
        break;
      }
      Pause(20);
      seen.echo = 0;
      double start = NowMs();
      PostMessageA(echoWindow, kMsgEcho, 0, 0);
      if (!PumpUntil([] { return seen.echo != 0; }, 1000)) {
        std::fprintf(stderr, "no echo\n");
        status = 3;
        break;
      }
      const double echoTook = seen.echo - start;
      Pause(20);
      seen.bare = 0;
      start = NowMs();
      PostMessageA(client, kMsgBare, 0, 0);
      PumpUntil([] { return seen.bare != 0; }, 1000);
      const double bareTook = seen.bare - start;
      Pause(20);
      if (turn < 0) continue;
      dispatch.push_back(took);
      echoed.push_back(echoTook);
      bare.push_back(bareTook);
      std::printf("turn %3d  key %7.3f ms  echo %7.3f ms  bare %7.3f ms\n", turn + 1, took, echoTook, bareTook);
    }
    if (status == 0) {
      const auto show = [](const char* what, const std::vector<double>& values) {
        const Figures f = Describe(values);
        std::printf("%-6s median %.3f ms  p10 %.3f  p90 %.3f  best %.3f  worst %.3f\n", what, f.median, f.p10, f.p90,
                    f.low, f.high);
      };
      show("key", dispatch);
      show("echo", echoed);
      show("bare", bare);
      std::vector<double> toEcho, toBare;
      for (std::size_t i = 0; i < dispatch.size(); ++i) {
        toEcho.push_back(dispatch[i] / echoed[i]);
        toBare.push_back(dispatch[i] / bare[i]);
      }
      const Figures e = Describe(toEcho);
      const Figures b = Describe(toBare);
      std::printf("key / echo: %.2f (medians); per turn median %.2f, p10 %.2f, p90 %.2f\n",
                  Median(dispatch) / Median(echoed), e.median, e.p10, e.p90);
      std::printf("key / bare: %.1f (medians); per turn median %.1f, p10 %.1f, p90 %.1f\n",
                  Median(dispatch) / Median(bare), b.median, b.p10, b.p90);
      std::printf("presses %zu, reports taken for repeats and sent again %d\n", dispatch.size(), dropped);
    }
  }

  const UINT close = RegisterWindowMessageA("PX_CloseApplication");
  if (search.found) PostMessageA(search.found, close, 0xA0, 0);
  PostMessageA(echoWindow, WM_CLOSE, 0, 0);
  // The bridge detaches from the client on its way out: keep answering.
  PumpUntil([&] { return WaitForSingleObject(teliox.process, 0) == WAIT_OBJECT_0; }, 15000);
  if (WaitForSingleObject(teliox.process, 0) != WAIT_OBJECT_0) TerminateProcess(teliox.process, 1);
  if (WaitForSingleObject(echo.process, 5000) != WAIT_OBJECT_0) TerminateProcess(echo.process, 1);
  CloseHandle(teliox.process);
  CloseHandle(echo.process);
  return status;
}
