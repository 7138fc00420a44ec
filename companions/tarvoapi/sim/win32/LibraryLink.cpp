#include "companions/tarvoapi/sim/win32/LibraryLink.h"

#include <chrono>

namespace softphone_sim {

void LibraryLink::Start(HWND self, SoftphoneSim& sim) {
  self_ = self;
  sim_ = &sim;
  std::thread([this] { Run(); }).detach();
}

void LibraryLink::Send(std::uintptr_t library, std::uint32_t kind, std::vector<std::uint8_t> body) {
  std::lock_guard lock(mutex_);
  queue_.push_back(Outgoing{library, kind, std::move(body)});
  changed_.notify_all();
}

bool LibraryLink::Drain(DWORD timeoutMs) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return queue_.empty() && !sending_; });
}

void LibraryLink::Run() {
  for (;;) {
    Outgoing message;
    {
      std::unique_lock lock(mutex_);
      sending_ = false;
      changed_.notify_all();
      changed_.wait(lock, [this] { return !queue_.empty(); });
      message = std::move(queue_.front());
      queue_.pop_front();
      sending_ = true;
    }
    const HWND library = reinterpret_cast<HWND>(message.library);
    COPYDATASTRUCT data{};
    data.dwData = message.kind;
    data.cbData = static_cast<DWORD>(message.body.size());
    data.lpData = message.body.data();
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(library, WM_COPYDATA, reinterpret_cast<WPARAM>(self_), reinterpret_cast<LPARAM>(&data),
                             SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, &answer) &&
        !IsWindow(library)) {
      sim_->LibraryGone(message.library);
    }
  }
}

}  // namespace softphone_sim
