// The softphone model: attach answers, call records and counts, the command texts the bridge
// sends, voicemails, held replies and transcript lines.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "sim/Scheduler.h"
#include "sim/SoftphoneModel.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/WindowPoster.h"

using namespace sim;
using Answer = SoftphoneModel::AttachAnswer;

namespace {

constexpr platform::WindowHandle kWindow = 0x1234;

std::int32_t Int32At(const std::uint8_t* bytes, std::size_t offset) {
  const std::uint8_t* b = bytes + offset;
  return static_cast<std::int32_t>(std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
                                   std::uint32_t{b[3]} << 24);
}

// Records posts and, like a window procedure, copies the payload only when "handling" it later,
// after the model has moved on; the keep-alive is released right after.
class RecordingPoster : public WindowPoster {
 public:
  struct Message {
    std::uint64_t time = 0;
    std::uint32_t msg = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::string text;                  // 0x47D
    std::vector<std::uint8_t> record;  // 0x47F
  };

  explicit RecordingPoster(VirtualClock& clock) : clock_(clock) {}

  bool PostTo(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
              std::shared_ptr<const void> keepAlive) override {
    const auto now = clock_.Now();
    std::lock_guard lock(mutex_);
    pending_.push_back({Message{now, msg, wParam, lParam, {}, {}}, std::move(keepAlive)});
    return window == kWindow;
  }

  // Voicemail arrays stay alive (held here) so a test can read exactly the entries it expects.
  std::vector<Message> Handle() {
    std::lock_guard lock(mutex_);
    std::vector<Message> handled;
    for (auto& [message, keepAlive] : pending_) {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.wParam);
      if (message.msg == platform::kClientStatusText) message.text = reinterpret_cast<const char*>(bytes);
      if (message.msg == platform::kClientCallStatus) {
        message.record.assign(bytes, bytes + platform::kCallStructureSize);
      }
      if (message.msg == platform::kClientVoicemailList) kept_.push_back(keepAlive);
      handled.push_back(message);
    }
    pending_.clear();
    return handled;
  }

 private:
  VirtualClock& clock_;
  std::mutex mutex_;
  std::vector<std::pair<Message, std::shared_ptr<const void>>> pending_;
  std::vector<std::shared_ptr<const void>> kept_;
};

class SoftphoneModelTest : public ::testing::Test {
 protected:
  using Message = RecordingPoster::Message;

  // The test thread takes part in virtual time: replies run only while it sleeps.
  std::vector<Message> Take(std::uint32_t ms = 1) {
    clock_.Sleep(ms);
    return poster_.Handle();
  }
  std::vector<std::uint32_t> Msgs(std::uint32_t ms = 1) {
    std::vector<std::uint32_t> msgs;
    for (const auto& message : Take(ms)) msgs.push_back(message.msg);
    return msgs;
  }
  // "<id> <status>" of call notifications and status texts, in posting order.
  std::vector<std::string> Replies(std::uint32_t ms = 1) {
    std::vector<std::string> replies;
    for (const auto& message : Take(ms)) {
      if (message.msg == platform::kClientStatusText) replies.push_back(message.text);
      if (message.msg == platform::kClientCallStatus) {
        replies.push_back(std::to_string(Int32At(message.record.data(), 0)) + " " +
                          reinterpret_cast<const char*>(&message.record[platform::kCallStatusOffset]));
      }
      if (message.msg == platform::kClientVoicemailStatus) {
        replies.push_back("vm " + std::to_string(message.wParam) + " " + std::to_string(message.lParam));
      }
    }
    return replies;
  }
  void Attach() {
    model_.Initialize(kWindow);
    model_.Connect2Tarvo();
    Take();
  }
  void Call(int id, const char* status, std::int32_t conference = 0) {
    model_.AddOrUpdateCall({id, status, conference, std::nullopt, 1});
  }
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (const auto& line : transcript_.Lines()) lines.push_back(Transcript::Body(line));
    return lines;
  }

  VirtualClock clock_;
  Scheduler scheduler_{clock_};
  Transcript transcript_{clock_};
  RecordingPoster poster_{clock_};
  SoftphoneModel model_{clock_, scheduler_, transcript_, poster_};
  VirtualClock::Participant self_{clock_};
};

using V = std::vector<std::string>;
using M = std::vector<std::uint32_t>;

TEST_F(SoftphoneModelTest, AttachFollowsTheClientsAnswer) {
  model_.Initialize(kWindow);
  model_.SetAttachAnswer(Answer::Refuse);
  model_.Connect2Tarvo();
  EXPECT_EQ(M{platform::kClientAttachRefused}, Msgs());
  EXPECT_FALSE(model_.Attached());

  model_.SetAttachAnswer(Answer::Pending);
  model_.Connect2Tarvo();
  EXPECT_EQ(M{platform::kClientAttachPending}, Msgs());
  model_.SetAttachAnswer(Answer::Accept);  // the user authorises the open request
  EXPECT_EQ(M{platform::kClientAttached}, Msgs());
  EXPECT_TRUE(model_.Attached());

  model_.Disconnect2Tarvo();
  EXPECT_EQ(M{platform::kClientDetached}, Msgs());
  model_.Disconnect2Tarvo();  // nothing left to detach
  EXPECT_EQ(M{}, Msgs());
}

TEST_F(SoftphoneModelTest, StoppedClientAttachesWhenStartedAndDetachesWhenStopped) {
  model_.Initialize(kWindow);
  model_.Stop();
  model_.Connect2Tarvo();
  EXPECT_EQ(M{platform::kClientNotAvailable}, Msgs());
  EXPECT_EQ(SoftphoneModel::MainWindow::Absent, model_.MainWindowState());

  model_.Start();
  EXPECT_EQ((M{platform::kClientAvailable, platform::kClientAttached}), Msgs());
  Call(12, "RINGING");
  model_.SetMessageWindowOpen(true);
  Take();

  model_.Stop();
  EXPECT_EQ(M{platform::kClientDetached}, Msgs());
  EXPECT_TRUE(model_.Calls().empty());
  EXPECT_FALSE(model_.CloseTarvoMSGDialog());
  model_.Start();  // the request outlives the client's restart
  EXPECT_EQ((M{platform::kClientAvailable, platform::kClientAttached}), Msgs());
}

TEST_F(SoftphoneModelTest, CallRecordsHoldIdStatusAndConferenceAtTheirOffsetsAsTheyWere) {
  model_.Initialize(kWindow);
  model_.AddOrUpdateCall({12, "RINGING", 2, std::string(300, 'p'), 2});
  model_.AddOrUpdateCall({12, "A_STATUS_OF_25_LETTERS_XY", std::nullopt, std::nullopt, 1});
  const auto messages = Take();
  ASSERT_EQ(2u, messages.size());
  const auto& first = messages[0].record;
  EXPECT_EQ(platform::kClientCallStatus, messages[0].msg);
  EXPECT_EQ(2, messages[0].lParam);
  EXPECT_EQ(12, Int32At(first.data(), platform::kCallIdOffset));
  EXPECT_STREQ("RINGING", reinterpret_cast<const char*>(&first[platform::kCallStatusOffset]));
  EXPECT_EQ(2, Int32At(first.data(), platform::kCallConferenceOffset));
  EXPECT_EQ(0, first[kCallPartnerOffset + kCallPartnerSize - 1]);

  const auto& second = messages[1].record;  // conference kept, status cut to 19 letters
  EXPECT_EQ(1, messages[1].lParam);
  EXPECT_EQ("A_STATUS_OF_25_LETT", std::string(reinterpret_cast<const char*>(&second[platform::kCallStatusOffset])));
  EXPECT_EQ(2, Int32At(second.data(), platform::kCallConferenceOffset));

  std::uint8_t record[platform::kCallStructureSize];
  std::memset(record, 0xEE, sizeof record);
  ASSERT_TRUE(model_.GetCallbyID(12, record));
  EXPECT_EQ(0, std::memcmp(record, second.data(), sizeof record));
  EXPECT_FALSE(model_.GetCallbyID(99, record));

  Call(12, "MISSED");  // ended calls are notified, then forgotten
  EXPECT_EQ(V{"12 MISSED"}, Replies());
  EXPECT_FALSE(model_.GetCallbyID(12, record));
}

TEST_F(SoftphoneModelTest, CallNumbersCountInProgressIncomingRingingAndHeldCalls) {
  int n[6];
  model_.GetCallNumber(n[0], n[1], n[2], n[3], n[4], n[5]);
  EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0, 0}), std::vector<int>(n, n + 6));

  Call(5, "INPROGRESS");
  Call(9, "RINGING");
  Call(3, "ONHOLD");
  Call(4, "ONHOLD");
  Call(20, "ROUTING");
  Call(20, "RINGING");  // an outgoing call ringing at the other end does not ring here
  model_.GetCallNumber(n[0], n[1], n[2], n[3], n[4], n[5]);
  EXPECT_EQ((std::vector<int>{1, 5, 1, 9, 2, 3}), std::vector<int>(n, n + 6));

  int active = 0, ringing = 0, held = 0;
  model_.GetCallNumberEx(active, nullptr, ringing, nullptr, held, nullptr);
  EXPECT_EQ((std::vector<int>{1, 1, 2}), (std::vector<int>{active, ringing, held}));

  // The counts grew since they were asked: the arrays only get what fits.
  Call(6, "ONHOLD");
  unsigned long activeIds[2] = {55, 77}, heldIds[3] = {0, 0, 77};
  active = 0;
  held = 2;
  ringing = 5;
  model_.GetCallNumberEx(active, activeIds, ringing, nullptr, held, heldIds);
  EXPECT_EQ((std::vector<unsigned long>{55, 77}), std::vector<unsigned long>(activeIds, activeIds + 2));
  EXPECT_EQ((std::vector<unsigned long>{3, 4, 77}), std::vector<unsigned long>(heldIds, heldIds + 3));
  EXPECT_EQ((std::vector<int>{1, 1, 3}), (std::vector<int>{active, ringing, held}));
}

TEST_F(SoftphoneModelTest, CallCommandsAnswerHoldResumeAndHangUp) {
  Attach();
  Call(5, "INPROGRESS");
  Call(9, "RINGING");
  Take();
  model_.SendStringCommand("SET CALL 9 STATUS INPROGRESS");  // one conversation at a time
  EXPECT_EQ((V{"5 ONHOLD", "9 INPROGRESS"}), Replies());
  model_.SendStringCommand("set call 9 dtmf 5");
  model_.SendStringCommand("SET CALL 9 DTMF #");
  model_.SendStringCommand("SET CALL 9 DTMF x");
  model_.SendStringCommand("SET CALL 42 STATUS ONHOLD");
  model_.SendStringCommand("SET CALL 5 STATUS ONHOLD");  // already: nothing to say
  EXPECT_EQ((V{"ERROR 3 Invalid argument", "ERROR 11 Invalid call id"}), Replies());
  EXPECT_EQ("5#", model_.FindCall(9)->dtmf);

  model_.SetCurrentCalltoOnHold();
  EXPECT_EQ(V{"9 ONHOLD"}, Replies());

  // Resuming a held conference keeps its members talking.
  Call(5, "ONHOLD", 2);
  Call(9, "ONHOLD", 2);
  Take();
  model_.SendStringCommand("SET CALL 5 STATUS INPROGRESS");
  model_.SendStringCommand("SET CALL 9 STATUS INPROGRESS");
  EXPECT_EQ((V{"5 INPROGRESS", "9 INPROGRESS"}), Replies());

  Call(11, "RINGING");
  Take();
  model_.SendCommandDirect("HOOK ON");
  model_.SendCommandDirect("HOOK OFF");  // hang up, then take the waiting call
  EXPECT_EQ((V{"5 FINISHED", "9 FINISHED", "11 INPROGRESS"}), Replies());
  EXPECT_TRUE(model_.OffHook());
  model_.SendStringCommand("HOOK ON");
  model_.SendStringCommand("HOOK ON");  // nothing left
  Call(13, "RINGING");
  model_.SendStringCommand("HOOK ON");  // rejects a ringing call
  EXPECT_EQ((V{"11 FINISHED", "13 RINGING", "13 REFUSED"}), Replies());
  EXPECT_TRUE(model_.Calls().empty());
}

TEST_F(SoftphoneModelTest, PlacedCallRoutesThenConnectsUnlessHungUp) {
  Attach();
  const auto start = clock_.Now();
  model_.SendCommandDirect("CALL  bob.smith ");
  Call(1, "RINGING");  // at the other end: not a ringing call here
  EXPECT_EQ((V{"1 ROUTING", "1 RINGING"}), Replies());
  int n[6];
  model_.GetCallNumber(n[0], n[1], n[2], n[3], n[4], n[5]);
  EXPECT_EQ(0, n[2]);
  char handle[platform::kRecentCallHandleSize];
  ASSERT_TRUE(model_.GetRecentCallHandle(handle));
  EXPECT_STREQ("bob.smith", handle);
  const auto connected = Take(1000);
  ASSERT_EQ(1u, connected.size());
  EXPECT_EQ(start + 1000, connected[0].time);
  EXPECT_STREQ("INPROGRESS", reinterpret_cast<const char*>(&connected[0].record[platform::kCallStatusOffset]));

  model_.SendStringCommand("HOOK ON");
  model_.SendStringCommand("CALL alice");
  model_.SendStringCommand("SET CALL 2 STATUS FINISHED");
  model_.SendStringCommand("CALL carol");
  model_.SendStringCommand("HOOK ON");  // both before they connect
  EXPECT_EQ((V{"1 FINISHED", "2 ROUTING", "2 CANCELLED", "3 ROUTING", "3 CANCELLED"}), Replies(2000));
  model_.SendStringCommand("CALL");
  EXPECT_EQ(V{"ERROR 3 Invalid argument"}, Replies());
}

TEST_F(SoftphoneModelTest, SettingCommandsAnswerWithStatusTexts) {
  std::vector<SoftphoneModel::MainWindow> windows;
  model_.SetMainWindowListener([&](SoftphoneModel::MainWindow state) { windows.push_back(state); });
  Attach();
  model_.SendStringCommand("SET MUTE ON");
  model_.SendStringCommand("GET MUTE");
  EXPECT_TRUE(model_.Muted());
  model_.SendStringCommand("set mute off");
  model_.SendStringCommand("SET AUDIO_IN USB Audio Device");
  model_.SendStringCommand("SET AUDIO_OUT Handset Speaker ");
  model_.SendStringCommand("GET AUDIO_IN");
  model_.SendStringCommand("GET AUDIO_OUT");
  model_.SendCommandDirect("set audio_in");  // back to the client's own choice
  model_.SendStringCommand("PROTOCOL 2");
  model_.SendStringCommand("BTN_RELEASED YES");
  model_.SendStringCommand("SET AUDIO_INPUT x");
  const V expected = {"MUTE ON",
                      "MUTE ON",
                      "MUTE OFF",
                      "AUDIO_IN USB Audio Device",
                      "AUDIO_OUT Handset Speaker",
                      "AUDIO_IN USB Audio Device",
                      "AUDIO_OUT Handset Speaker",
                      "AUDIO_IN Microphone",
                      "PROTOCOL 2",
                      "ERROR 2 Unknown command"};
  EXPECT_EQ(expected, Replies());
  EXPECT_EQ("Handset Speaker", model_.AudioOut());

  model_.SendCommandDirect("FOCUS");
  EXPECT_EQ(SoftphoneModel::MainWindow::Foreground, model_.MainWindowState());
  model_.MinimizeTarvo();
  model_.SetMainWindow(SoftphoneModel::MainWindow::Absent);
  model_.SendCommandDirect("FOCUS");  // no window to bring forward
  using W = SoftphoneModel::MainWindow;
  EXPECT_EQ((std::vector<W>{W::Foreground, W::Background, W::Absent}), windows);

  model_.Disconnect2Tarvo();
  Take();
  EXPECT_FALSE(model_.SendCommandDirect("SET MUTE ON"));  // nobody to tell
  EXPECT_EQ(V{}, Replies());
  EXPECT_FALSE(model_.Muted());
}

TEST_F(SoftphoneModelTest, VoicemailListIsOneArrayOfFixedRecordsWithAnOverridableCount) {
  Attach();
  model_.SetVoicemails({{7, 0, kVoicemailUnplayed, "alice"}, {8, -5, 6, std::string(300, 'q')}});
  model_.UpdateVMList();
  auto messages = Take();
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ(platform::kClientVoicemailList, messages[0].msg);
  ASSERT_EQ(2, messages[0].lParam);
  const auto* entries = reinterpret_cast<const std::uint8_t*>(messages[0].wParam);
  const auto* second = entries + platform::kVoicemailEntrySize;
  EXPECT_EQ(7, Int32At(entries, platform::kVoicemailIdOffset));
  EXPECT_STREQ("alice", reinterpret_cast<const char*>(entries + platform::kVoicemailPartnerOffset));
  EXPECT_EQ(8, Int32At(second, platform::kVoicemailIdOffset));
  EXPECT_EQ(-5, Int32At(second, platform::kVoicemailTimestampOffset));
  EXPECT_EQ(6, Int32At(second, platform::kVoicemailStatusOffset));
  EXPECT_EQ(255u, std::strlen(reinterpret_cast<const char*>(second + platform::kVoicemailPartnerOffset)));

  // A count larger than the array is cut to it, as the library never announces more records than
  // it hands over; zero and negative counts go through as given.
  model_.SetVoicemails({{7, 0, 5, "alice"}}, 3);
  model_.UpdateVMList();
  model_.SetVoicemails({{7, 0, 5, "alice"}}, -1);
  model_.UpdateVMList();
  model_.SetVoicemails({}, std::nullopt);
  model_.UpdateVMList();
  messages = Take();
  ASSERT_EQ(3u, messages.size());
  EXPECT_EQ(1, messages[0].lParam);
  EXPECT_EQ(7, Int32At(reinterpret_cast<const std::uint8_t*>(messages[0].wParam), 0));
  EXPECT_EQ(-1, messages[1].lParam);
  EXPECT_EQ(0u, messages[2].wParam);
  EXPECT_EQ(0, messages[2].lParam);
}

TEST_F(SoftphoneModelTest, PlaybackCommandsReportStatusChangesOneVoicemailAtATime) {
  Attach();
  model_.SetVoicemails({{7, 0, kVoicemailUnplayed, "a"}, {8, 0, kVoicemailUnplayed, "b"}});
  model_.SendStringCommand("ALTER VOICEMAIL 7 STARTPLAYBACK");
  model_.SendStringCommand("ALTER VOICEMAIL 8 STARTPLAYBACK");
  model_.SendStringCommand("ALTER VOICEMAIL 8 STOPPLAYBACK");
  model_.SendStringCommand("ALTER VOICEMAIL 8 STOPPLAYBACK");
  model_.SendStringCommand("ALTER VOICEMAIL 99 STARTPLAYBACK");
  model_.SetVoicemailStatus(7, kVoicemailUnplayed);
  const V expected = {"vm 7 12", "vm 7 6", "vm 8 12", "vm 8 6", "ERROR 12 Invalid voicemail id", "vm 7 5"};
  EXPECT_EQ(expected, Replies());
  EXPECT_EQ(kVoicemailUnplayed, model_.VoicemailStatus(7));
}

TEST_F(SoftphoneModelTest, HeldRepliesWaitAndLeaveInOrderAndDelaysNeverReorder) {
  Attach();
  model_.SetHoldReplies(true);
  model_.SendStringCommand("GET MUTE");
  Call(4, "RINGING");
  model_.PostStatusText("USERSTATUS DND");
  EXPECT_EQ(V{}, Replies(500));
  EXPECT_EQ(1u, model_.Calls().size());  // the state changed at once, only the news waits
  EXPECT_EQ("DND", model_.Presence());
  model_.SetHoldReplies(false);
  EXPECT_EQ((V{"MUTE OFF", "4 RINGING", "USERSTATUS DND"}), Replies());

  const auto start = clock_.Now();
  model_.SetReplyDelay(20);
  model_.SendStringCommand("GET MUTE");
  model_.SetReplyDelay(0);
  model_.SendStringCommand("PROTOCOL 9");
  const auto messages = Take(50);
  ASSERT_EQ(2u, messages.size());
  EXPECT_EQ("MUTE OFF", messages[0].text);
  EXPECT_EQ("PROTOCOL 5", messages[1].text);
  EXPECT_EQ(start + 20, messages[1].time);
}

TEST_F(SoftphoneModelTest, TranscriptNamesTheCommandsAndCallsButNotThePolledQueries) {
  model_.Initialize(kWindow);
  model_.Connect2Tarvo();
  model_.SendStringCommand("GET MUTE");
  model_.SendCommandDirect("FOCUS");
  int n[6];
  model_.GetCallNumber(n[0], n[1], n[2], n[3], n[4], n[5]);
  char handle[platform::kRecentCallHandleSize];
  model_.GetRecentCallHandle(handle);
  model_.SetRecentCallHandle(std::string(150, 'h'));
  model_.GetRecentCallHandle(handle);
  EXPECT_EQ(99u, std::strlen(handle));
  model_.CloseTarvoMSGDialog();
  model_.SetMessageWindowOpen(true);
  model_.CloseTarvoMSGDialog();
  model_.SetCurrentCalltoOnHold();
  model_.MinimizeTarvo();
  model_.UpdateVMList();
  model_.UpdateContactList1();
  model_.Disconnect2Tarvo();
  const V expected = {"api Initialize",
                      "api Connect2Tarvo",
                      "cmd GET MUTE",
                      "cmd! FOCUS",
                      "api GetRecentCallHandle -> 0",
                      "api GetRecentCallHandle -> 1",
                      "api CloseTarvoMSGDialog -> 0",
                      "api CloseTarvoMSGDialog -> 1",
                      "api SetCurrentCalltoOnHold",
                      "api MinimizeTarvo",
                      "api UpdateVMList",
                      "api UpdateContactList1",
                      "api Disconnect2Tarvo"};
  EXPECT_EQ(expected, Lines());
  EXPECT_FALSE(model_.MessageWindowOpen());
}

}  // namespace
