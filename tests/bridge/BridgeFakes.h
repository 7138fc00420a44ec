// Small fakes of the bridge's outside libraries for tests that run the links on real threads.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ClientApi.h"
#include "platform/HidLink.h"

namespace bridge::test {

// A handset that is present (unless a test unplugs it), opens, and hands every written report to
// `onWrite`, which says whether the write succeeded. Every written report is recorded, opens and
// closes are counted.
class FakeHid final : public platform::HidLink {
 public:
  using Report = std::array<std::uint8_t, 8>;

  std::function<bool(const Report&)> onWrite;
  std::atomic<bool> present{true};
  std::atomic<int> opens{0};
  std::atomic<int> closes{0};

  int FindDevice(std::uint32_t, std::uint32_t) override { return present ? 1 : 0; }
  int OpenDevice(platform::WindowHandle) override {
    if (!present) return 0;
    ++opens;
    return 1;
  }
  void SetNotifyMessage(std::uint32_t) override {}
  int WriteReport(const std::uint8_t* bytes, int) override {
    Report report{};
    std::memcpy(report.data(), bytes, report.size());
    {
      std::lock_guard lock(mutex_);
      writes_.push_back(report);
    }
    return !onWrite || onWrite(report) ? 1 : 0;
  }
  void CloseDevice() override { ++closes; }
  void ReleaseLibrary() override {}

  // The command codes written so far (status reports left out).
  std::vector<std::uint8_t> Commands() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> codes;
    for (const auto& w : writes_) {
      if (w[2] != 0) codes.push_back(w[2]);
    }
    return codes;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Report> writes_;
};

// A client library whose answers a test sets; commands and calls are recorded.
class FakeClient final : public platform::ClientApi {
 public:
  struct Counts {
    int inProgress = 0, ringing = 0, onHold = 0;
    std::vector<unsigned long> inProgressIds, ringingIds, heldIds;
  };
  // Answers of successive GetCallNumberEx calls; the last one repeats.
  std::vector<Counts> callNumberEx;
  int connects = 0;
  int holds = 0;
  std::vector<std::string> commands;

  bool Initialize(platform::WindowHandle) override { return true; }
  void Connect2Tarvo() override {
    std::lock_guard lock(mutex_);
    ++connects;
  }
  void Disconnect2Tarvo() override {}
  void SendStringCommand(const char* text) override { Record(text); }
  bool SendCommandDirect(const char* text) override {
    Record(text);
    return true;
  }
  void GetCallNumber(int& a, int& b, int& c, int& d, int& e, int& f) override { a = b = c = d = e = f = 0; }
  void GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing, unsigned long* ringingIds,
                       int& onHold, unsigned long* heldIds) override {
    const Counts& counts = callNumberEx.at(std::min(exCalls_++, callNumberEx.size() - 1));
    // Fills no more ids than the caller's counts say its arrays hold.
    Fill(inProgressIds, inProgress, counts.inProgressIds);
    Fill(ringingIds, ringing, counts.ringingIds);
    Fill(heldIds, onHold, counts.heldIds);
    inProgress = counts.inProgress;
    ringing = counts.ringing;
    onHold = counts.onHold;
  }
  bool GetCallbyID(int, std::uint8_t*) override { return false; }
  void SetCurrentCalltoOnHold() override { ++holds; }
  bool GetRecentCallHandle(char* handle) override {
    handle[0] = '\0';
    return false;
  }
  bool CloseTarvoMSGDialog() override { return false; }
  void MinimizeTarvo() override {}
  void UpdateVMList() override {}
  void UpdateContactList1() override {}

  int Connects() const {
    std::lock_guard lock(mutex_);
    return connects;
  }

 private:
  static void Fill(unsigned long* ids, int room, const std::vector<unsigned long>& from) {
    if (!ids) return;
    for (int i = 0; i < room && i < static_cast<int>(from.size()); ++i) ids[i] = from[i];
  }
  void Record(const char* text) {
    std::lock_guard lock(mutex_);
    commands.emplace_back(text);
  }

  mutable std::mutex mutex_;
  std::size_t exCalls_ = 0;
};

}  // namespace bridge::test
