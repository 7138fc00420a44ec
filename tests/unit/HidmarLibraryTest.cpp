// Hidmar.dll's behaviour on a fake HID stack: where the seven bytes sit in the device's report
// buffers, what each ordinal does in any order, reports reaching the window packed as the bridge
// unpacks them, and writers racing a close.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "companions/hidmar/real/HidmarLibrary.h"
#include "companions/hidmar/real/ReportFrame.h"
#include "platform/HidLink.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using hidmar::HidmarLibrary;
using hidmar::Report;
using hidmar::ReportShape;

constexpr Report kSample = {0xC0, 0x00, 0x9A, 0x42, 0x00, 0x11, 0x22};

// --- report buffers --------------------------------------------------------------------------

TEST(HidmarReportFrame, WithoutReportIdsTheBytesFollowALeadingZero) {
  EXPECT_EQ(hidmar::OutputBuffer({8, 8, false}, kSample), (Bytes{0x00, 0xC0, 0x00, 0x9A, 0x42, 0x00, 0x11, 0x22}));
  // A longer report is padded with zeros, a shorter one keeps what fits: Windows takes exactly
  // the device's length.
  const Bytes longer = hidmar::OutputBuffer({8, 12, false}, kSample);
  EXPECT_EQ(longer, (Bytes{0x00, 0xC0, 0x00, 0x9A, 0x42, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(hidmar::OutputBuffer({8, 4, false}, kSample), (Bytes{0x00, 0xC0, 0x00, 0x9A}));

  EXPECT_EQ(hidmar::InputReport({8, 8, false}, {0x00, 0x01, 0x5A, 0x07, 0x42, 0x00, 0x00, 0x09}),
            (Report{0x01, 0x5A, 0x07, 0x42, 0x00, 0x00, 0x09}));
  // Bytes beyond the seven are not the handset's; missing ones read as 0.
  EXPECT_EQ(hidmar::InputReport({10, 8, false}, {0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9}), (Report{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(hidmar::InputReport({8, 8, false}, {0x00, 0x01, 0x5A}), (Report{0x01, 0x5A, 0, 0, 0, 0, 0}));
  EXPECT_EQ(hidmar::InputReport({8, 8, false}, {0x00}), Report{});
  EXPECT_EQ(hidmar::InputReport({8, 8, false}, {}), Report{});
}

TEST(HidmarReportFrame, WithReportIdsTheFirstOfTheSevenBytesIsTheId) {
  EXPECT_EQ(hidmar::OutputBuffer({7, 7, true}, kSample), Bytes(kSample.begin(), kSample.end()));
  EXPECT_EQ(hidmar::OutputBuffer({7, 9, true}, kSample), (Bytes{0xC0, 0x00, 0x9A, 0x42, 0x00, 0x11, 0x22, 0x00, 0x00}));
  EXPECT_EQ(hidmar::InputReport({7, 7, true}, {0x05, 0x01, 0x5A, 0x07, 0x42, 0x00, 0x00}),
            (Report{0x05, 0x01, 0x5A, 0x07, 0x42, 0x00, 0x00}));
  EXPECT_EQ(hidmar::InputReport({7, 7, true}, {0x05}), (Report{0x05, 0, 0, 0, 0, 0, 0}));
}

TEST(HidmarReportFrame, ADeviceWithoutOutputReportGetsNoBuffer) {
  EXPECT_TRUE(hidmar::OutputBuffer({8, 0, false}, kSample).empty());
  EXPECT_TRUE(hidmar::OutputBuffer({8, 1, false}, kSample) == Bytes{0x00});
  EXPECT_TRUE(hidmar::OutputBuffer({8, 0, true}, kSample).empty());
}

// --- a fake HID stack ----------------------------------------------------------------------

// What the test sees of one opened device, alive after the library let go of it.
struct DeviceRecord {
  std::string path;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Bytes> pending;  // input reports the handset has sent
  std::vector<Bytes> written;
  bool interrupted = false;
  bool gone = false;
  bool closed = false;
  int readers = 0;  // Read calls in progress
  bool refuseWrites = false;

  void Send(Bytes buffer) {
    std::lock_guard lock(mutex);
    pending.push_back(std::move(buffer));
    changed.notify_all();
  }
  void Unplug() {
    std::lock_guard lock(mutex);
    gone = true;
    changed.notify_all();
  }
  bool Closed() {
    std::lock_guard lock(mutex);
    return closed;
  }
  std::vector<Bytes> Written() {
    std::lock_guard lock(mutex);
    return written;
  }
  // Waits until the reader has taken every pending report and waits again.
  bool WaitIdle() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5), [&] { return pending.empty() && readers == 1; });
  }
};

class FakeDevice final : public hidmar::HidDevice {
 public:
  FakeDevice(std::shared_ptr<DeviceRecord> record, ReportShape shape) : record_(std::move(record)), shape_(shape) {}
  ~FakeDevice() override {
    std::lock_guard lock(record_->mutex);
    record_->closed = true;
  }

  ReportShape Shape() const override { return shape_; }

  bool Read(Bytes& buffer) override {
    std::unique_lock lock(record_->mutex);
    ++record_->readers;
    record_->changed.notify_all();
    record_->changed.wait(lock, [&] { return record_->interrupted || record_->gone || !record_->pending.empty(); });
    --record_->readers;
    if (record_->interrupted || record_->gone) return false;
    buffer = std::move(record_->pending.front());
    record_->pending.pop_front();
    record_->changed.notify_all();
    return true;
  }

  void Interrupt() override {
    std::lock_guard lock(record_->mutex);
    record_->interrupted = true;
    record_->changed.notify_all();
  }

  bool Write(const Bytes& buffer) override {
    std::lock_guard lock(record_->mutex);
    if (record_->interrupted || record_->gone || record_->refuseWrites) return false;
    record_->written.push_back(buffer);
    return true;
  }

 private:
  std::shared_ptr<DeviceRecord> record_;
  ReportShape shape_;
};

struct Posted {
  std::uintptr_t window;
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  bool operator==(const Posted&) const = default;
};

class FakeHidSystem final : public hidmar::HidSystem {
 public:
  // Adds a present interface (one top-level collection) with these ids, opened with `shape`;
  // `openable` false: it does not open for reading and writing, as a keyboard or mouse
  // collection that Windows holds. Returns its path.
  std::string Plug(std::uint16_t vendorId, std::uint16_t productId, ReportShape shape = {8, 8, false},
                   bool openable = true) {
    std::lock_guard lock(mutex_);
    const std::string path = "hid#" + std::to_string(vendorId) + "&" + std::to_string(productId) + "&col" +
                             std::to_string(collections_.size());
    collections_.push_back({path, vendorId, productId, shape, openable});
    return path;
  }
  // Every later Open fails (the device went, or someone took it, after the search).
  void RefuseOpen() { refuseOpen_ = true; }

  std::vector<std::string> FindPaths(std::uint16_t vendorId, std::uint16_t productId) override {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const auto& collection : collections_) {
      if (collection.vendorId == vendorId && collection.productId == productId) paths.push_back(collection.path);
    }
    return paths;
  }

  std::optional<ReportShape> Examine(const std::string& path) override {
    std::lock_guard lock(mutex_);
    const Collection* collection = Find(path);
    if (!collection || !collection->openable) return std::nullopt;
    return collection->shape;
  }

  std::unique_ptr<hidmar::HidDevice> Open(const std::string& path) override {
    if (refuseOpen_) return nullptr;
    std::lock_guard lock(mutex_);
    const Collection* collection = Find(path);
    if (!collection || !collection->openable) return nullptr;
    const auto record = std::make_shared<DeviceRecord>();
    record->path = path;
    opened_.push_back(record);
    return std::make_unique<FakeDevice>(record, collection->shape);
  }

  void Post(std::uintptr_t window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
    std::lock_guard lock(mutex_);
    posts_.push_back({window, message, wParam, lParam});
  }

  std::vector<std::shared_ptr<DeviceRecord>> Opened() {
    std::lock_guard lock(mutex_);
    return opened_;
  }
  std::shared_ptr<DeviceRecord> Last() {
    std::lock_guard lock(mutex_);
    return opened_.empty() ? nullptr : opened_.back();
  }
  std::vector<Posted> Posts() {
    std::lock_guard lock(mutex_);
    return posts_;
  }

 private:
  struct Collection {
    std::string path;
    std::uint16_t vendorId;
    std::uint16_t productId;
    ReportShape shape;
    bool openable;
  };
  const Collection* Find(const std::string& path) const {
    for (const auto& collection : collections_) {
      if (collection.path == path) return &collection;
    }
    return nullptr;
  }

  std::mutex mutex_;
  std::vector<Collection> collections_;
  std::vector<std::shared_ptr<DeviceRecord>> opened_;
  std::vector<Posted> posts_;
  std::atomic<bool> refuseOpen_{false};
};

constexpr std::uintptr_t kWindow = 0x10A2;
constexpr std::uint8_t kStatusReport[8] = {0xC0, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00, 0xEE};

class HidmarLibraryTest : public ::testing::Test {
 protected:
  // Finds and opens the handset, as the bridge's device monitor does.
  std::shared_ptr<DeviceRecord> Connect(ReportShape shape = {8, 8, false}) {
    system_.Plug(0x11F1, 0x1402, shape);
    EXPECT_EQ(1, library_.Find(0x11F1, 0x1402));
    EXPECT_EQ(1, library_.Open(kWindow));
    library_.SetMessage(0x464);
    return system_.Last();
  }

  FakeHidSystem system_;
  HidmarLibrary library_{system_};
};

// --- the ordinals --------------------------------------------------------------------------

TEST_F(HidmarLibraryTest, FindsOnlyTheIdsAskedFor) {
  system_.Plug(0x11F1, 0x1403);
  EXPECT_EQ(0, library_.Find(0x11F1, 0x1402));
  EXPECT_EQ(1, library_.Find(0x11F1, 0x1403));
  // USB ids are 16 bits: a wider value must not be cut down to one that matches.
  EXPECT_EQ(0, library_.Find(0x111F1, 0x1403));
  EXPECT_EQ(0, library_.Find(0x11F1, 0x11403));
}

// A device shows one interface per top-level collection, all with its ids. The handset's is the
// one that opens for reading and writing and has its output report; the others are passed over.
TEST(HidmarCollections, TheFirstCollectionThatTakesTheHandsetsReportsIsChosen) {
  struct Case {
    const char* what;
    ReportShape shape;
    bool openable;
  };
  const Case unsuitable[] = {
      {"held by the system (a keyboard or mouse)", {8, 8, false}, false},
      {"a longer output report", {8, 9, false}, true},
      {"no output report", {8, 0, false}, true},
      {"numbered, with a byte too many", {8, 8, true}, true},
      {"unnumbered, with the id byte missing", {8, 7, false}, true},
  };
  for (const auto& first : unsuitable) {
    SCOPED_TRACE(first.what);
    FakeHidSystem system;
    HidmarLibrary library(system);
    system.Plug(0x11F1, 0x1402, first.shape, first.openable);
    const std::string handset = system.Plug(0x11F1, 0x1402, {8, 8, false});
    system.Plug(0x11F1, 0x1402, {7, 7, true});  // fits too, but comes later
    ASSERT_EQ(1, library.Find(0x11F1, 0x1402));
    ASSERT_EQ(1, library.Open(kWindow));
    ASSERT_EQ(1u, system.Opened().size());
    EXPECT_EQ(handset, system.Last()->path);
    EXPECT_EQ(1, library.Write(kStatusReport, 7));
    EXPECT_EQ(system.Last()->Written(), (std::vector<Bytes>{{0x00, 0xC0, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00}}));
  }

  // With report ids the handset's output report is the seven bytes themselves.
  FakeHidSystem system;
  HidmarLibrary library(system);
  system.Plug(0x11F1, 0x1403, {8, 8, true});
  const std::string numbered = system.Plug(0x11F1, 0x1403, {7, 7, true});
  ASSERT_EQ(1, library.Find(0x11F1, 0x1403));
  ASSERT_EQ(1, library.Open(kWindow));
  EXPECT_EQ(numbered, system.Last()->path);
}

TEST(HidmarCollections, NoSuitableCollectionIsNoHandset) {
  FakeHidSystem system;
  HidmarLibrary library(system);
  system.Plug(0x11F1, 0x1402, {8, 8, false}, false);
  system.Plug(0x11F1, 0x1402, {8, 0, false});
  system.Plug(0x11F1, 0x1402, {8, 65, false});
  system.Plug(0x11F1, 0x1403, {8, 8, false});  // suitable, but other ids
  EXPECT_EQ(0, library.Find(0x11F1, 0x1402));
  EXPECT_EQ(0, library.Open(kWindow));
  EXPECT_TRUE(system.Opened().empty());
}

TEST_F(HidmarLibraryTest, OpensOnlyWhatTheLastSearchFound) {
  system_.Plug(0x11F1, 0x1402);
  EXPECT_EQ(0, library_.Open(kWindow)) << "nothing searched yet";
  EXPECT_EQ(1, library_.Find(0x11F1, 0x1402));
  EXPECT_EQ(0, library_.Find(0x11F1, 0x1403));
  EXPECT_EQ(0, library_.Open(kWindow)) << "the failed search forgot the earlier find";
  EXPECT_TRUE(system_.Opened().empty());

  EXPECT_EQ(1, library_.Find(0x11F1, 0x1402));
  EXPECT_EQ(1, library_.Open(kWindow));
  EXPECT_EQ(1, library_.Open(kWindow + 2)) << "open again: same device, new window";
  EXPECT_EQ(1u, system_.Opened().size());
}

TEST_F(HidmarLibraryTest, AnInterfaceThatCannotBeOpenedFailsTheOpen) {
  system_.Plug(0x11F1, 0x1402);
  system_.RefuseOpen();
  EXPECT_EQ(1, library_.Find(0x11F1, 0x1402));
  EXPECT_EQ(0, library_.Open(kWindow));
  EXPECT_EQ(0, library_.Write(kStatusReport, 7));
}

TEST_F(HidmarLibraryTest, WritesTheSevenBytesFramedForTheDevice) {
  EXPECT_EQ(0, library_.Write(kStatusReport, 7)) << "before open";
  const auto device = Connect();
  EXPECT_EQ(1, library_.Write(kStatusReport, 7));
  // The eighth byte of the caller's buffer lies outside the written length.
  EXPECT_EQ(device->Written(), (std::vector<Bytes>{{0x00, 0xC0, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00}}));

  EXPECT_EQ(0, library_.Write(kStatusReport, 6));
  EXPECT_EQ(0, library_.Write(kStatusReport, 8));
  EXPECT_EQ(0, library_.Write(kStatusReport, -7));
  EXPECT_EQ(0, library_.Write(nullptr, 7));
  EXPECT_EQ(1u, device->Written().size());

  device->refuseWrites = true;
  EXPECT_EQ(0, library_.Write(kStatusReport, 7));
}

TEST_F(HidmarLibraryTest, ADeviceWithReportIdsGetsTheBytesAsTheyAre) {
  const auto device = Connect({7, 7, true});
  EXPECT_EQ(1, library_.Write(kStatusReport, 7));
  EXPECT_EQ(device->Written(), (std::vector<Bytes>{{0xC0, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00}}));
}

TEST_F(HidmarLibraryTest, ReportsReachTheWindowPackedWithTheCurrentMessage) {
  const auto device = Connect();
  device->Send({0x00, 0x01, 0x5A, 0x07, 0x42, 0x00, 0x00, 0x00});
  ASSERT_TRUE(device->WaitIdle());
  library_.SetMessage(0x500);
  device->Send({0x00, 0x80, 0x1C, 0x08, 0xFF, 0xFE, 0xFD, 0xFC});
  ASSERT_TRUE(device->WaitIdle());
  EXPECT_EQ(1, library_.Open(kWindow + 2));
  device->Send({0x00, 0x00, 0x20, 0x09, 0x00, 0x00, 0x00, 0x01});
  ASSERT_TRUE(device->WaitIdle());

  const std::vector<Posted> posts = system_.Posts();
  ASSERT_EQ(3u, posts.size());
  EXPECT_EQ(posts[0], (Posted{kWindow, 0x464, 0x015A07, 0x42000000}));
  // b3..b6 FF FE FD FC: lParam is negative, and still not the -1 that carries no report.
  EXPECT_EQ(posts[1], (Posted{kWindow, 0x500, 0x801C08, static_cast<std::int32_t>(0xFFFEFDFCu)}));
  EXPECT_EQ(posts[2], (Posted{kWindow + 2, 0x500, 0x002009, 0x00000001}));
  // The bridge gets the bytes back as they left the handset.
  std::uint8_t bytes[7];
  platform::UnpackReport(posts[1].wParam, posts[1].lParam, bytes);
  EXPECT_EQ(std::to_array(bytes), (Report{0x80, 0x1C, 0x08, 0xFF, 0xFE, 0xFD, 0xFC}));
}

TEST_F(HidmarLibraryTest, CloseEndsTheReaderAndClosesTheDevice) {
  const auto device = Connect();
  ASSERT_TRUE(device->WaitIdle());
  library_.Close();
  EXPECT_TRUE(device->Closed()) << "the reader has ended and let go of it";
  device->Send({0x00, 0x01, 0x5A, 0x07, 0x42, 0x00, 0x00, 0x00});
  EXPECT_EQ(0, library_.Write(kStatusReport, 7));
  library_.Close();
  EXPECT_TRUE(system_.Posts().empty());

  // The found device is still known: it opens again without a new search.
  EXPECT_EQ(1, library_.Open(kWindow));
  EXPECT_EQ(2u, system_.Opened().size());
  EXPECT_EQ(1, library_.Write(kStatusReport, 7));
}

TEST_F(HidmarLibraryTest, ReleaseClosesAndForgetsTheDeviceAndTheMessage) {
  const auto device = Connect();
  library_.SetMessage(0x500);
  library_.Release();  // without Close first
  EXPECT_TRUE(device->Closed());
  EXPECT_EQ(0, library_.Open(kWindow));
  library_.Release();

  EXPECT_EQ(1, library_.Find(0x11F1, 0x1402));
  EXPECT_EQ(1, library_.Open(kWindow));
  system_.Last()->Send({0x00, 0x01, 0x5A, 0x07, 0x42, 0x00, 0x00, 0x00});
  ASSERT_TRUE(system_.Last()->WaitIdle());
  ASSERT_EQ(1u, system_.Posts().size());
  EXPECT_EQ(0x464u, system_.Posts()[0].message);
}

TEST_F(HidmarLibraryTest, AnUnpluggedDeviceFailsWritesUntilClosed) {
  const auto device = Connect();
  device->Unplug();
  EXPECT_EQ(0, library_.Write(kStatusReport, 7));
  // The library reports no removal of its own: the owner closes after a failed write.
  EXPECT_TRUE(system_.Posts().empty());
  library_.Close();
  library_.Release();
  EXPECT_TRUE(device->Closed());
}

TEST_F(HidmarLibraryTest, NoReportWithoutAWindow) {
  system_.Plug(0x11F1, 0x1402);
  ASSERT_EQ(1, library_.Find(0x11F1, 0x1402));
  ASSERT_EQ(1, library_.Open(0));
  system_.Last()->Send({0x00, 0x01, 0x5A, 0x07, 0x42, 0x00, 0x00, 0x00});
  ASSERT_TRUE(system_.Last()->WaitIdle());
  EXPECT_TRUE(system_.Posts().empty());
}

TEST_F(HidmarLibraryTest, DestroyingTheLibraryClosesTheDevice) {
  FakeHidSystem system;
  std::shared_ptr<DeviceRecord> device;
  {
    HidmarLibrary library(system);
    system.Plug(0x11F1, 0x1402);
    ASSERT_EQ(1, library.Find(0x11F1, 0x1402));
    ASSERT_EQ(1, library.Open(kWindow));
    device = system.Last();
  }
  EXPECT_TRUE(device->Closed());
}

// Four status and command writers, as the bridge's worker threads write, while the device
// monitor closes, searches and opens again: every call returns, every write that answered 1
// reached a device, and each device closes.
TEST_F(HidmarLibraryTest, WritersRaceCloseAndReopen) {
  system_.Plug(0x11F1, 0x1402);
  std::atomic<bool> stop{false};
  std::atomic<int> succeeded{0};
  std::vector<std::thread> writers;
  for (int i = 0; i < 4; ++i) {
    writers.emplace_back([&, i] {
      std::uint8_t report[8] = {0xC0, 0x00, static_cast<std::uint8_t>(i), 0x42};
      while (!stop) {
        const int result = library_.Write(report, 7);
        EXPECT_TRUE(result == 0 || result == 1);
        succeeded += result;
      }
    });
  }
  for (int round = 0; round < 100; ++round) {
    EXPECT_EQ(1, library_.Find(0x11F1, 0x1402));
    EXPECT_EQ(1, library_.Open(kWindow));
    std::this_thread::yield();
    if (round % 2 == 0) library_.Close();
    library_.Release();
  }
  stop = true;
  for (auto& writer : writers) writer.join();

  std::size_t written = 0;
  for (const auto& device : system_.Opened()) {
    EXPECT_TRUE(device->Closed());
    written += device->Written().size();
  }
  EXPECT_EQ(static_cast<std::size_t>(succeeded.load()), written);
  EXPECT_EQ(100u, system_.Opened().size());
}

}  // namespace
