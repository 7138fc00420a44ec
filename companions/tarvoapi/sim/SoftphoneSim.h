// The softphone simulator's behaviour, apart from its window and pipe: the client model
// (sim::SoftphoneModel) behind the client side of the library's protocol, and the control
// commands that a person (the buttons) or a script (the control pipe) gives it.
//
// The model executes what a library sends (attach, commands, hold, voicemail and contact
// requests) and its notifications leave through LibraryOutbox as the protocol's messages to the
// attached library's window. One library at a time: a second one that attaches takes over, and
// the first is told 0x480.
//
// Events, one line each, for the window's log and the pipe's listeners ("<kind> <ms> <text>"):
//   cmd <ms> <text>        a queued command the library sent (cmd! for a direct one)
//   api <ms> <call>        another request (Initialize, Connect2Tarvo, MinimizeTarvo ...)
//   note <ms> <hex> <...>  a notification sent to the library, e.g.
//                          "note 1200 047F id=1 status=ROUTING conference=0 kind=1 dir=out partner=bob"
//   lib <ms> <what>        attach <window> pid=<n>, detach, detached by the user, gone <window>,
//                          replaced <window>
//
// Thread safety: every member may be called from any thread; the event listener is called on
// the thread of the change and must not block or call back.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "companions/tarvoapi/Protocol.h"
#include "sim/Scheduler.h"
#include "sim/SoftphoneModel.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/WindowPoster.h"

namespace softphone_sim {

// Where messages to the library go. Called on the scheduler's thread: must not block.
class LibraryOutbox {
 public:
  virtual ~LibraryOutbox() = default;
  virtual void Send(std::uintptr_t library, std::uint32_t kind, std::vector<std::uint8_t> body) = 0;
};

class SoftphoneSim final : private sim::WindowPoster {
 public:
  using Model = sim::SoftphoneModel;

  struct View {
    bool running = false;
    bool attached = false;
    bool muted = false;
    bool messageWindow = false;
    std::uintptr_t library = 0;
    std::uint32_t libraryProcess = 0;
    Model::AttachAnswer answer = Model::AttachAnswer::Accept;
    Model::MainWindow window = Model::MainWindow::Absent;
    std::string presence;
    std::string audioIn;
    std::string audioOut;
    std::optional<std::string> recentHandle;
    std::vector<Model::Call> calls;
    std::size_t voicemails = 0;
    std::vector<Model::Voicemail> voicemailList;  // with the statuses playback gave them
  };

  SoftphoneSim(sim::VirtualClock& clock, sim::Scheduler& scheduler, sim::Transcript& transcript, LibraryOutbox& outbox,
               Model::Options options = {});
  ~SoftphoneSim() override;
  SoftphoneSim(const SoftphoneSim&) = delete;
  SoftphoneSim& operator=(const SoftphoneSim&) = delete;

  // A message from a library's window (wParam of its WM_COPYDATA); returns the answer.
  std::intptr_t FromLibrary(std::uintptr_t library, std::uint32_t kind, std::span<const std::uint8_t> body);
  // The library's window could not be reached any more.
  void LibraryGone(std::uintptr_t library);

  // One control command; answers "ok[ <value>]" or "error <reason>". ControlHelp lists them.
  std::string Control(std::string_view line);
  static const char* ControlHelp();

  View Snapshot() const;
  void SetEventListener(std::function<void(const std::string&)> listener);
  // Brings the clock up to the real instant (RealTimePacer::CatchUp): the pacer lets time stand
  // at rest, so every call from outside runs it first and its times and delays count from now.
  // Set before any other call.
  void SetCatchUp(std::function<void()> catchUp) { catchUp_ = std::move(catchUp); }

  // The main window's state as the user changes it (activating or leaving the window).
  void SetMainWindow(Model::MainWindow state) {
    CatchUp();
    model_.SetMainWindow(state);
  }
  void SetMainWindowListener(std::function<void(Model::MainWindow)> listener) {
    model_.SetMainWindowListener(std::move(listener));
  }

 private:
  bool PostTo(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
              std::shared_ptr<const void> keepAlive) override;
  void Emit(std::string_view kind, std::string_view text);
  // Never under mutex_: what falls due on the way may take it.
  void CatchUp() {
    if (catchUp_) catchUp_();
  }
  std::vector<tarvoapi::CallInfo> CallsLocked();
  bool IncomingLocked(int id, std::string_view status);
  std::string ControlLocked(const std::vector<std::string_view>& words, std::string_view line);
  std::string SetCallStatusLocked(int id, std::string_view status, std::optional<std::int32_t> conference,
                                  std::optional<std::string> partner);
  std::string StateLocked();
  void SyncVoicemailsLocked();

  sim::VirtualClock& clock_;
  sim::Transcript& transcript_;
  LibraryOutbox& outbox_;
  Model model_;

  std::function<void()> catchUp_;
  std::mutex listenerMutex_;
  std::function<void(const std::string&)> listener_;

  // Held across model calls that must agree with what this object remembers; the model's own
  // lock comes after it, never before.
  mutable std::mutex mutex_;
  std::uintptr_t library_ = 0;
  std::uint32_t libraryProcess_ = 0;
  Model::AttachAnswer answer_ = Model::AttachAnswer::Accept;
  std::optional<std::string> recentHandle_;
  std::map<int, bool> incoming_;  // direction of the calls seen so far
  int nextId_ = 1;
  std::vector<Model::Voicemail> voicemails_;
  std::optional<std::intptr_t> voicemailCount_;
  // The number of entries in each voicemail list the model is about to post (its array holds
  // exactly the list it had when asked), oldest first.
  std::deque<std::size_t> voicemailLists_;
};

}  // namespace softphone_sim
