// The simulator's side of the transport: messages to the library leave in order from a sender
// thread of their own (WM_COPYDATA is a send, and the scheduler that produces them must never
// wait on another process), and a library window that cannot be reached any more is reported
// to the simulator.
#pragma once

#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "companions/tarvoapi/sim/SoftphoneSim.h"

namespace softphone_sim {

class LibraryLink final : public LibraryOutbox {
 public:
  static constexpr DWORD kSendTimeoutMs = 2000;

  LibraryLink() = default;
  LibraryLink(const LibraryLink&) = delete;
  LibraryLink& operator=(const LibraryLink&) = delete;

  // `self` is the client's main window (the messages' sender); runs for the life of the program.
  void Start(HWND self, SoftphoneSim& sim);
  void Send(std::uintptr_t library, std::uint32_t kind, std::vector<std::uint8_t> body) override;
  // Waits until everything queued has been sent; false after `timeoutMs`.
  bool Drain(DWORD timeoutMs);

 private:
  struct Outgoing {
    std::uintptr_t library;
    std::uint32_t kind;
    std::vector<std::uint8_t> body;
  };
  void Run();

  HWND self_ = nullptr;
  SoftphoneSim* sim_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Outgoing> queue_;
  bool sending_ = false;
};

}  // namespace softphone_sim
