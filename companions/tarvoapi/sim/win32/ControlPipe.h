// Both ends of the simulator's control pipe (SimControl.h has the line protocol): the server in
// the simulator, the client in scripts and tests. Overlapped I/O throughout, since a pipe handle
// opened for synchronous I/O lets a waiting read hold up every write on it.
#pragma once

#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace softphone_sim {

// The pipe's name: `name` when given, else the environment's, else the default.
std::string PipeName(const std::string& name);

class PipeServer {
 public:
  using Handler = std::function<std::string(const std::string& line)>;

  PipeServer() = default;
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Serves `name` from now on; each listener gets `hello` first, then the events, and each of
  // its lines goes to `handler`, whose answer it gets back. False when the pipe cannot be made
  // (another simulator serves that name).
  bool Start(const std::string& name, std::string hello, Handler handler);
  // To every listener; a listener that has fallen kMaxBacklog lines behind is dropped.
  void Broadcast(const std::string& line);

  static constexpr std::size_t kMaxBacklog = 10000;

 private:
  struct Connection;
  HANDLE MakeInstance(bool first);
  void Accept(HANDLE first);
  void Serve(const std::shared_ptr<Connection>& connection);

  std::string name_;
  std::string hello_;
  Handler handler_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<Connection>> connections_;
};

class ControlClient {
 public:
  ControlClient() = default;
  ~ControlClient();
  ControlClient(const ControlClient&) = delete;
  ControlClient& operator=(const ControlClient&) = delete;

  // Waits up to `timeoutMs` for the simulator's pipe; true once "hello" has arrived.
  bool Connect(const std::string& name, std::uint32_t timeoutMs);
  // Sends a control command and returns its answer; nullopt when none came in time.
  std::optional<std::string> Command(const std::string& line, std::uint32_t timeoutMs = 5000);
  // The first event after the previous match (or the start) that matches `pattern`.
  std::optional<std::string> Wait(const std::string& pattern, std::uint32_t timeoutMs);
  // Every event line that arrives in the next `ms`, then those not yet seen by Monitor.
  std::vector<std::string> Monitor(std::uint32_t ms);
  // All lines so far, events and answers.
  std::vector<std::string> Lines() const;
  void Close();

 private:
  void Read();

  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE stop_ = nullptr;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool broken_ = false;
  std::size_t repliesTaken_ = 0;
  std::size_t waitFrom_ = 0;
  std::size_t monitorFrom_ = 0;
};

}  // namespace softphone_sim
