// The handset model behind HidLink: acknowledgements, version answers, ring-tone uploads, status
// bits and the faults a scenario can order, observed as the bridge's window would see them.
#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/HandsetModel.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/WindowPoster.h"

using namespace sim;
using platform::WindowHandle;

namespace {

class RecordingPoster final : public WindowPoster {
 public:
  struct Post {
    std::uint64_t time = 0;
    WindowHandle window = 0;
    std::uint32_t msg = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
  };

  explicit RecordingPoster(VirtualClock& clock) : clock_(clock) {}

  bool PostTo(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
              std::shared_ptr<const void>) override {
    const auto now = clock_.Now();
    std::lock_guard lock(mutex_);
    posts_.push_back({now, window, msg, wParam, lParam});
    return true;
  }
  std::vector<Post> Posts() const {
    std::lock_guard lock(mutex_);
    return posts_;
  }

 private:
  VirtualClock& clock_;
  mutable std::mutex mutex_;
  std::vector<Post> posts_;
};

constexpr WindowHandle kMainWindow = 0x10A2;

// A world with one handset; the test thread takes part in the clock, so time moves only while
// it sleeps.
class HandsetTest : public ::testing::Test {
 protected:
  HandsetTest() { self_.emplace(clock_); }

  void Connect(std::uint16_t product = 0x1402, std::uint8_t major = 1, std::uint8_t minor = 4) {
    handset_.Plug(product, major, minor);
    ASSERT_EQ(1, handset_.FindDevice(0x11F1, product));
    ASSERT_EQ(1, handset_.OpenDevice(kMainWindow));
    handset_.SetNotifyMessage(0x464);
  }
  int Write(std::uint8_t code, std::uint8_t status = 0x42) {
    const std::uint8_t report[8] = {0xC0, 0x00, code, status, 0x00, 0x00, 0x00, 0x00};
    return handset_.WriteReport(report, 7);
  }
  // Writes each byte and waits for its answer, as the sender thread does.
  void WriteEach(const std::vector<std::uint8_t>& codes) {
    for (const auto code : codes) {
      Write(code);
      clock_.Sleep(10);
    }
  }
  // Input reports as the window unpacks them.
  std::vector<std::string> Received() const {
    std::vector<std::string> reports;
    for (const auto& post : poster_.Posts()) {
      std::uint8_t b[7];
      platform::UnpackReport(post.wParam, post.lParam, b);
      reports.push_back(HexBytes(b, 7));
    }
    return reports;
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto& line : transcript_.Lines()) lines.push_back(Transcript::Format(line));
    return lines;
  }
  std::vector<std::string> Channel(const std::string& channel) const {
    std::vector<std::string> payloads;
    for (const auto& line : transcript_.Lines()) {
      if (line.channel == channel) payloads.push_back(line.payload);
    }
    return payloads;
  }

  VirtualClock clock_;
  Transcript transcript_{clock_};
  Scheduler scheduler_{clock_};
  RecordingPoster poster_{clock_};
  HandsetModel handset_{clock_, scheduler_, transcript_, poster_};
  std::optional<VirtualClock::Participant> self_;
};

TEST_F(HandsetTest, AcknowledgesCommandsAfterTheDelayWithFreshSequenceBytes) {
  Connect();
  EXPECT_EQ(1, Write(0x9A));
  clock_.Sleep(4);
  EXPECT_TRUE(poster_.Posts().empty());
  clock_.Sleep(6);
  EXPECT_EQ(HandsetModel::Ringer::kRinging, handset_.RingerState());
  EXPECT_EQ(1, Write(0x9C));
  handset_.SetAckDelay(40);
  EXPECT_EQ(1, Write(0x9F));
  clock_.Sleep(100);
  EXPECT_EQ(HandsetModel::Ringer::kQuiet, handset_.RingerState());

  const std::vector<std::string> expected = {
      "       0 hidlib find 11F1 1402 found", "       0 hidlib open ok",
      "       0 hidlib message 0x0464",       "       0 hid> C0 00 9A 42 00 00 00",
      "       5 hid< 00 5A 01 42 00 00 00",   "      10 hid> C0 00 9C 42 00 00 00",
      "      10 hid> C0 00 9F 42 00 00 00",   "      15 hid< 00 5A 02 42 00 00 00",
      "      50 hid< 00 5A 03 42 00 00 00"};
  EXPECT_EQ(expected, Lines());
  const auto posts = poster_.Posts();
  ASSERT_EQ(3u, posts.size());
  for (const auto& post : posts) {
    EXPECT_EQ(kMainWindow, post.window);
    EXPECT_EQ(0x464u, post.msg);
  }
  std::vector<std::uint64_t> writeTimes;
  for (const auto& written : handset_.WrittenReports()) writeTimes.push_back(written.time);
  EXPECT_EQ((std::vector<std::uint64_t>{0, 10, 10}), writeTimes);
}

TEST_F(HandsetTest, AnswersVersionRequestsByTheReplyMode) {
  Connect(0x1403, 2, 7);
  handset_.DropAcks(1);  // version requests must neither use nor be subject to it
  WriteEach({0x90, 0x91});
  handset_.SetVersionReply(HandsetModel::VersionReply::kSilent);
  WriteEach({0x90, 0x91});
  handset_.SetVersionReply(HandsetModel::VersionReply::kAck);
  WriteEach({0x90, 0x91});
  EXPECT_EQ(1u, handset_.PendingDrops());
  const std::vector<std::string> expected = {"00 02 01 42 00 00 00", "00 07 02 42 00 00 00", "00 5A 03 42 00 00 00",
                                             "00 5A 04 42 00 00 00"};
  EXPECT_EQ(expected, Received());
}

TEST_F(HandsetTest, StatusReportsSetTheBitsAreNeverAcknowledgedAndEchoInInputReports) {
  Connect();
  EXPECT_FALSE(handset_.IndicatorOn());
  EXPECT_FALSE(handset_.KeyActivityOn());
  Write(0x00, 0x40);
  EXPECT_TRUE(handset_.IndicatorOn());
  EXPECT_FALSE(handset_.KeyActivityOn());
  Write(0x00, 0x43);
  EXPECT_FALSE(handset_.IndicatorOn());
  EXPECT_TRUE(handset_.KeyActivityOn());
  clock_.Sleep(50);
  EXPECT_TRUE(poster_.Posts().empty());
  // A command's own byte 3 is not the status: only status reports change it.
  Write(0x9A, 0x40);
  clock_.Sleep(10);
  EXPECT_FALSE(handset_.IndicatorOn());
  handset_.PressKey(0x20);
  EXPECT_EQ((std::vector<std::string>{"00 5A 01 43 00 00 00", "00 20 02 43 00 00 00"}), Received());
}

TEST_F(HandsetTest, CapturesUploadsWhoseParametersLookLikeCommandsAndRestartsAPair) {
  Connect();
  // The acknowledgement of P3 went missing: restart, then the pair again from its tag. Status
  // reports of the other threads arrive in between.
  WriteEach({0x81, 230, 0x82, 234, 0x83, 20});
  Write(0x00, 0x40);
  WriteEach({0x9F, 0x83, 20, 0x84, 25, 0x85, 40});
  ASSERT_TRUE(handset_.StoredRingTone());
  EXPECT_EQ((HandsetModel::RingTone{230, 234, 20, 25, 40}), *handset_.StoredRingTone());
  EXPECT_EQ(1u, handset_.CompletedUploads());
  EXPECT_EQ(13u, poster_.Posts().size());  // every byte acknowledged, the restart byte too

  // Restarts right after a tag (the last one too), and parameters equal to command codes: no
  // ringing, no version answer, no early or extra upload.
  WriteEach({0x81, 0x9A, 0x82, 0x9F, 0x82, 0x90, 0x83, 0x81, 0x84, 0x85, 0x85, 0x9F, 0x85, 0x91});
  EXPECT_EQ((HandsetModel::RingTone{0x9A, 0x90, 0x81, 0x85, 0x91}), *handset_.StoredRingTone());
  EXPECT_EQ(2u, handset_.CompletedUploads());
  EXPECT_EQ(HandsetModel::Ringer::kQuiet, handset_.RingerState());
  for (const auto& report : Received()) EXPECT_EQ("5A", report.substr(3, 2)) << report;
}

TEST_F(HandsetTest, AnUploadCutShortStoresNothingAndLeavesCommandsWorking) {
  Connect();
  WriteEach({0x81, 230, 0x82, 234, 0x83, 20});
  WriteEach({0x9A});  // not a tag where one is due: the upload is over, the command counts
  EXPECT_EQ(HandsetModel::Ringer::kRinging, handset_.RingerState());
  WriteEach({0x84, 25, 0x85, 40});  // tags without their start are plain commands
  WriteEach({0x90});
  EXPECT_FALSE(handset_.StoredRingTone());
  EXPECT_EQ(0u, handset_.CompletedUploads());
  EXPECT_EQ("00 01 0C 42 00 00 00", Received().back());  // the version request answered again

  // A new 0x81 after an abandoned one starts afresh; a tag skipped ahead abandons it.
  WriteEach({0x81, 1, 0x83, 3});
  WriteEach({0x81, 1, 0x82, 2, 0x83, 3, 0x84, 4, 0x85, 5});
  EXPECT_EQ((HandsetModel::RingTone{1, 2, 3, 4, 5}), *handset_.StoredRingTone());
}

TEST_F(HandsetTest, DropsTheNextAcknowledgementsOfCommandsOnly) {
  Connect();
  handset_.DropAcks(2);
  Write(0x00, 0x40);  // status reports are not counted
  WriteEach({0x9A, 0x90, 0x9C, 0x9F, 0x92});
  EXPECT_EQ(0u, handset_.PendingDrops());
  const std::vector<std::string> expected = {"00 01 01 40 00 00 00", "00 5A 02 40 00 00 00", "00 5A 03 40 00 00 00"};
  EXPECT_EQ(expected, Received());
  // The commands still acted.
  EXPECT_EQ(HandsetModel::Ringer::kQuiet, handset_.RingerState());
}

TEST_F(HandsetTest, UnplugFailsWritesLosesPendingAcksAndFindsNothingUntilPluggedAgain) {
  Connect();
  handset_.PressKey(0x20);
  Write(0x9A);
  clock_.Sleep(2);
  handset_.Unplug();
  EXPECT_FALSE(handset_.Plugged());
  EXPECT_FALSE(handset_.Opened());
  EXPECT_EQ(0, Write(0x00));
  EXPECT_FALSE(handset_.PressKey(0x20));
  EXPECT_FALSE(handset_.Repeat());
  clock_.Sleep(100);
  EXPECT_EQ(1u, poster_.Posts().size());
  EXPECT_EQ(0, handset_.FindDevice(0x11F1, 0x1402));
  EXPECT_EQ(0, handset_.OpenDevice(kMainWindow));
  handset_.CloseDevice();
  handset_.ReleaseLibrary();

  // Plugged again under the other product id: found only under that one, opened again.
  handset_.Plug(0x1403);
  EXPECT_EQ(0, Write(0x9A));  // the old handle is gone
  EXPECT_EQ(0, handset_.FindDevice(0x11F1, 0x1402));
  EXPECT_EQ(0, handset_.OpenDevice(kMainWindow));
  EXPECT_EQ(0, handset_.FindDevice(0x11F2, 0x1403));
  EXPECT_EQ(1, handset_.FindDevice(0x11F1, 0x1403));
  EXPECT_EQ(1, handset_.OpenDevice(kMainWindow));
  EXPECT_EQ(1, Write(0x9F));
  clock_.Sleep(10);

  const std::vector<std::string> expected = {"C0 00 9A 42 00 00 00 failed", "C0 00 9F 42 00 00 00"};
  auto hid = Channel("hid>");
  EXPECT_EQ(expected, std::vector<std::string>(hid.end() - 2, hid.end()));
  EXPECT_EQ("C0 00 00 42 00 00 00 failed", hid.at(1));
  const std::vector<std::string> library = {"find 11F1 1402 found",
                                            "open ok",
                                            "message 0x0464",
                                            "find 11F1 1402 none",
                                            "open failed",
                                            "close 10",
                                            "close 2",
                                            "find 11F1 1402 none",
                                            "open failed",
                                            "find 11F2 1403 none",
                                            "find 11F1 1403 found",
                                            "open ok"};
  EXPECT_EQ(library, Channel("hidlib"));
  // The sequence goes on across the replug: the first report after it is no repeat.
  EXPECT_EQ((std::vector<std::string>{"00 20 01 42 00 00 00", "00 5A 02 42 00 00 00"}), Received());
}

TEST_F(HandsetTest, TheLibraryOpensOnlyWhatItFoundAndClosingStopsReports) {
  handset_.Plug();
  EXPECT_EQ(0, handset_.OpenDevice(kMainWindow));  // not found yet
  EXPECT_EQ(0, Write(0x00));                       // not open
  EXPECT_EQ(1, handset_.FindDevice(0x11F1, 0x1402));
  EXPECT_EQ(1, handset_.OpenDevice(kMainWindow));
  Write(0x9A);
  handset_.CloseDevice();
  EXPECT_FALSE(handset_.Opened());
  EXPECT_EQ(0, Write(0x9F));
  EXPECT_EQ(1, handset_.OpenDevice(kMainWindow));  // still found after step 10
  clock_.Sleep(20);
  EXPECT_TRUE(poster_.Posts().empty());  // the acknowledgement went with the closed handle
  handset_.SetNotifyMessage(0x500);
  handset_.ReleaseLibrary();
  EXPECT_EQ(0, handset_.OpenDevice(kMainWindow));
  EXPECT_EQ(0x464u, handset_.NotifyMessage());
}

TEST_F(HandsetTest, SequenceBytesStartAwayFrom100WrapAndRepeatOnCommand) {
  Connect();
  handset_.PressKey(0x1D);
  handset_.Repeat();
  handset_.SetNextSequence(0xFF);
  handset_.PressKey(0x1E);
  handset_.PressKey(0x1E);
  handset_.SetNextSequence(100);
  handset_.PressKey(0x20);
  // An injected report goes out as given; the count continues after its sequence byte.
  handset_.InjectReport({0x07, 0xC3, 0x30, 0x11, 0x22, 0x33, 0x44});
  handset_.Repeat();
  handset_.PressKey(0x1F);
  const std::vector<std::string> expected = {"00 1D 01 42 00 00 00", "00 1D 01 42 00 00 00", "00 1E FF 42 00 00 00",
                                             "00 1E 00 42 00 00 00", "00 20 64 42 00 00 00", "07 C3 30 11 22 33 44",
                                             "07 C3 30 11 22 33 44", "00 1F 31 42 00 00 00"};
  EXPECT_EQ(expected, Received());
  EXPECT_EQ(expected, Channel("hid<"));
}

TEST_F(HandsetTest, ReportsPackIntoTheMessageParametersTheLibraryDefines) {
  Connect();
  handset_.SetNotifyMessage(0x500);
  handset_.InjectReport({0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07});
  const auto posts = poster_.Posts();
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ(0x500u, posts[0].msg);
  EXPECT_EQ(kMainWindow, posts[0].window);
  EXPECT_EQ(std::uintptr_t{0xA1B2C3}, posts[0].wParam);
  // b3 in the top byte: a negative 32-bit lParam, sign-extended at any width.
  EXPECT_EQ(static_cast<std::intptr_t>(static_cast<std::int32_t>(0xD4E5F607u)), posts[0].lParam);
  EXPECT_LT(posts[0].lParam, 0);
  EXPECT_EQ("hidlib message 0x0500", Transcript::Body(transcript_.At(3)));
}

TEST_F(HandsetTest, BadWritesFailAndReportsOfAnotherIdAreIgnored) {
  Connect();
  const std::uint8_t report[8] = {0xC0, 0x00, 0x9A, 0x42, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(0, handset_.WriteReport(report, 6));
  EXPECT_EQ(0, handset_.WriteReport(nullptr, 7));
  const std::uint8_t foreign[8] = {0x01, 0x00, 0x9A, 0x42, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(1, handset_.WriteReport(foreign, 7));
  clock_.Sleep(20);
  EXPECT_TRUE(poster_.Posts().empty());
  EXPECT_EQ(HandsetModel::Ringer::kQuiet, handset_.RingerState());
  EXPECT_EQ((std::vector<std::string>{"C0 00 9A 42 00 00 failed", "failed", "01 00 9A 42 00 00 00"}), Channel("hid>"));
  const auto written = handset_.WrittenReports();
  ASSERT_EQ(3u, written.size());
  EXPECT_FALSE(written[0].ok);
  EXPECT_TRUE(written[2].ok);
}

TEST_F(HandsetTest, TheHistoryOfWrittenReportsKeepsOnlyTheNewest) {
  Connect();
  const std::size_t total = HandsetModel::kWrittenHistory + 10;
  for (std::size_t i = 0; i < total; ++i) {
    const std::uint8_t report[8] = {0xC0, 0x00, 0x00, static_cast<std::uint8_t>(i), 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(1, handset_.WriteReport(report, 7));
  }
  const auto written = handset_.WrittenReports();
  ASSERT_EQ(HandsetModel::kWrittenHistory, written.size());
  EXPECT_EQ(10, written.front().bytes[3]) << "the oldest ten went";
  EXPECT_EQ(static_cast<std::uint8_t>(total - 1), written.back().bytes[3]);
}

TEST_F(HandsetTest, PlugIsAPowerOnThatForgetsTheToneAndRinging) {
  Connect();
  WriteEach({0x81, 1, 0x82, 2, 0x83, 3, 0x84, 4, 0x85, 5, 0x9C});
  Write(0x00, 0x41);
  ASSERT_TRUE(handset_.StoredRingTone());
  handset_.Unplug();
  handset_.Plug();
  EXPECT_FALSE(handset_.StoredRingTone());
  EXPECT_EQ(HandsetModel::Ringer::kQuiet, handset_.RingerState());
  EXPECT_FALSE(handset_.IndicatorOn());
  EXPECT_FALSE(handset_.KeyActivityOn());
  EXPECT_EQ(1u, handset_.CompletedUploads());
}

TEST_F(HandsetTest, WritesFromSeveralThreadsAreEachAcknowledged) {
  Connect();
  self_.reset();  // the writers below are not participants; time runs on its own
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([this, t] {
      for (int i = 0; i < 50; ++i) Write(t % 2 ? 0x00 : 0x92);
    });
  }
  for (auto& writer : writers) writer.join();
  clock_.RunUntilIdle();
  EXPECT_EQ(200u, Channel("hid>").size());
  EXPECT_EQ(100u, poster_.Posts().size());
}

// A short session, run in a world of its own.
std::vector<std::string> SessionTranscript() {
  VirtualClock clock;
  Transcript transcript(clock);
  Scheduler scheduler(clock);
  RecordingPoster poster(clock);
  HandsetModel handset(clock, scheduler, transcript, poster);
  std::vector<std::thread> threads;
  {
    VirtualClock::Participant self(clock);
    handset.Plug(0x1402, 1, 4);
    handset.FindDevice(0x11F1, 0x1402);
    handset.OpenDevice(kMainWindow);
    handset.SetNotifyMessage(0x464);
    // Two program threads at once: a status writer and a command sender.
    threads.push_back(clock.Spawn([&] {
      for (int i = 0; i < 5; ++i) {
        const std::uint8_t report[8] = {0xC0, 0, 0, static_cast<std::uint8_t>(i % 2 ? 0x40 : 0x42), 0, 0, 0, 0};
        handset.WriteReport(report, 7);
        clock.Sleep(7);
      }
    }));
    threads.push_back(clock.Spawn([&] {
      for (const std::uint8_t code : {0x9F, 0x90, 0x91, 0x81, 230, 0x9A}) {
        const std::uint8_t report[8] = {0xC0, 0, code, 0x42, 0, 0, 0, 0};
        handset.WriteReport(report, 7);
        clock.Sleep(3);
      }
    }));
    handset.DropAcks(1);
    clock.Sleep(20);
    handset.PressKey(0x20);
    handset.Repeat();
    handset.Unplug();
  }
  for (auto& thread : threads) thread.join();
  clock.RunUntilIdle();
  std::vector<std::string> lines;
  for (const auto& line : transcript.Lines()) lines.push_back(Transcript::Format(line));
  return lines;
}

TEST(HandsetSession, TranscriptIsIdenticalAcrossRuns) {
  const auto first = SessionTranscript();
  ASSERT_GT(first.size(), 15u);
  for (int run = 0; run < 4; ++run) EXPECT_EQ(first, SessionTranscript()) << "run " << run;
}

}  // namespace
