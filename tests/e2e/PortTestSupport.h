// Shared by the port tests: the test program's folder, unique names (CTest runs test programs
// side by side), pumping this thread's messages, and a started peer program.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "platform/win32/Handles.h"
#include "tests/e2e/PeerProtocol.h"

namespace e2e {

inline std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  const std::size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

inline std::string PeerPath() { return ProgramFolder() + "\\" + kPeerExe; }

inline std::string UniqueName(const char* prefix) {
  static int counter = 0;
  return std::string(prefix) + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

// Dispatches this thread's messages until `done` answers true or `timeoutMs` passes.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

inline HWND WaitForWindow(const char* title, DWORD timeoutMs = 5000) {
  HWND found = nullptr;
  PumpUntil([&] { return (found = FindWindowA(kPeerClass, title)) != nullptr; }, timeoutMs);
  return found;
}

// The peer started with command-line arguments (the port's StartProcess passes none). Ends it
// on destruction: WM_CLOSE to its window, then, if it lingers, TerminateProcess.
class PeerProcess {
 public:
  explicit PeerProcess(const std::string& arguments) {
    std::string commandLine = "\"";
    commandLine.append(PeerPath()).append("\" ").append(arguments);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
      return;
    win32::UniqueHandle(info.hThread).reset();
    process_.reset(info.hProcess);
  }

  ~PeerProcess() {
    if (!process_) return;
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process_.get(), 5000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
  }

  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool Started() const { return process_.valid(); }

  HWND Window(const char* title) {
    if (!window_ && process_) window_ = WaitForWindow(title);
    return window_;
  }

  // The exit code once the peer has ended; -1 when it is still running after `timeoutMs`.
  int ExitCode(DWORD timeoutMs = 5000) {
    if (!process_ || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return static_cast<int>(code);
  }

 private:
  win32::UniqueHandle process_;
  HWND window_ = nullptr;
};

}  // namespace e2e
