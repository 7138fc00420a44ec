// The Tarvo client as the bridge sees it through its client library: attach answers, calls,
// presence, mute, audio devices, the recent call handle, a message window, the main window's state
// and voicemails. It executes the bridge's command texts and posts the library's notifications to
// the window given to Initialize.
//
// Choices made where the library's own documentation is silent:
// - The client starts running, accepting attaches, main window in the background, microphone on.
// - Connect2Tarvo: running and accepting -> 0x478; pending authorisation -> 0x479 (a later
//   SetAttachAnswer(Accept) attaches with 0x478, Refuse answers 0x47A); refused -> 0x47A and the
//   request is dropped; client not running -> 0x47B and the request stays, so a later Start
//   attaches. Start also announces 0x47C first. Stop while attached -> 0x480 (while pending:
//   0x47B); the request stays, so the client's restart attaches again. Connect2Tarvo while attached
//   repeats 0x478.
// - Disconnect2Tarvo drops the request and, if attached, posts 0x480 like any other detach.
// - Commands and the calls that talk to the client (SetCurrentCalltoOnHold, UpdateVMList,
//   UpdateContactList1) act only while attached; MinimizeTarvo and CloseTarvoMSGDialog need a
//   running client. Queries answer from the model's tables at any time.
// - Notifications leave through the scheduler, replyDelayMs after their cause (0: at the same
//   instant, still asynchronously), always in the order they were caused. Hold-replies keeps new
//   ones back; those already on their way when it starts still arrive.
// - Scenario directives (AddOrUpdateCall, PostStatusText ...) notify whether or not a client is
//   attached: the scenario states what the client does.
// - An outgoing call ("CALL <handle>") is ROUTING, then INPROGRESS outgoingAnswerMs later unless
//   its status changed meanwhile. The client has one conversation at a time: a call that becomes
//   active (answered, resumed, connected) puts the other active calls on hold, except those of its
//   own conference.
// - "HOOK ON" ends the calls in progress; with none it cancels a call being placed, else refuses
//   the earliest ringing one. "HOOK OFF" answers the earliest ringing call when none is in progress.
// - Ended calls (FINISHED, MISSED, REFUSED, CANCELLED, BUSY, FAILED) are notified, then forgotten;
//   a stopped client forgets all its calls, its mute and its message window without notifying.
// - GetCallNumber names the earliest call of each group; GetCallNumberEx lists them by arrival.
// - A call's partner becomes the recent call handle.
// - Command words are matched without case, as the client parses them; device names and handles
//   keep theirs. Unknown or malformed commands answer a status text "ERROR <code> <reason>" that
//   never quotes the command (the bridge scans status texts for device keywords).
// - Voicemail status codes: 5 unplayed, 12 playing, 6 played. One voicemail plays at a time; it
//   plays until stopped.
// - UpdateVMList sends the stored voicemails; a count override changes only lParam, the array keeps
//   the real entries (so the bridge's handling of a wrong count can be tested). As the client
//   library does, a count is never more than the entries sent: a larger override is cut to them;
//   zero and negative counts go through.
//
// Thread safety: every member may be called from any thread. State is guarded by the model's own
// mutex, which is never held while calling the clock, scheduler, transcript or poster. The clock,
// scheduler, transcript and poster must outlive the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ClientApi.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/WindowPoster.h"

namespace sim {

// Voicemail status codes as this client reports them.
inline constexpr std::int32_t kVoicemailUnplayed = 5;
inline constexpr std::int32_t kVoicemailPlayed = 6;
inline constexpr std::int32_t kVoicemailPlaying = 12;

// The partner handle inside CALLStructure, where this library puts it (the bridge never reads it).
inline constexpr std::size_t kCallPartnerOffset = 4;
inline constexpr std::size_t kCallPartnerSize = 168;

class SoftphoneModel final : public platform::ClientApi {
 public:
  enum class AttachAnswer { Accept, Refuse, Pending };
  enum class MainWindow { Foreground, Background, Absent };

  struct Options {
    std::uint32_t replyDelayMs = 0;
    std::uint32_t outgoingAnswerMs = 1000;
    // The client's own device choice, used until the bridge sets others and after "set audio_in".
    std::string ownAudioIn = "Microphone";
    std::string ownAudioOut = "Speakers";
  };

  struct Call {
    int id = 0;
    std::string status;
    std::int32_t conference = 0;
    std::string partner;
    bool incoming = true;
    std::string dtmf;  // digits sent during the call
  };

  // A call status change as a scenario states it; unset fields keep the call's current values.
  struct CallUpdate {
    int id = 0;
    std::string status;
    std::optional<std::int32_t> conference;
    std::optional<std::string> partner;
    std::intptr_t kind = 1;
  };

  struct Voicemail {
    std::int32_t id = 0;
    std::int32_t timestamp = 0;
    std::int32_t status = kVoicemailUnplayed;
    std::string partner;
  };

  SoftphoneModel(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript, WindowPoster& poster);
  SoftphoneModel(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript, WindowPoster& poster,
                 Options options);
  ~SoftphoneModel() override;
  SoftphoneModel(const SoftphoneModel&) = delete;
  SoftphoneModel& operator=(const SoftphoneModel&) = delete;

  // The world as scenario directives set it. None of these prints a transcript line.
  void Start();
  void Stop();
  void SetAttachAnswer(AttachAnswer answer);
  void SetMainWindow(MainWindow state);
  // Posts 0x47F with the call's record and lParam = kind. A call first seen as ROUTING is outgoing.
  void AddOrUpdateCall(const CallUpdate& update);
  // Posts 0x47D; a "USERSTATUS ..." text also becomes the presence.
  void PostStatusText(std::string_view text);
  void SetMuted(bool muted);  // the user's own mute click: state and "MUTE ON|OFF"
  void SetRecentCallHandle(std::string_view handle);
  void SetMessageWindowOpen(bool open);
  void SetHoldReplies(bool hold);
  void SetReplyDelay(std::uint32_t ms);
  void SetVoicemails(std::vector<Voicemail> voicemails, std::optional<std::intptr_t> countOverride = std::nullopt);
  // Posts 0x482 (also for an id the list does not hold).
  void SetVoicemailStatus(std::int32_t id, std::int32_t status);
  // Told of every main-window change (outside the model's lock), e.g. to move the desktop's window.
  void SetMainWindowListener(std::function<void(MainWindow)> listener);

  // Observation.
  bool Running() const;
  bool Attached() const;
  bool Muted() const;
  bool OffHook() const;
  bool MessageWindowOpen() const;
  MainWindow MainWindowState() const;  // Absent while the client is stopped
  std::string AudioIn() const;
  std::string AudioOut() const;
  std::string Presence() const;  // e.g. "ONLINE"
  std::optional<Call> FindCall(int id) const;
  std::vector<Call> Calls() const;
  std::optional<std::int32_t> VoicemailStatus(std::int32_t id) const;

  // platform::ClientApi
  bool Initialize(platform::WindowHandle window) override;
  void Connect2Tarvo() override;
  void Disconnect2Tarvo() override;
  void SendStringCommand(const char* command) override;
  bool SendCommandDirect(const char* command) override;
  void GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                     int& onHoldId) override;
  void GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing, unsigned long* ringingIds,
                       int& onHold, unsigned long* onHoldIds) override;
  bool GetCallbyID(int id, std::uint8_t* callStructure) override;
  void SetCurrentCalltoOnHold() override;
  bool GetRecentCallHandle(char* handle) override;
  bool CloseTarvoMSGDialog() override;
  void MinimizeTarvo() override;
  void UpdateVMList() override;
  void UpdateContactList1() override;

 private:
  struct Notification {
    std::uint32_t msg = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::shared_ptr<const void> keepAlive;
  };
  struct Queued {
    Notification note;
    std::uint64_t due = 0;
  };
  // What a state change asks for once the lock is released.
  struct Effects {
    std::vector<Notification> notes;
    std::vector<int> outgoing;  // calls to connect later
    bool windowChanged = false;
  };
  // Scheduled callbacks run only while the model lives.
  struct Lifetime {
    std::mutex mutex;
    bool alive = true;
  };

  // Everything below with a `Locked` suffix or taking Effects& runs under mutex_.
  static Notification Plain(std::uint32_t msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
  static Notification StatusText(std::string text);
  static Notification CallRecord(const Call& call, std::intptr_t kind);
  static void FillCallStructure(const Call& call, std::uint8_t* record);

  void Apply(Effects effects);
  void Emit(std::vector<Notification> notes);
  void Deliver();
  void ScheduleAt(std::uint64_t time, std::function<void()> body);
  void ConnectOutgoing(int id);

  void AttemptAttachLocked(Effects& effects);
  Call* FindLocked(int id);
  void SetStatusLocked(Call& call, std::string_view status, std::intptr_t kind, Effects& effects);
  void MakeActiveLocked(Call& call, Effects& effects);
  void HoldActiveLocked(Effects& effects);
  void SetMainWindowLocked(MainWindow state, Effects& effects);
  bool AcceptsCommandsLocked() const { return running_ && attached_; }
  static bool IsRingingIn(const Call& call) { return call.status == "RINGING" && call.incoming; }
  // Placed and not answered yet (RINGING here means ringing at the other end).
  static bool IsConnecting(const Call& call) {
    return call.status == "ROUTING" || (call.status == "RINGING" && !call.incoming);
  }

  // The command interpreter (SoftphoneCommands.cpp).
  void ExecuteLocked(std::string_view command, Effects& effects);
  void SetCallCommandLocked(const std::vector<std::string_view>& words, Effects& effects);
  void AudioCommandLocked(bool input, std::string_view name, Effects& effects);
  void VoicemailCommandLocked(const std::vector<std::string_view>& words, Effects& effects);
  void HookLocked(bool on, Effects& effects);
  void PlaceCallLocked(std::string_view handle, Effects& effects);

  VirtualClock& clock_;
  Scheduler& scheduler_;
  Transcript& transcript_;
  WindowPoster& poster_;
  const std::uint32_t outgoingAnswerMs_;
  const std::string ownAudioIn_;
  const std::string ownAudioOut_;
  std::shared_ptr<Lifetime> life_ = std::make_shared<Lifetime>();

  mutable std::mutex mutex_;
  platform::WindowHandle window_ = 0;
  bool running_ = true;
  AttachAnswer answer_ = AttachAnswer::Accept;
  bool wanted_ = false;       // Connect2Tarvo outstanding
  bool authPending_ = false;  // waiting for the user to authorise
  bool attached_ = false;
  MainWindow mainWindow_ = MainWindow::Background;
  std::function<void(MainWindow)> windowListener_;
  bool muted_ = false;
  bool offHook_ = false;
  bool messageWindow_ = false;
  std::string audioIn_;
  std::string audioOut_;
  std::string presence_ = "ONLINE";
  std::optional<std::string> recentHandle_;
  std::vector<Call> calls_;  // in order of arrival
  int nextCallId_ = 1;
  std::vector<Voicemail> voicemails_;
  std::optional<std::intptr_t> voicemailCountOverride_;
  // Notifications on their way, in order, and those kept back by hold-replies.
  std::uint32_t replyDelayMs_;
  bool holding_ = false;
  std::deque<Queued> outbox_;
  std::vector<Notification> held_;
};

}  // namespace sim
