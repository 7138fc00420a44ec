// The client library's behaviour (ClientLink) on a fake operating system, and then against the
// softphone simulator's behaviour (SoftphoneSim on the client model) through an in-memory
// transport on virtual time: attach answers, the command queue, the call table, the
// notifications and their payloads, a client that goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "companions/tarvoapi/Protocol.h"
#include "companions/tarvoapi/real/ClientLink.h"
#include "companions/tarvoapi/sim/SoftphoneSim.h"
#include "platform/ClientApi.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"

using namespace tarvoapi;

namespace {

constexpr std::uintptr_t kBridge = 0xB1;
constexpr std::uintptr_t kLibrary = 0x11B;
constexpr std::uintptr_t kClient = 0xC1;

// A notification as the bridge's window sees it while handling it.
struct Posted {
  std::uint32_t msg = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
  std::string text;
  CallInfo call;
  std::vector<std::uint8_t> bytes;
};

class FakeSystem : public LinkSystem {
 public:
  // The client's window procedure; null: no client window.
  std::function<std::optional<std::intptr_t>(std::uint32_t kind, std::span<const std::uint8_t> body)> client;
  std::uintptr_t clientWindow = kClient;
  bool clientAlive = true;
  bool clientClass = true;  // false: the handle now names a window of another class
  bool watchable = true;
  std::vector<LibraryMessage> sent;
  int wakes = 0;

  std::uintptr_t FindClient() override { return client && clientAlive && clientClass ? clientWindow : 0; }
  bool IsClientWindow(std::uintptr_t window) override { return clientAlive && clientClass && window == clientWindow; }
  std::optional<std::intptr_t> SendToClient(std::uintptr_t window, std::uint32_t kind,
                                            std::span<const std::uint8_t> body, std::uint32_t) override {
    if (!client || !clientAlive || window != clientWindow) return std::nullopt;
    const auto decoded = DecodeLibraryMessage(kind, body);
    EXPECT_TRUE(decoded) << "the library sent what the client cannot read";
    if (decoded) sent.push_back(*decoded);
    return client(kind, body);
  }
  bool PostToBridge(std::uintptr_t window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override {
    std::lock_guard lock(mutex_);
    EXPECT_EQ(window, kBridge);
    queue_.push_back({msg, wParam, lParam, {}, {}, {}});
    return true;
  }
  void Wake() override { ++wakes; }
  std::uint32_t ProcessId() override { return 77; }
  bool WatchBridgeWindow(std::uintptr_t) override { return watchable; }

  // Takes what was posted without reading it (payloads of a ring may be gone).
  std::vector<Posted> TakeUnread() {
    std::lock_guard lock(mutex_);
    std::vector<Posted> taken;
    taken.swap(queue_);
    return taken;
  }

  // The bridge's window handles what was posted, in order, reading the payloads as it goes;
  // `link` is told afterwards, as the wrapped window procedure tells it.
  std::vector<Posted> Handle(ClientLink& link) {
    std::vector<Posted> handled;
    {
      std::lock_guard lock(mutex_);
      handled.swap(queue_);
    }
    for (auto& note : handled) {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(note.wParam);
      if (note.msg == platform::kClientStatusText) note.text = reinterpret_cast<const char*>(bytes);
      if (note.msg == platform::kClientCallStatus) {
        note.bytes.assign(bytes, bytes + platform::kCallStructureSize);
        std::memcpy(&note.call.id, bytes, 4);
        note.call.partner = reinterpret_cast<const char*>(bytes + 4);
        note.call.status = reinterpret_cast<const char*>(bytes + platform::kCallStatusOffset);
        std::memcpy(&note.call.conference, bytes + platform::kCallConferenceOffset, 4);
      }
      if (note.msg == platform::kClientVoicemailList && note.lParam > 0) {
        note.bytes.assign(bytes, bytes + note.lParam * platform::kVoicemailEntrySize);
      }
      if (note.msg == platform::kClientContactList) {
        for (const char* at = reinterpret_cast<const char*>(bytes); *at; at += std::strlen(at) + 1) {
          note.text += std::string(at) + ";";
        }
      }
      link.Handled(note.msg, note.wParam);
    }
    return handled;
  }

 private:
  std::mutex mutex_;
  std::vector<Posted> queue_;
};

std::vector<std::uint32_t> Messages(const std::vector<Posted>& posted) {
  std::vector<std::uint32_t> messages;
  for (const auto& note : posted) messages.push_back(note.msg);
  return messages;
}

ClientMessage Note(std::uint32_t msg) {
  ClientMessage message;
  message.message = msg;
  return message;
}

ClientMessage CallNote(CallInfo call, std::int32_t kind = 1) {
  ClientMessage message = Note(platform::kClientCallStatus);
  message.param = kind;
  message.calls = {std::move(call)};
  return message;
}

class TarvoLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A client that takes everything and answers attach requests as `answer` says.
    system_.client = [this](std::uint32_t kind, std::span<const std::uint8_t>) -> std::optional<std::intptr_t> {
      if (kind == kAttach && answer_) Reply(Note(*answer_), system_.clientWindow);
      return directAnswer_;
    };
    link_.Initialize(kBridge);
  }

  // The client's message, as the link window receives it.
  std::intptr_t Reply(const ClientMessage& message, std::uintptr_t from = kClient) {
    return link_.FromClient(from, message.kind, Encode(message));
  }

  void AttachNow() {
    link_.Connect();
    link_.Service();
    ASSERT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientAttached});
  }

  FakeSystem system_;
  ClientLink link_{system_};
  std::optional<std::uint32_t> answer_ = platform::kClientAttached;
  std::intptr_t directAnswer_ = 1;
};

TEST_F(TarvoLinkTest, NoClientIsReportedAtOnceAndAttachingWaitsForOne) {
  system_.clientAlive = false;
  link_.Connect();
  EXPECT_TRUE(system_.sent.empty());  // queued: nothing happens on the caller's thread
  EXPECT_EQ(system_.wakes, 1);
  link_.Service();
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientNotAvailable});
  link_.Poll();
  EXPECT_TRUE(system_.Handle(link_).empty());  // still none: no repeated 0x47B

  system_.clientAlive = true;
  link_.Poll();
  EXPECT_EQ(Messages(system_.Handle(link_)),
            (std::vector<std::uint32_t>{platform::kClientAvailable, platform::kClientAttached}));
  ASSERT_EQ(system_.sent.size(), 1u);
  EXPECT_EQ(system_.sent[0].kind, kAttach);
  EXPECT_EQ(system_.sent[0].process, 77u);
  EXPECT_EQ(system_.sent[0].version, kProtocolVersion);
  EXPECT_TRUE(link_.Attached());
}

TEST_F(TarvoLinkTest, AClientThatDoesNotAnswerIsAskedAgainButAnnouncedOnce) {
  system_.clientAlive = false;
  link_.Connect();
  link_.Service();
  system_.clientAlive = true;
  bool hung = true;
  system_.client = [&](std::uint32_t kind, std::span<const std::uint8_t>) -> std::optional<std::intptr_t> {
    if (hung) return std::nullopt;  // the send timed out
    if (kind == kAttach) Reply(Note(platform::kClientAttached));
    return 1;
  };
  link_.Poll();
  link_.Poll();
  hung = false;
  link_.Poll();
  EXPECT_EQ(Messages(system_.Handle(link_)),
            (std::vector<std::uint32_t>{platform::kClientNotAvailable, platform::kClientAvailable,
                                        platform::kClientAttached}));
}

TEST_F(TarvoLinkTest, AttachAnswersSetTheStateAndRefusalDropsTheRequest) {
  answer_ = platform::kClientAttachPending;
  link_.Connect();
  link_.Service();
  EXPECT_FALSE(link_.Attached());
  Reply(Note(platform::kClientAttached));  // the user allowed it
  EXPECT_TRUE(link_.Attached());
  EXPECT_EQ(Messages(system_.Handle(link_)),
            (std::vector<std::uint32_t>{platform::kClientAttachPending, platform::kClientAttached}));

  Reply(Note(platform::kClientAttachRefused));
  EXPECT_FALSE(link_.Attached());
  EXPECT_FALSE(link_.Wanted());
  system_.clientAlive = false;
  link_.Poll();
  system_.clientAlive = true;
  link_.Poll();  // nobody wants to attach any more: no announcement, no request
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientAttachRefused});
}

TEST_F(TarvoLinkTest, OnlyTheClientWindowIsListenedToAndOnlyWhileAttached) {
  EXPECT_EQ(Reply(Note(platform::kClientAttached)), 0);  // no attach was asked for
  EXPECT_EQ(link_.DroppedMessages(), (ClientLink::Dropped{1, 0, 0}));
  AttachNow();
  // A stranger, also one that names no sender or whose body cannot be read.
  EXPECT_EQ(Reply(CallNote({1, "RINGING", 0, "eve", true}), 0xE7E), 0);
  EXPECT_EQ(Reply(Note(platform::kClientDetached), 0), 0);
  EXPECT_EQ(link_.Unreadable(0xE7E), 0);
  // The client's window, with bodies that break the protocol.
  EXPECT_EQ(link_.FromClient(kClient, kNotify, std::vector<std::uint8_t>{1, 2, 3}), 0);
  EXPECT_EQ(link_.FromClient(kClient, kNotify, {}), 0);
  EXPECT_EQ(link_.FromClient(kClient, kAttach, Encode(Note(platform::kClientStatusText))), 0);
  EXPECT_EQ(link_.FromClient(kClient, kNotify, std::vector<std::uint8_t>(kMaxBody + 1, 0)), 0);
  EXPECT_EQ(link_.Unreadable(kClient), 0);
  EXPECT_EQ(link_.DroppedMessages(), (ClientLink::Dropped{4, 5, 0}));
  EXPECT_TRUE(system_.Handle(link_).empty());
  EXPECT_TRUE(link_.Attached());
  EXPECT_EQ(Reply(Note(platform::kClientDetached)), 1);
  // Detached: calls, texts, voicemails and a second 0x480 are not passed on.
  EXPECT_EQ(Reply(CallNote({1, "RINGING", 0, "eve", true})), 0);
  ClientMessage text = Note(platform::kClientStatusText);
  text.text = "MUTE ON";
  EXPECT_EQ(Reply(text), 0);
  EXPECT_EQ(Reply(Note(platform::kClientDetached)), 0);
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientDetached});
  int counts[6];
  link_.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(counts[2], 0);
}

TEST_F(TarvoLinkTest, NotificationsCarryTheirRecordsAndTheTableFollowsThem) {
  AttachNow();
  Reply(CallNote({4, "RINGING", 0, "alice", true}, 2));
  ClientMessage text = Note(platform::kClientStatusText);
  text.text = "AUDIO_OUT Speakers";
  Reply(text);
  // While the bridge handles the RINGING it asks for the counts: they already include the call.
  int counts[6];
  link_.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(std::vector<int>(counts, counts + 6), (std::vector<int>{0, 0, 1, 4, 0, 0}));
  EXPECT_EQ(link_.OutstandingPayloads(), 2u);
  const auto posted = system_.Handle(link_);
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].call, (CallInfo{4, "RINGING", 0, "alice", true}));
  EXPECT_EQ(posted[0].lParam, 2);
  EXPECT_EQ(posted[1].text, "AUDIO_OUT Speakers");
  // Handled: the payloads are gone.
  EXPECT_EQ(link_.OutstandingPayloads(), 0u);

  std::uint8_t record[platform::kCallStructureSize];
  ASSERT_TRUE(link_.GetCallById(4, record));
  EXPECT_EQ(std::vector<std::uint8_t>(record, record + sizeof record), posted[0].bytes);
  EXPECT_FALSE(link_.GetCallById(5, record));
  EXPECT_FALSE(link_.GetCallById(4, nullptr));
  Reply(CallNote({4, "MISSED", 0, "alice", true}));
  EXPECT_FALSE(link_.GetCallById(4, record));

  ClientMessage contacts = Note(platform::kClientContactList);
  contacts.contacts = {"carol", "dave"};
  Reply(contacts);
  const auto list = system_.Handle(link_);
  EXPECT_EQ(list.back().text, "carol;dave;");
  EXPECT_EQ(list.back().lParam, 2);
}

TEST_F(TarvoLinkTest, AnEmptyContactHandleIsLeftOutSoTheCountMatchesTheList) {
  AttachNow();
  ClientMessage contacts = Note(platform::kClientContactList);
  contacts.contacts = {"carol", "", "dave", ""};
  Reply(contacts);
  const auto list = system_.Handle(link_);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].text, "carol;dave;");
  EXPECT_EQ(list[0].lParam, 2);

  // Only empty ones: an empty list.
  contacts.contacts = {""};
  Reply(contacts);
  const auto empty = system_.Handle(link_);
  ASSERT_EQ(empty.size(), 1u);
  EXPECT_EQ(empty[0].text, "");
  EXPECT_EQ(empty[0].lParam, 0);
}

TEST_F(TarvoLinkTest, AnUnwatchableWindowGetsItsPayloadsFromTheRing) {
  system_.watchable = false;
  link_.Initialize(kBridge);
  AttachNow();
  ClientMessage text = Note(platform::kClientStatusText);
  for (int i = 0; i < 300; ++i) {
    text.text = "MUTE " + std::to_string(i);
    Reply(text);
  }
  EXPECT_EQ(link_.OutstandingPayloads(), 256u);
  // The newest ones are still readable.
  const auto posted = system_.TakeUnread();
  ASSERT_EQ(posted.size(), 300u);
  EXPECT_STREQ(reinterpret_cast<const char*>(posted[299].wParam), "MUTE 299");
  EXPECT_STREQ(reinterpret_cast<const char*>(posted[44].wParam), "MUTE 44");
}

TEST_F(TarvoLinkTest, VoicemailCountNeverExceedsTheRecordsThatCame) {
  AttachNow();
  ClientMessage list = Note(platform::kClientVoicemailList);
  VoicemailRecord record;
  record.fill('v');  // an unterminated partner
  list.voicemails = {record, record};
  list.param = 9;
  Reply(list);
  list.param = 1;
  Reply(list);
  list.param = -3;
  Reply(list);
  list.voicemails.clear();
  list.param = 4;
  Reply(list);
  const auto posted = system_.Handle(link_);
  ASSERT_EQ(posted.size(), 4u);
  EXPECT_EQ(posted[0].lParam, 2);
  ASSERT_EQ(posted[0].bytes.size(), 2 * platform::kVoicemailEntrySize);
  EXPECT_EQ(posted[0].bytes[platform::kVoicemailEntrySize - 1], 0);  // partner terminated
  EXPECT_EQ(posted[0].bytes[platform::kVoicemailPartnerOffset], 'v');
  EXPECT_EQ(posted[1].lParam, 1);
  EXPECT_EQ(posted[2].lParam, 0);
  EXPECT_EQ(posted[3].lParam, 0);
  EXPECT_EQ(posted[3].wParam, 0u);
}

TEST_F(TarvoLinkTest, DisconnectGivesOneDetachAndStopsLooking) {
  AttachNow();
  Reply(CallNote({1, "INPROGRESS", 0, "bob", false}));
  system_.Handle(link_);
  link_.Disconnect();
  link_.Service();
  EXPECT_EQ(system_.sent.back().kind, kDetach);
  Reply(Note(platform::kClientDetached));  // the client's own answer comes after ours
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientDetached});
  int counts[6];
  link_.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(counts[0], 0);
  EXPECT_FALSE(link_.Wanted());
}

TEST_F(TarvoLinkTest, AClientWindowThatGoesEndsTheAttach) {
  AttachNow();
  Reply(CallNote({1, "INPROGRESS", 0, "bob", false}));
  system_.Handle(link_);
  system_.clientAlive = false;
  link_.Poll();
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientDetached});
  std::uint8_t record[platform::kCallStructureSize];
  EXPECT_FALSE(link_.GetCallById(1, record));
  int counts[6];
  link_.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(counts[0], 0);

  // The request stays: a new client window is announced and asked.
  system_.clientWindow = 0xC2;
  system_.clientAlive = true;
  link_.Poll();
  EXPECT_EQ(Messages(system_.Handle(link_)),
            (std::vector<std::uint32_t>{platform::kClientAvailable, platform::kClientAttached}));
  EXPECT_EQ(link_.ClientWindow(), 0xC2u);

  // While waiting for the user's answer, a vanished client is reported as not available.
  answer_ = platform::kClientAttachPending;
  link_.Connect();
  link_.Service();
  system_.clientAlive = false;
  link_.Poll();
  EXPECT_EQ(Messages(system_.Handle(link_)),
            (std::vector<std::uint32_t>{platform::kClientAttachPending, platform::kClientNotAvailable}));
}

TEST_F(TarvoLinkTest, AClientThatSaysItIsNotAvailableWhileAttachedEndsTheAttachAndIsAskedAgain) {
  AttachNow();
  Reply(CallNote({1, "INPROGRESS", 0, "bob", false}));
  system_.Handle(link_);
  // The bridge would ignore a 0x47B and go on counting itself attached: it gets 0x480.
  EXPECT_EQ(Reply(Note(platform::kClientNotAvailable)), 1);
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientDetached});
  EXPECT_FALSE(link_.Attached());
  EXPECT_TRUE(link_.Wanted());
  std::uint8_t record[platform::kCallStructureSize];
  EXPECT_FALSE(link_.GetCallById(1, record));
  link_.SendCommand("GET MUTE");  // detached: not sent
  link_.Service();
  EXPECT_EQ(system_.sent.back().kind, kAttach);

  // Asked again on every poll; the same answer is not passed on again.
  answer_ = platform::kClientNotAvailable;
  const std::size_t before = system_.sent.size();
  link_.Poll();
  link_.Poll();
  EXPECT_EQ(system_.sent.size(), before + 2);
  EXPECT_EQ(system_.sent.back().kind, kAttach);
  EXPECT_TRUE(system_.Handle(link_).empty());

  // Available again: attached, without a second announcement of the same window.
  answer_ = platform::kClientAttached;
  link_.Poll();
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientAttached});
  EXPECT_TRUE(link_.Attached());
  link_.Poll();  // attached: not asked again
  EXPECT_EQ(system_.sent.size(), before + 3);
}

TEST_F(TarvoLinkTest, NotAvailableIsReportedOncePerRequestOfTheBridge) {
  answer_ = platform::kClientAttachPending;
  link_.Connect();
  link_.Service();
  EXPECT_EQ(Reply(Note(platform::kClientNotAvailable)), 1);  // the client went while its user decided
  EXPECT_EQ(Messages(system_.Handle(link_)),
            (std::vector<std::uint32_t>{platform::kClientAttachPending, platform::kClientNotAvailable}));
  answer_ = platform::kClientNotAvailable;
  link_.Poll();
  EXPECT_TRUE(system_.Handle(link_).empty());
  // The bridge asks again: it gets its answer.
  link_.Connect();
  link_.Service();
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientNotAvailable});
}

TEST_F(TarvoLinkTest, DetachAndReattachFollowTheClientWindow) {
  AttachNow();
  // Killed: its window is gone.
  system_.clientAlive = false;
  link_.Poll();
  link_.Poll();
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientDetached});
  EXPECT_EQ(link_.ClientWindow(), 0u);

  // Started again: a new window is announced and attached.
  system_.clientWindow = 0xC2;
  system_.clientAlive = true;
  link_.Poll();
  EXPECT_EQ(Messages(system_.Handle(link_)),
            (std::vector<std::uint32_t>{platform::kClientAvailable, platform::kClientAttached}));
  EXPECT_TRUE(link_.Attached());

  // Connect2Tarvo again while the client hangs: the attach it had is over for the bridge too.
  const auto hung = system_.client;
  system_.client = [](std::uint32_t, std::span<const std::uint8_t>) -> std::optional<std::intptr_t> {
    return std::nullopt;
  };
  link_.Connect();
  link_.Service();
  EXPECT_EQ(Messages(system_.Handle(link_)),
            (std::vector<std::uint32_t>{platform::kClientDetached, platform::kClientNotAvailable}));
  EXPECT_FALSE(link_.Attached());
  system_.client = hung;
  link_.Poll();  // it answers again: asked again, not announced again
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientAttached});

  // A handle that now names another program's window is no client: detached, looked for again.
  system_.clientClass = false;
  link_.Poll();
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientDetached});
  EXPECT_EQ(link_.ClientWindow(), 0u);
  EXPECT_TRUE(link_.Wanted());
}

TEST_F(TarvoLinkTest, ALateAttachAnswerAfterDisconnectChangesNothing) {
  answer_.reset();  // the client answers later, on its own
  link_.Connect();
  link_.Service();
  link_.Disconnect();
  link_.Service();
  EXPECT_EQ(Reply(Note(platform::kClientAttached)), 0);
  EXPECT_EQ(Reply(Note(platform::kClientAttachPending)), 0);
  EXPECT_EQ(Reply(Note(platform::kClientNotAvailable)), 0);
  EXPECT_FALSE(link_.Attached());
  EXPECT_FALSE(link_.SendCommandDirect("GET MUTE"));
  EXPECT_TRUE(system_.Handle(link_).empty());
  EXPECT_EQ(link_.DroppedMessages(), (ClientLink::Dropped{0, 0, 3}));
  link_.Poll();  // and nobody asks again
  EXPECT_EQ(system_.sent.back().kind, kDetach);

  // A new request makes the client's answer count again.
  link_.Connect();
  link_.Service();
  EXPECT_EQ(Reply(Note(platform::kClientAttached)), 1);
  EXPECT_EQ(Messages(system_.Handle(link_)), std::vector<std::uint32_t>{platform::kClientAttached});
}

TEST_F(TarvoLinkTest, AnAttachAnswerCountsOnlyFromAWindowOfTheClientsClass) {
  // Between the request and the answer the handle came to name another program's window.
  system_.client = [this](std::uint32_t kind, std::span<const std::uint8_t>) -> std::optional<std::intptr_t> {
    if (kind == kAttach) {
      system_.clientClass = false;
      EXPECT_EQ(Reply(Note(platform::kClientAttached)), 0);
    }
    return 1;
  };
  link_.Connect();
  link_.Service();
  EXPECT_FALSE(link_.Attached());
  EXPECT_EQ(link_.DroppedMessages().strangers, 1u);
  link_.Poll();  // forgotten; no client window to be found
  EXPECT_EQ(link_.ClientWindow(), 0u);
  EXPECT_TRUE(system_.Handle(link_).empty());
}

TEST_F(TarvoLinkTest, CommandsGoInOrderOnlyToAnAttachedClient) {
  link_.SendCommand("GET MUTE");  // before attaching: dropped
  link_.Service();
  EXPECT_TRUE(system_.sent.empty());
  AttachNow();
  link_.SendCommand("SET CALL 1 STATUS INPROGRESS");
  link_.HoldCurrentCall();
  link_.SendCommand(std::string(kMaxCommand + 1, 'x').c_str());  // too long: refused
  link_.SendCommand(nullptr);
  link_.UpdateVoicemails();
  link_.UpdateContacts();
  link_.Minimize();
  link_.Service();
  std::vector<std::uint32_t> kinds;
  for (const auto& message : system_.sent) kinds.push_back(message.kind);
  EXPECT_EQ(kinds,
            (std::vector<std::uint32_t>{kAttach, kCommand, kHold, kUpdateVoicemails, kUpdateContacts, kMinimize}));
  EXPECT_EQ(system_.sent[1].text, "SET CALL 1 STATUS INPROGRESS");

  // A client that stops answering: at most kMaxQueued wait; the rest are dropped.
  for (std::size_t i = 0; i < kMaxQueued + 50; ++i) link_.SendCommand("GET MUTE");
  system_.sent.clear();
  link_.Service();
  EXPECT_EQ(system_.sent.size(), kMaxQueued);
}

TEST_F(TarvoLinkTest, DirectCallsReturnTheClientsAnswer) {
  EXPECT_FALSE(link_.SendCommandDirect("FOCUS"));  // not attached
  AttachNow();
  EXPECT_TRUE(link_.SendCommandDirect("FOCUS"));
  EXPECT_EQ(system_.sent.back().kind, kCommandDirect);
  directAnswer_ = 0;
  EXPECT_FALSE(link_.SendCommandDirect("FOCUS"));
  EXPECT_FALSE(link_.CloseMessageWindow());
  directAnswer_ = 1;
  EXPECT_TRUE(link_.CloseMessageWindow());
  EXPECT_FALSE(link_.SendCommandDirect(nullptr));
  EXPECT_FALSE(link_.SendCommandDirect(std::string(kMaxCommand + 1, 'x').c_str()));
  system_.clientAlive = false;
  EXPECT_FALSE(link_.SendCommandDirect("FOCUS"));
  EXPECT_FALSE(link_.CloseMessageWindow());
}

TEST_F(TarvoLinkTest, RecentCallHandleIsAlwaysTerminatedWithinItsBuffer) {
  char handle[platform::kRecentCallHandleSize + 16];
  std::memset(handle, 'x', sizeof handle);
  EXPECT_FALSE(link_.GetRecentCallHandle(handle));
  EXPECT_EQ(handle[0], '\0');
  EXPECT_FALSE(link_.GetRecentCallHandle(nullptr));

  AttachNow();
  Reply(CallNote({1, "RINGING", 0, std::string(150, 'p'), true}));
  std::memset(handle, 'x', sizeof handle);
  ASSERT_TRUE(link_.GetRecentCallHandle(handle));
  EXPECT_EQ(std::strlen(handle), kMaxHandle);
  EXPECT_EQ(handle[platform::kRecentCallHandleSize], 'x');

  ClientMessage state;
  state.kind = kClientState;
  state.recentHandle = "carol";
  state.calls = {CallInfo{2, "ONHOLD", 0, "carol", true}};
  EXPECT_EQ(Reply(state), 1);
  ASSERT_TRUE(link_.GetRecentCallHandle(handle));
  EXPECT_STREQ(handle, "carol");
  std::uint8_t record[platform::kCallStructureSize];
  EXPECT_FALSE(link_.GetCallById(1, record));  // the state replaced the table
  EXPECT_TRUE(link_.GetCallById(2, record));
}

TEST_F(TarvoLinkTest, TheBridgeWindowGoingReleasesItsPayloads) {
  AttachNow();
  ClientMessage text = Note(platform::kClientStatusText);
  text.text = "MUTE ON";
  Reply(text);
  Reply(text);
  EXPECT_EQ(link_.OutstandingPayloads(), 2u);
  link_.BridgeWindowGone(kBridge);
  EXPECT_EQ(link_.OutstandingPayloads(), 0u);
  Reply(text);  // no window: nothing is posted or kept
  EXPECT_EQ(link_.OutstandingPayloads(), 0u);
}

// --- the library against the simulator ----------------------------------------------------------

// Joins a ClientLink and a SoftphoneSim without Win32: the library's sends reach the simulator at
// once (as SendMessage does), the simulator's go back the same way from the scheduler's thread.
class Loop : public softphone_sim::LibraryOutbox {
 public:
  Loop() {
    system.client = [this](std::uint32_t kind, std::span<const std::uint8_t> body) -> std::optional<std::intptr_t> {
      return simulator.FromLibrary(kLibrary, kind, body);
    };
  }
  void Send(std::uintptr_t library, std::uint32_t kind, std::vector<std::uint8_t> body) override {
    std::lock_guard lock(mutex);
    if (library == kLibrary) link.FromClient(kClient, kind, body);
  }
  // Time passes; the library's thread runs its queue first.
  void Run(std::uint64_t ms = 0) {
    link.Service();
    clock.RunUntilIdle();
    clock.AdvanceBy(ms);
  }
  std::vector<Posted> Handle() { return system.Handle(link); }

  sim::VirtualClock clock{{.autoAdvance = false}};
  sim::Scheduler scheduler{clock};
  sim::Transcript transcript{clock};
  std::mutex mutex;
  FakeSystem system;
  ClientLink link{system};
  softphone_sim::SoftphoneSim simulator{clock, scheduler, transcript, *this, {.outgoingAnswerMs = 300}};
};

std::vector<std::string> CallStatuses(const std::vector<Posted>& posted) {
  std::vector<std::string> statuses;
  for (const auto& note : posted) {
    if (note.msg == platform::kClientCallStatus)
      statuses.push_back(std::to_string(note.call.id) + " " + note.call.status);
  }
  return statuses;
}

TEST(TarvoLoop, CallsPlacedAndReceivedReachTheBridgeInOrder) {
  Loop loop;
  std::vector<std::string> events;
  std::mutex eventsMutex;
  loop.simulator.SetEventListener([&](const std::string& line) {
    std::lock_guard lock(eventsMutex);
    events.push_back(line);
  });
  loop.link.Initialize(kBridge);
  loop.link.Connect();
  loop.Run();
  EXPECT_EQ(Messages(loop.Handle()), std::vector<std::uint32_t>{platform::kClientAttached});

  loop.link.SendCommand("CALL bob");
  loop.Run();
  EXPECT_EQ(CallStatuses(loop.Handle()), std::vector<std::string>{"1 ROUTING"});
  int counts[6];
  loop.link.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(counts[0], 0);  // placed, not yet answered
  loop.Run(300);
  EXPECT_EQ(CallStatuses(loop.Handle()), std::vector<std::string>{"1 INPROGRESS"});

  EXPECT_EQ(loop.simulator.Control("incoming alice"), "ok 2");
  loop.Run();
  const auto ringing = loop.Handle();
  EXPECT_EQ(CallStatuses(ringing), std::vector<std::string>{"2 RINGING"});
  EXPECT_EQ(ringing[0].call.partner, "alice");
  loop.link.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(std::vector<int>(counts, counts + 6), (std::vector<int>{1, 1, 1, 2, 0, 0}));

  loop.link.SendCommand("SET CALL 2 STATUS INPROGRESS");
  loop.Run();
  EXPECT_EQ(CallStatuses(loop.Handle()), (std::vector<std::string>{"1 ONHOLD", "2 INPROGRESS"}));
  char handle[platform::kRecentCallHandleSize];
  ASSERT_TRUE(loop.link.GetRecentCallHandle(handle));
  EXPECT_STREQ(handle, "alice");

  EXPECT_EQ(loop.simulator.Control("hangup 2"), "ok");
  EXPECT_EQ(loop.simulator.Control("detach"), "ok");
  loop.Run();
  const auto last = loop.Handle();
  EXPECT_EQ(CallStatuses(last), std::vector<std::string>{"2 FINISHED"});
  EXPECT_EQ(last.back().msg, platform::kClientDetached);
  EXPECT_FALSE(loop.link.Attached());

  std::lock_guard lock(eventsMutex);
  EXPECT_NE(std::find(events.begin(), events.end(), "cmd 300 SET CALL 2 STATUS INPROGRESS"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(),
                      "note 0 047F id=1 status=ROUTING conference=0 kind=1 dir=out partner=bob"),
            events.end());
}

TEST(TarvoLoop, AttachBringsTheClientsCallsAndVoicemailsArriveWhole) {
  Loop loop;
  loop.link.Initialize(kBridge);
  EXPECT_EQ(loop.simulator.Control("incoming carol"), "ok 1");  // rings before anyone attached
  EXPECT_EQ(loop.simulator.Control("voicemail 7 1700000000 5 dave"), "ok");
  EXPECT_EQ(loop.simulator.Control("voicemail 8 1700000100 6 erin"), "ok");
  EXPECT_EQ(loop.simulator.Control("voicemail-count 40"), "ok");
  loop.link.Connect();
  loop.Run();
  EXPECT_EQ(Messages(loop.Handle()), std::vector<std::uint32_t>{platform::kClientAttached});
  int counts[6];
  loop.link.GetCallNumber(counts[0], counts[1], counts[2], counts[3], counts[4], counts[5]);
  EXPECT_EQ(counts[3], 1);

  loop.link.UpdateVoicemails();
  // The list changes before the model's answer is delivered: the answer still holds the old list.
  loop.link.Service();
  EXPECT_EQ(loop.simulator.Control("voicemails clear"), "ok");
  loop.Run();
  const auto posted = loop.Handle();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].msg, platform::kClientVoicemailList);
  EXPECT_EQ(posted[0].lParam, 2);  // the client's 40 cut to what came
  ASSERT_EQ(posted[0].bytes.size(), 2 * platform::kVoicemailEntrySize);
  EXPECT_STREQ(reinterpret_cast<const char*>(posted[0].bytes.data() + platform::kVoicemailEntrySize +
                                             platform::kVoicemailPartnerOffset),
               "erin");

  EXPECT_EQ(loop.simulator.Control("voicemail 7 1700000000 5 dave"), "ok");
  loop.link.SendCommand("ALTER VOICEMAIL 7 STARTPLAYBACK");
  loop.Run();
  const auto status = loop.Handle();
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].msg, platform::kClientVoicemailStatus);
  EXPECT_EQ(status[0].wParam, 7u);
  EXPECT_EQ(status[0].lParam, 12);
}

TEST(TarvoLoop, ASecondLibraryTakesTheClientOver) {
  Loop loop;
  loop.link.Initialize(kBridge);
  loop.link.Connect();
  loop.Run();
  loop.Handle();
  // Another library attaches from its own window: ours hears that it lost the client.
  LibraryMessage attach{kAttach, kProtocolVersion, 99, {}};
  EXPECT_EQ(loop.simulator.FromLibrary(0x222, kAttach, Encode(attach)), 1);
  loop.Run();
  EXPECT_EQ(Messages(loop.Handle()), std::vector<std::uint32_t>{platform::kClientDetached});
  EXPECT_FALSE(loop.link.Attached());
  // Requests of the replaced library are no longer taken; minimising needs no attach.
  EXPECT_EQ(loop.simulator.FromLibrary(kLibrary, kCommand, Encode(LibraryMessage{kCommand, 0, 0, "GET MUTE"})), 0);
  EXPECT_EQ(loop.simulator.FromLibrary(kLibrary, kMinimize, Encode(LibraryMessage{kMinimize, 0, 0, {}})), 1);
  EXPECT_TRUE(loop.simulator.Control("state").find("library=00000222") != std::string::npos);
}

TEST(TarvoLoop, ClientStopAndStartDetachAndAttachAgain) {
  Loop loop;
  loop.link.Initialize(kBridge);
  loop.link.Connect();
  loop.Run();
  loop.Handle();
  EXPECT_EQ(loop.simulator.Control("stop"), "ok");
  loop.Run();
  EXPECT_EQ(Messages(loop.Handle()), std::vector<std::uint32_t>{platform::kClientDetached});
  loop.link.Connect();  // a running window, a client that does not run
  loop.Run();
  EXPECT_EQ(Messages(loop.Handle()), std::vector<std::uint32_t>{platform::kClientNotAvailable});
  EXPECT_EQ(loop.simulator.Control("start"), "ok");
  loop.Run();
  EXPECT_EQ(Messages(loop.Handle()),
            (std::vector<std::uint32_t>{platform::kClientAvailable, platform::kClientAttached}));
}

}  // namespace
