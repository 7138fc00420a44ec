// One end of a connected named pipe carrying protocol lines, in both directions at once: a
// thread of its own reads and writes with overlapped I/O (a synchronous handle would make a
// write wait behind the read that is always pending).
#pragma once

#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/win32/Handles.h"

namespace hidmar_sim {

class PipeChannel {
 public:
  // Called on the channel's thread: each received line, and once when the pipe closes (the
  // other end went, a read or write failed, or too much was left unsent).
  using LineHandler = std::function<void(PipeChannel& channel, std::string line)>;
  using ClosedHandler = std::function<void()>;

  // `pipe`: connected, opened with FILE_FLAG_OVERLAPPED; the channel owns it. Nothing moves
  // until Start, so lines sent before it go out first.
  PipeChannel(HANDLE pipe, LineHandler onLine, ClosedHandler onClosed);
  void Start();
  // Stops the thread and closes the pipe; the handlers are not called any more.
  ~PipeChannel();
  PipeChannel(const PipeChannel&) = delete;
  PipeChannel& operator=(const PipeChannel&) = delete;

  // Queues one line (the LF is added). Never blocks; dropped once the channel has closed.
  void Send(std::string line);
  bool Closed() const;

  // A client's end: waits up to `timeoutMs` for the server to offer an instance.
  static win32::UniqueHandle Connect(const std::string& name, DWORD timeoutMs);

 private:
  void Run();

  win32::UniqueHandle pipe_;
  win32::UniqueHandle stop_;
  win32::UniqueHandle queued_;
  LineHandler onLine_;
  ClosedHandler onClosed_;
  mutable std::mutex mutex_;
  std::deque<std::string> outbox_;
  std::size_t outboxBytes_ = 0;
  bool closed_ = false;
  std::thread thread_;
};

// The pipe name the library serves and the simulator looks for: `name` if given, else the
// environment's, else the default.
std::string PipeName(const std::string& name = {});

}  // namespace hidmar_sim
