#include "companions/tarvoapi/real/Win32LinkSystem.h"

#include "platform/ClientApi.h"

namespace tarvoapi {

namespace {

constexpr char kLinkClass[] = "TarvoAPIDLL.Link";
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT_PTR kPollTimer = 1;

struct Start {
  HMODULE module = nullptr;
  HANDLE ready = nullptr;
  HWND window = nullptr;
};

}  // namespace

Win32LinkSystem* Win32LinkSystem::instance_ = nullptr;

Win32LinkSystem::Win32LinkSystem() { instance_ = this; }

HMODULE Win32LinkSystem::PinModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&Win32LinkSystem::LinkProc), &module);
  return module;
}

bool Win32LinkSystem::EnsureThread() {
  std::lock_guard lock(threadMutex_);
  if (window_) return true;
  if (failed_) return false;
  Start start;
  start.module = PinModule();
  start.ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE thread = start.ready ? CreateThread(nullptr, 0, &Win32LinkSystem::ThreadMain, &start, 0, nullptr) : nullptr;
  if (thread) {
    // It only registers a class and makes a window before it signals, and `start` lives here.
    WaitForSingleObject(start.ready, INFINITE);
    CloseHandle(thread);
  }
  if (start.ready) CloseHandle(start.ready);
  window_ = start.window;
  failed_ = window_ == nullptr;
  return !failed_;
}

DWORD WINAPI Win32LinkSystem::ThreadMain(void* parameter) {
  auto* start = static_cast<Start*>(parameter);
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Win32LinkSystem::LinkProc;
  windowClass.hInstance = start->module;
  windowClass.lpszClassName = kLinkClass;
  RegisterClassExA(&windowClass);  // fails harmlessly when it exists already
  // Message-only: nobody finds it by enumerating; the client learns it from the attach request.
  HWND window = CreateWindowExA(0, kLinkClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, start->module, nullptr);
  start->window = window;
  SetEvent(start->ready);
  if (!window) return 1;
  SetTimer(window, kPollTimer, kPollMs, nullptr);
  // GetMessage answers -1 on an error, which Microsoft's documentation ties to a bad window handle
  // or MSG pointer, neither possible here, and asks callers to handle apart from 0. Wine answers
  // it once when it cannot unpack a message sent from another process (a WM_COPYDATA of a few
  // MiB) and drops that message: ending the loop then would end this thread, and with it the
  // library's every link to the client. Only WM_QUIT ends it; an error that repeats is waited out
  // rather than spun on.
  MSG msg;
  for (bool failed = false;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) break;
    if (got < 0) {
      if (failed) Sleep(kPollMs / 50);
      failed = true;
      continue;
    }
    failed = false;
    DispatchMessageA(&msg);
  }
  return 0;
}

LRESULT CALLBACK Win32LinkSystem::LinkProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  try {
    ClientLink& link = instance_->link_;
    switch (msg) {
      case WM_COPYDATA: {
        // Anyone may send this message and name any window as its sender; ClientLink decides
        // whom to listen to. Across processes the system has copied cbData bytes for us; a
        // length without data is refused before anything is read.
        const auto sender = static_cast<std::uintptr_t>(wParam);
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!data || (data->cbData > 0 && !data->lpData)) return link.Unreadable(sender);
        const std::span body(static_cast<const std::uint8_t*>(data->lpData), data->cbData);
        return link.FromClient(sender, static_cast<std::uint32_t>(data->dwData), body);
      }
      case kWakeMessage:
        link.Service();
        return 0;
      case WM_TIMER:
        if (wParam == kPollTimer) link.Poll();
        return 0;
      default:
        break;
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK Win32LinkSystem::BridgeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Win32LinkSystem& self = *instance_;
  Watched watched;
  {
    std::lock_guard lock(self.watchMutex_);
    const auto it = self.watched_.find(hwnd);
    if (it != self.watched_.end()) watched = it->second;
  }
  if (!watched.previous) return DefWindowProcW(hwnd, msg, wParam, lParam);
  const LRESULT result = watched.unicode ? CallWindowProcW(watched.previous, hwnd, msg, wParam, lParam)
                                         : CallWindowProcA(watched.previous, hwnd, msg, wParam, lParam);
  try {
    // The window has handled the notification: its payload may go.
    if (msg >= platform::kClientStatusText && msg <= platform::kClientVoicemailList) {
      self.link_.Handled(msg, static_cast<std::uintptr_t>(wParam));
    }
    if (msg == WM_NCDESTROY) {
      self.link_.BridgeWindowGone(reinterpret_cast<std::uintptr_t>(hwnd));
      std::lock_guard lock(self.watchMutex_);
      self.watched_.erase(hwnd);
    }
  } catch (...) {
  }
  return result;
}

std::uintptr_t Win32LinkSystem::FindClient() {
  return reinterpret_cast<std::uintptr_t>(FindWindowA(kClientWindowClass, nullptr));
}

bool Win32LinkSystem::IsClientWindow(std::uintptr_t window) {
  const HWND hwnd = reinterpret_cast<HWND>(window);
  if (!IsWindow(hwnd)) return false;
  // Class names compare without case, as FindWindowA matches them.
  char name[64] = {};
  return GetClassNameA(hwnd, name, sizeof name) > 0 && lstrcmpiA(name, kClientWindowClass) == 0;
}

std::optional<std::intptr_t> Win32LinkSystem::SendToClient(std::uintptr_t client, std::uint32_t kind,
                                                           std::span<const std::uint8_t> body,
                                                           std::uint32_t timeoutMs) {
  if (!EnsureThread()) return std::nullopt;
  COPYDATASTRUCT data{};
  data.dwData = kind;
  data.cbData = static_cast<DWORD>(body.size());
  data.lpData = const_cast<std::uint8_t*>(body.data());
  DWORD_PTR answer = 0;
  // The link window is who sends: the client answers to it.
  if (!SendMessageTimeoutA(reinterpret_cast<HWND>(client), WM_COPYDATA, reinterpret_cast<WPARAM>(window_),
                           reinterpret_cast<LPARAM>(&data), SMTO_NORMAL | SMTO_ABORTIFHUNG, timeoutMs, &answer)) {
    return std::nullopt;
  }
  return static_cast<std::intptr_t>(answer);
}

bool Win32LinkSystem::PostToBridge(std::uintptr_t window, std::uint32_t msg, std::uintptr_t wParam,
                                   std::intptr_t lParam) {
  return PostMessageA(reinterpret_cast<HWND>(window), msg, wParam, lParam) != 0;
}

void Win32LinkSystem::Wake() {
  if (EnsureThread()) PostMessageA(window_, kWakeMessage, 0, 0);
}

std::uint32_t Win32LinkSystem::ProcessId() { return GetCurrentProcessId(); }

bool Win32LinkSystem::WatchBridgeWindow(std::uintptr_t window) {
  const HWND hwnd = reinterpret_cast<HWND>(window);
  DWORD process = 0;
  // Pointers in posted messages mean something only to a window of this process.
  if (!GetWindowThreadProcessId(hwnd, &process) || process != GetCurrentProcessId()) return false;
  PinModule();
  std::lock_guard lock(watchMutex_);
  if (watched_.contains(hwnd)) return true;
  // A window keeps its character set only when its procedure is set by the matching function.
  Watched watched;
  watched.unicode = IsWindowUnicode(hwnd) != 0;
  // Held across the change, so a message that reaches BridgeProc at once finds the old procedure.
  const LONG_PTR previous =
      watched.unicode ? SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32LinkSystem::BridgeProc))
                      : SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32LinkSystem::BridgeProc));
  if (!previous) return false;
  watched.previous = reinterpret_cast<WNDPROC>(previous);
  watched_[hwnd] = watched;
  return true;
}

}  // namespace tarvoapi
