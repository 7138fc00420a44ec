// The library's operating system: the link thread with its hidden message-only window (it
// receives the client's WM_COPYDATA, runs the queue on a wake-up message and looks after the
// client on a timer), WM_COPYDATA sends to the client's window, posts to the bridge's window,
// and the wrapper around the bridge window's procedure that tells the library when a
// notification has been handled.
//
// The thread starts with the first export that needs it and runs for the life of the process;
// the library pins itself in memory then, since the thread and the wrapped window procedure run
// its code until the process ends.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>

#include "companions/tarvoapi/real/ClientLink.h"

namespace tarvoapi {

class Win32LinkSystem final : public LinkSystem {
 public:
  // One per process (the window procedures find it through a static).
  Win32LinkSystem();
  Win32LinkSystem(const Win32LinkSystem&) = delete;
  Win32LinkSystem& operator=(const Win32LinkSystem&) = delete;

  ClientLink& Link() { return link_; }
  // Starts the link thread if it is not running; false when it could not be started.
  bool EnsureThread();

  std::uintptr_t FindClient() override;
  bool IsClientWindow(std::uintptr_t window) override;
  std::optional<std::intptr_t> SendToClient(std::uintptr_t client, std::uint32_t kind,
                                            std::span<const std::uint8_t> body, std::uint32_t timeoutMs) override;
  bool PostToBridge(std::uintptr_t window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override;
  void Wake() override;
  std::uint32_t ProcessId() override;
  bool WatchBridgeWindow(std::uintptr_t window) override;

 private:
  struct Watched {
    WNDPROC previous = nullptr;
    bool unicode = false;
  };

  static DWORD WINAPI ThreadMain(void* parameter);
  static LRESULT CALLBACK LinkProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK BridgeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  HMODULE PinModule();

  static Win32LinkSystem* instance_;
  ClientLink link_{*this};

  std::mutex threadMutex_;  // starting the thread
  HWND window_ = nullptr;   // written once, under threadMutex_, before anyone can use it
  bool failed_ = false;

  std::mutex watchMutex_;
  std::map<HWND, Watched> watched_;
};

}  // namespace tarvoapi
