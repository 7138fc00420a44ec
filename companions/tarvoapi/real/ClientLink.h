// What TarvoAPIDLL.dll does behind its 14 exports, apart from the operating system: finding and
// attaching to the client, the ordered queue of commands, the client's call table, and turning
// the client's messages into the notifications posted to the bridge's window.
//
// Threads. The library has a thread of its own (the link thread) with a hidden window: it runs
// the queue (Service), looks after the client every kPollMs (Poll) and receives the client's
// messages (FromClient); every notification is posted from it, so they reach the bridge in the
// order the client sent them. The exports may be called from any thread: the queued ones only
// add to the queue, the direct ones (SendCommandDirect, CloseMessageWindow) talk to the client
// on the caller's thread, the queries answer from the table. Handled is called on the bridge
// window's thread after the window has handled a message. The lock is never held while talking
// to the client or posting, since a send lets the client's messages in on the same thread.
//
// Attach. Connect finds the client's main window by class and sends it an attach request; the
// client answers with a notification (0x478 attached, 0x479 waiting for the user, 0x47A
// refused, 0x47B not available); no client gives 0x47B at once. Attaching stays wanted from
// Connect until Disconnect (or a refusal): while it is, Poll looks for a client when none is
// known, announces it with 0x47C and asks again, and asks a known client that said it is not
// available again on every poll (its repeated 0x47B is not passed on). A client that is lost while
// attached (its window gone, a send to it that fails, or its 0x47B) is reported with 0x480, so the
// bridge never counts itself attached to nobody; one lost while waiting gives 0x47B. A client's
// own 0x480 is passed on only while attached, so Disconnect (which posts 0x480 itself, without
// waiting for the client) and the client's echo give the bridge one 0x480.
//
// Trust. Only the client window the library talks to is listened to: WM_COPYDATA's sender must be
// that window, and an attach answer must come from a window of the client's class. Attach answers
// after Disconnect are late and change nothing. Call, text, voicemail and contact notifications
// are taken only while attached. What is refused is counted (DroppedMessages).
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "companions/tarvoapi/Protocol.h"
#include "companions/tarvoapi/real/CallTable.h"
#include "companions/tarvoapi/real/Payloads.h"

namespace tarvoapi {

inline constexpr std::uint32_t kPollMs = 500;
inline constexpr std::uint32_t kQueuedSendTimeoutMs = 2000;
inline constexpr std::uint32_t kDirectSendTimeoutMs = 1000;
inline constexpr std::size_t kMaxQueued = 1024;

// The operating system as the library uses it (Win32LinkSystem in the DLL, fakes in tests).
class LinkSystem {
 public:
  virtual ~LinkSystem() = default;
  // The client's main window (class kClientWindowClass), 0 when there is none.
  virtual std::uintptr_t FindClient() = 0;
  // True while `window` exists and is of the client's class.
  virtual bool IsClientWindow(std::uintptr_t window) = 0;
  // Delivers one message to the client's window and returns its answer; nullopt when it could
  // not be delivered within `timeoutMs` (gone or hung).
  virtual std::optional<std::intptr_t> SendToClient(std::uintptr_t client, std::uint32_t kind,
                                                    std::span<const std::uint8_t> body, std::uint32_t timeoutMs) = 0;
  virtual bool PostToBridge(std::uintptr_t window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  // Has Service run soon on the link thread.
  virtual void Wake() = 0;
  virtual std::uint32_t ProcessId() = 0;
  // Starts watching the bridge's window; true when Handled will follow each of its messages.
  virtual bool WatchBridgeWindow(std::uintptr_t window) = 0;
};

class ClientLink {
 public:
  explicit ClientLink(LinkSystem& system) : system_(system) {}
  ClientLink(const ClientLink&) = delete;
  ClientLink& operator=(const ClientLink&) = delete;

  // --- the exports ------------------------------------------------------------------------
  bool Initialize(std::uintptr_t bridgeWindow);
  void Connect();
  void Disconnect();
  void SendCommand(const char* text);
  bool SendCommandDirect(const char* text);
  void GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold, int& onHoldId);
  void GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing, unsigned long* ringingIds,
                       int& onHold, unsigned long* onHoldIds);
  bool GetCallById(int id, std::uint8_t* record);
  void HoldCurrentCall();
  bool GetRecentCallHandle(char* handle);
  bool CloseMessageWindow();
  void Minimize();
  void UpdateVoicemails();
  void UpdateContacts();

  // --- the link thread --------------------------------------------------------------------
  void Service();
  void Poll();
  // A WM_COPYDATA from `sender`; the answer goes back as the message's result.
  std::intptr_t FromClient(std::uintptr_t sender, std::uint32_t kind, std::span<const std::uint8_t> body);
  // A WM_COPYDATA whose body cannot be read (no COPYDATASTRUCT, or a length without data).
  std::intptr_t Unreadable(std::uintptr_t sender);

  // --- the bridge window's thread ---------------------------------------------------------
  void Handled(std::uint32_t msg, std::uintptr_t wParam);
  void BridgeWindowGone(std::uintptr_t window);

  // --- observation, for tests -------------------------------------------------------------
  struct Dropped {
    std::size_t strangers = 0;  // not from the client window, or an attach answer not from its class
    std::size_t malformed = 0;  // from the client window, but unreadable or breaking the protocol
    std::size_t late = 0;       // attach answers while attaching is not wanted
    bool operator==(const Dropped&) const = default;
  };
  Dropped DroppedMessages() const;
  bool Attached() const;
  bool Wanted() const;
  std::uintptr_t ClientWindow() const;
  std::size_t OutstandingPayloads() const { return payloads_.Outstanding(); }

 private:
  void Enqueue(LibraryMessage item);
  void Attach();
  void Detach();
  std::optional<std::intptr_t> Send(std::uintptr_t client, const LibraryMessage& message, std::uint32_t timeoutMs);
  void CheckClient();
  // Forgets `client` if it is still the known one: 0x480 when it was attached, 0x47B when it was
  // waiting (true then). `gone`: its window no longer exists, so a new one is announced again.
  bool Forget(std::uintptr_t client, bool gone);
  void Post(std::uint32_t msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
  void PostPayload(std::uint32_t msg, std::vector<std::uint8_t> bytes, std::intptr_t lParam);
  std::intptr_t TakeNotification(std::uintptr_t sender, const ClientMessage& message);

  LinkSystem& system_;
  Payloads payloads_;

  mutable std::mutex mutex_;
  std::uintptr_t bridgeWindow_ = 0;
  bool exactRelease_ = false;
  std::deque<LibraryMessage> queue_;
  bool wanted_ = false;
  bool attached_ = false;
  bool pending_ = false;
  std::uintptr_t clientWindow_ = 0;
  std::uintptr_t announced_ = 0;    // the last client window announced with 0x47C
  std::uintptr_t unavailable_ = 0;  // the client window that last said 0x47B, the bridge told
  Dropped dropped_;
  CallTable table_;
  std::optional<std::string> recentHandle_;
};

}  // namespace tarvoapi
