#include "companions/tarvoapi/sim/win32/ControlPipe.h"

#include <chrono>

#include "companions/tarvoapi/sim/SimControl.h"

namespace softphone_sim {

namespace {

constexpr DWORD kBufferSize = 4096;

// An event handle owned for one scope.
class Event {
 public:
  Event() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() {
    if (handle_) CloseHandle(handle_);
  }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

bool WriteAll(HANDLE pipe, const std::string& data) {
  Event event;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  if (!WriteFile(pipe, data.data(), static_cast<DWORD>(data.size()), nullptr, &overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  DWORD written = 0;
  return GetOverlappedResult(pipe, &overlapped, &written, TRUE) && written == data.size();
}

// Reads what is there (waiting for at least a byte); false once the pipe broke or `stop` is set.
bool ReadSome(HANDLE pipe, HANDLE stop, char* buffer, DWORD& got) {
  Event event;
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  got = 0;
  if (!ReadFile(pipe, buffer, kBufferSize, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) return false;
  const HANDLE handles[2] = {event.get(), stop};
  if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
    CancelIoEx(pipe, &overlapped);
    GetOverlappedResult(pipe, &overlapped, &got, TRUE);
    return false;
  }
  return GetOverlappedResult(pipe, &overlapped, &got, FALSE) && got > 0;
}

std::chrono::steady_clock::time_point Deadline(std::uint32_t ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace

std::string PipeName(const std::string& name) {
  if (!name.empty()) return name;
  char value[512];
  const DWORD length = GetEnvironmentVariableA(kPipeVariable, value, sizeof value);
  if (length > 0 && length < sizeof value) return std::string(value, length);
  return kDefaultPipeName;
}

// --- server -------------------------------------------------------------------------------------

struct PipeServer::Connection {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  HANDLE stop = nullptr;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::string> out;
  bool closed = false;

  void Close() {
    std::lock_guard lock(mutex);
    closed = true;
    SetEvent(stop);
    wake.notify_all();
  }
};

HANDLE PipeServer::MakeInstance(bool first) {
  return CreateNamedPipeA(
      name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, kBufferSize, kBufferSize, 0, nullptr);
}

bool PipeServer::Start(const std::string& name, std::string hello, Handler handler) {
  name_ = name;
  hello_ = std::move(hello);
  handler_ = std::move(handler);
  const HANDLE first = MakeInstance(true);
  if (first == INVALID_HANDLE_VALUE) return false;
  // Runs for the life of the program.
  std::thread([this, first] { Accept(first); }).detach();
  return true;
}

void PipeServer::Accept(HANDLE first) {
  HANDLE next = first;
  for (;;) {
    const HANDLE pipe = next != INVALID_HANDLE_VALUE ? next : MakeInstance(false);
    next = INVALID_HANDLE_VALUE;
    if (pipe == INVALID_HANDLE_VALUE) {
      Sleep(100);
      continue;
    }
    Event event;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    bool connected = ConnectNamedPipe(pipe, &overlapped) != 0;
    if (!connected) {
      const DWORD error = GetLastError();
      DWORD ignored = 0;
      connected = error == ERROR_PIPE_CONNECTED ||
                  (error == ERROR_IO_PENDING && GetOverlappedResult(pipe, &overlapped, &ignored, TRUE));
    }
    if (!connected) {
      CloseHandle(pipe);
      continue;
    }
    auto connection = std::make_shared<Connection>();
    connection->pipe = pipe;
    connection->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    connection->out.push_back(hello_);
    {
      std::lock_guard lock(mutex_);
      connections_.push_back(connection);
    }
    std::thread([this, connection] { Serve(connection); }).detach();
  }
}

void PipeServer::Serve(const std::shared_ptr<Connection>& connection) {
  std::thread writer([connection] {
    for (;;) {
      std::string batch;
      {
        std::unique_lock lock(connection->mutex);
        connection->wake.wait(lock, [&] { return connection->closed || !connection->out.empty(); });
        if (connection->closed) return;
        while (!connection->out.empty()) {
          batch += connection->out.front();
          batch += '\n';
          connection->out.pop_front();
        }
      }
      if (!WriteAll(connection->pipe, batch)) {
        connection->Close();
        return;
      }
    }
  });
  LineSplitter splitter;
  char buffer[kBufferSize];
  DWORD got = 0;
  while (ReadSome(connection->pipe, connection->stop, buffer, got)) {
    for (const auto& line : splitter.Feed(std::string_view(buffer, got))) {
      const std::string answer = handler_(line);
      std::lock_guard lock(connection->mutex);
      connection->out.push_back(answer);
      connection->wake.notify_all();
    }
  }
  connection->Close();
  writer.join();
  {
    std::lock_guard lock(mutex_);
    std::erase(connections_, connection);
  }
  DisconnectNamedPipe(connection->pipe);
  CloseHandle(connection->pipe);
  CloseHandle(connection->stop);
}

void PipeServer::Broadcast(const std::string& line) {
  std::lock_guard lock(mutex_);
  for (const auto& connection : connections_) {
    std::lock_guard own(connection->mutex);
    if (connection->closed) continue;
    if (connection->out.size() >= kMaxBacklog) {
      // A listener that stopped reading must not hold up the simulator.
      connection->closed = true;
      SetEvent(connection->stop);
    } else {
      connection->out.push_back(line);
    }
    connection->wake.notify_all();
  }
}

// --- client -------------------------------------------------------------------------------------

ControlClient::~ControlClient() { Close(); }

bool ControlClient::Connect(const std::string& name, std::uint32_t timeoutMs) {
  Close();
  const auto deadline = Deadline(timeoutMs);
  for (;;) {
    pipe_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                        nullptr);
    if (pipe_ != INVALID_HANDLE_VALUE) break;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (GetLastError() == ERROR_PIPE_BUSY) {
      WaitNamedPipeA(name.c_str(), 100);
    } else {
      Sleep(50);
    }
  }
  {
    std::lock_guard lock(mutex_);
    lines_.clear();
    broken_ = false;
    repliesTaken_ = waitFrom_ = monitorFrom_ = 0;
  }
  stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  reader_ = std::thread([this] { Read(); });
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, deadline, [this] { return broken_ || !lines_.empty(); });
  if (lines_.empty() || !lines_.front().starts_with("hello softphone-sim")) return false;
  waitFrom_ = monitorFrom_ = 1;
  return true;
}

void ControlClient::Read() {
  LineSplitter splitter;
  char buffer[kBufferSize];
  DWORD got = 0;
  while (ReadSome(pipe_, stop_, buffer, got)) {
    auto lines = splitter.Feed(std::string_view(buffer, got));
    std::lock_guard lock(mutex_);
    for (auto& line : lines) lines_.push_back(std::move(line));
    changed_.notify_all();
  }
  std::lock_guard lock(mutex_);
  broken_ = true;
  changed_.notify_all();
}

std::optional<std::string> ControlClient::Command(const std::string& line, std::uint32_t timeoutMs) {
  if (pipe_ == INVALID_HANDLE_VALUE || !WriteAll(pipe_, line + "\n")) return std::nullopt;
  std::unique_lock lock(mutex_);
  std::optional<std::string> answer;
  const auto found = [&] {
    std::size_t seen = 0;
    for (const auto& received : lines_) {
      if (!IsReply(received)) continue;
      if (seen++ == repliesTaken_) {
        answer = received;
        return true;
      }
    }
    return broken_;
  };
  changed_.wait_until(lock, Deadline(timeoutMs), found);
  if (answer) ++repliesTaken_;
  return answer;
}

std::optional<std::string> ControlClient::Wait(const std::string& pattern, std::uint32_t timeoutMs) {
  std::unique_lock lock(mutex_);
  std::optional<std::string> match;
  const auto found = [&] {
    for (std::size_t i = waitFrom_; i < lines_.size(); ++i) {
      if (Matches(pattern, lines_[i])) {
        match = lines_[i];
        waitFrom_ = i + 1;
        return true;
      }
    }
    return broken_;
  };
  changed_.wait_until(lock, Deadline(timeoutMs), found);
  return match;
}

std::vector<std::string> ControlClient::Monitor(std::uint32_t ms) {
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, Deadline(ms), [this] { return broken_; });
  std::vector<std::string> events;
  for (std::size_t i = monitorFrom_; i < lines_.size(); ++i) {
    if (!IsReply(lines_[i])) events.push_back(lines_[i]);
  }
  monitorFrom_ = lines_.size();
  return events;
}

std::vector<std::string> ControlClient::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

void ControlClient::Close() {
  if (stop_) SetEvent(stop_);
  if (reader_.joinable()) reader_.join();
  if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
  if (stop_) CloseHandle(stop_);
  pipe_ = INVALID_HANDLE_VALUE;
  stop_ = nullptr;
}

}  // namespace softphone_sim
