#include "companions/hidmar/sim/win32/PipeChannel.h"

#include <cstdlib>

#include "companions/hidmar/sim/SimProtocol.h"

namespace hidmar_sim {

namespace {

// A reader that stopped reading (a hung simulator window) must not make us hold every event
// for ever: past this much unsent text the connection is dropped.
constexpr std::size_t kMaxUnsentBytes = 1 << 20;

}  // namespace

std::string PipeName(const std::string& name) {
  if (!name.empty()) return name;
  char value[256];
  const DWORD length = GetEnvironmentVariableA(kPipeVariable, value, sizeof value);
  if (length > 0 && length < sizeof value) return value;
  return kDefaultPipeName;
}

PipeChannel::PipeChannel(HANDLE pipe, LineHandler onLine, ClosedHandler onClosed)
    : pipe_(pipe),
      stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      queued_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      onLine_(std::move(onLine)),
      onClosed_(std::move(onClosed)) {}

void PipeChannel::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

PipeChannel::~PipeChannel() {
  SetEvent(stop_.get());
  if (thread_.joinable()) thread_.join();
}

void PipeChannel::Send(std::string line) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    line += '\n';
    outboxBytes_ += line.size();
    outbox_.push_back(std::move(line));
  }
  SetEvent(queued_.get());
}

bool PipeChannel::Closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

win32::UniqueHandle PipeChannel::Connect(const std::string& name, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    win32::UniqueHandle pipe(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_OVERLAPPED, nullptr));
    if (pipe) return pipe;
    const DWORD error = GetLastError();
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return {};
    const DWORD left = static_cast<DWORD>(deadline - now);
    if (error == ERROR_PIPE_BUSY) {
      // Every instance is taken for the moment; the server makes another.
      WaitNamedPipeA(name.c_str(), left < 200 ? left : 200);
    } else {
      // Not served (yet): the library starts with the program's first call.
      Sleep(left < 100 ? left : 100);
    }
  }
}

void PipeChannel::Run() {
  // One read is always pending; at most one write is. Both are waited for together, so two
  // channels writing to each other never wait on each other's full buffers.
  win32::UniqueHandle readDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  win32::UniqueHandle writeDone(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED read{};
  OVERLAPPED write{};
  char buffer[1024];
  std::string writing;  // the text of the pending write
  LineBuffer lines;
  bool reading = false;
  for (;;) {
    if (!reading) {
      read = OVERLAPPED{};
      read.hEvent = readDone.get();
      ResetEvent(readDone.get());
      // Completion is signalled on the event either way, also when the call finishes at once.
      if (!ReadFile(pipe_.get(), buffer, sizeof buffer, nullptr, &read) && GetLastError() != ERROR_IO_PENDING) break;
      reading = true;
    }
    if (writing.empty()) {
      std::lock_guard lock(mutex_);
      if (outboxBytes_ > kMaxUnsentBytes) break;
      // Everything queued goes in one write.
      for (const auto& line : outbox_) writing += line;
      outbox_.clear();
      outboxBytes_ = 0;
    }
    if (!writing.empty() && write.hEvent == nullptr) {
      write = OVERLAPPED{};
      write.hEvent = writeDone.get();
      ResetEvent(writeDone.get());
      if (!WriteFile(pipe_.get(), writing.data(), static_cast<DWORD>(writing.size()), nullptr, &write) &&
          GetLastError() != ERROR_IO_PENDING) {
        write.hEvent = nullptr;
        break;
      }
    }
    // While a write is pending, new lines wait in the outbox: the queued event is not watched.
    const HANDLE waits[] = {stop_.get(), readDone.get(), write.hEvent ? writeDone.get() : queued_.get()};
    const DWORD which = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0 + 1) {
      DWORD got = 0;
      reading = false;
      if (!GetOverlappedResult(pipe_.get(), &read, &got, FALSE)) break;
      for (auto& line : lines.Feed(std::string_view(buffer, got))) onLine_(*this, std::move(line));
    } else if (which == WAIT_OBJECT_0 + 2) {
      if (write.hEvent != nullptr) {
        DWORD put = 0;
        const BOOL done = GetOverlappedResult(pipe_.get(), &write, &put, FALSE);
        write.hEvent = nullptr;
        if (!done || put != writing.size()) break;
        writing.clear();
      }
      // else: lines were queued; the top of the loop takes them.
    } else {
      break;  // stop, or a wait that failed
    }
  }
  if (reading || write.hEvent != nullptr) {
    // Buffers and OVERLAPPEDs must stay until the operations have really ended.
    CancelIo(pipe_.get());
    DWORD count = 0;
    if (reading) GetOverlappedResult(pipe_.get(), &read, &count, TRUE);
    if (write.hEvent != nullptr) GetOverlappedResult(pipe_.get(), &write, &count, TRUE);
  }
  const bool stopped = WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    outbox_.clear();
  }
  if (!stopped && onClosed_) onClosed_();
}

}  // namespace hidmar_sim
