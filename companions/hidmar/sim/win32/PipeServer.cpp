#include "companions/hidmar/sim/win32/PipeServer.h"

namespace hidmar_sim {

PipeServer::PipeServer(SimHandset& handset, std::string name) : handset_(handset), name_(std::move(name)) {}

HANDLE PipeServer::NewInstance(bool first) {
  // The first instance claims the name: a second program with the sim library must not take
  // over the simulators of the first.
  const DWORD open = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  return CreateNamedPipeA(name_.c_str(), open, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                          PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
}

bool PipeServer::Start() {
  const HANDLE first = NewInstance(true);
  if (first == INVALID_HANDLE_VALUE) return false;
  thread_ = std::thread([this, first] { Serve(first); });
  thread_.detach();  // lives with the process
  return true;
}

void PipeServer::Serve(HANDLE first) {
  win32::UniqueHandle connected(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  win32::UniqueHandle pipe(first);
  for (;;) {
    if (!pipe) {
      pipe.reset(NewInstance(false));
      if (!pipe) {
        Sleep(1000);  // out of handles for the moment; try again later
        continue;
      }
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = connected.get();
    ResetEvent(connected.get());
    bool isConnected = false;
    if (ConnectNamedPipe(pipe.get(), &overlapped)) {
      isConnected = true;
    } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
      isConnected = true;  // the client came between CreateNamedPipe and ConnectNamedPipe
    } else if (GetLastError() == ERROR_IO_PENDING) {
      // Closed connections are cleaned up while we wait for the next one.
      while (WaitForSingleObject(connected.get(), 1000) == WAIT_TIMEOUT) ReapClosed();
      DWORD unused = 0;
      isConnected = GetOverlappedResult(pipe.get(), &overlapped, &unused, FALSE) != 0;
    }
    if (isConnected) {
      Accept(pipe.release());
    } else {
      pipe.reset();  // broken before it was ours; make a fresh one
    }
    ReapClosed();
  }
}

void PipeServer::Accept(HANDLE pipe) {
  auto channel = std::make_unique<PipeChannel>(
      pipe, [this](PipeChannel& self, std::string line) { self.Send(handset_.Execute(line)); }, nullptr);
  PipeChannel* sink = channel.get();
  // The hello and the state are queued before the channel starts, so they come first.
  const int subscription = handset_.Subscribe([sink](const std::string& line) { sink->Send(line); });
  channel->Start();
  std::lock_guard lock(mutex_);
  connections_.push_back({std::move(channel), subscription});
}

void PipeServer::ReapClosed() {
  std::list<Connection> closed;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (it->channel->Closed()) {
        handset_.Unsubscribe(it->subscription);
        closed.splice(closed.end(), connections_, it++);
      } else {
        ++it;
      }
    }
  }
  // Their threads have ended; destroying the channels joins and closes them outside our lock.
}

}  // namespace hidmar_sim
