// The bridge's outside world for the stress runs: a handset with its HID library that fails,
// stalls, answers late or wrongly and goes away at random, and a client program that attaches,
// calls and drops commands at random. Both post to the user-interface thread's queue as the
// libraries post to the main window.
#pragma once

#include <array>
#include <cstring>
#include <map>
#include <string_view>

#include "bridge/handset/HandsetLink.h"
#include "tests/bridge/BridgeFakes.h"
#include "tests/stress/StressKit.h"

namespace stress {

using bridge::test::FakeHid;

// The handset and its HID library. Writes fail, stall or succeed; acknowledgements and version
// answers come at once, late, wrong or not at all; keys are pressed; a report is repeated or a
// message carries none; the device goes and comes back.
class StressHandset {
 public:
  static constexpr std::uint8_t kMajor = 0x01, kMinor = 0x04;

  StressHandset(FakeHid& hid, MessageQueue& ui, std::uint64_t seed, Tally& tally,
                std::function<void(std::uint8_t)> written)
      : hid_(hid), ui_(ui), random_(seed), tally_(tally), written_(std::move(written)) {
    hid_.onWrite = [this](const FakeHid::Report& report) { return OnWrite(report); };
  }

  std::atomic<bool> faults{true}, hushed{false};

  bool Alerting() const {
    std::lock_guard lock(mutex_);
    return alerting_;
  }
  std::uint8_t LastStatus() const {
    std::lock_guard lock(mutex_);
    return lastStatus_;
  }
  bool Quiet() const {
    std::lock_guard lock(mutex_);
    return outbox_.empty();
  }

  // The library's reader and the user's hand.
  void Run(const std::stop_token& stop) {
    constexpr std::uint8_t kKeys[] = {0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x23, 0x24, 0x2F,
                                      0x32, 0x33, 0xB0, 0xB7, 0xBA, 0xBB, 0xC1, 0xC2};
    auto nextKey = Steady::now(), nextPlug = Steady::now() + Scaled(20000);
    while (!stop.stop_requested()) {
      {
        std::lock_guard lock(mutex_);
        const auto now = Steady::now();
        while (!outbox_.empty() && outbox_.begin()->first <= now) {
          Post(outbox_.begin()->second);
          outbox_.erase(outbox_.begin());
        }
        if (faults && !hushed && now >= nextKey) {
          Post(kKeys[random_.Between(0, std::size(kKeys) - 1)]);
          tally_.Add("handset.keys pressed");
          nextKey = now + Scaled(random_.Between(100, 2000));
        }
        if (hid_.present && faults && now >= nextPlug) {
          hid_.present = false;
          alerting_ = false;  // a handset without power rings no more
          outbox_.clear();
          tally_.Add("handset.unplugged");
          nextPlug = now + Scaled(random_.Between(0, 3000));
        } else if (!hid_.present && (!faults || now >= nextPlug)) {
          hid_.present = true;
          tally_.Add("handset.plugged");
          nextPlug = now + Scaled(random_.Between(2000, 40000));
        }
      }
      Nap(1ms);
    }
  }

 private:
  bool OnWrite(const FakeHid::Report& report) {
    const std::uint8_t code = report[2];
    if (code != 0) written_(code);
    int stall = 0;
    bool fail = false;
    {
      std::lock_guard lock(mutex_);
      if (!hid_.present || hid_.opens <= hid_.closes) {
        tally_.Add("handset.writes without a device");
        return false;
      }
      if (faults) {
        fail = random_.Chance(0.04);
        if (random_.Chance(0.04)) stall = random_.Between(1, 300);
      }
    }
    if (stall > 0) {
      tally_.Add("handset.writes stalled");
      Nap(Scaled(stall));
    }
    std::lock_guard lock(mutex_);
    if (fail || !hid_.present) {
      tally_.Add("handset.writes failed");
      return false;
    }
    lastStatus_ = report[3];
    if (code == 0) {
      tally_.Add("handset.status reports");
      return true;
    }
    tally_.Add("handset.commands");
    if (code == bridge::kHandsetRing || code == bridge::kHandsetRingSilent) alerting_ = true;
    if (code == bridge::kHandsetStopRing) alerting_ = false;
    std::uint8_t answer = code == bridge::kHandsetVersionMajor   ? kMajor
                          : code == bridge::kHandsetVersionMinor ? kMinor
                                                                 : bridge::kHandsetAck;
    int delay = random_.Between(0, 20);
    if (faults) {
      const int roll = random_.Between(0, 99);
      if (roll < 8) {
        tally_.Add("handset.answers dropped");
        return true;
      }
      if (roll < 16) {
        delay = random_.Between(100, 800);
        tally_.Add("handset.answers late");
      } else if (roll < 20 && answer != bridge::kHandsetAck) {
        answer = random_.Chance(0.5) ? bridge::kHandsetAck : static_cast<std::uint8_t>(random_.Between(0, 255));
        tally_.Add("handset.version answers wrong");
      }
    }
    outbox_.emplace(Steady::now() + Scaled(delay), answer);
    return true;
  }

  // One report to the main window as the library posts it; under the lock.
  void Post(std::uint8_t code) {
    const std::uint8_t bytes[platform::kHandsetReportLength] = {0x00, code, ++sequence_, 0x00, 0, 0, 0};
    const auto packed = platform::PackReport(bytes);
    ui_.Post({platform::kHandsetReportMessage, packed.wParam, packed.lParam, nullptr});
    if (faults && random_.Chance(0.04)) {
      ui_.Post({platform::kHandsetReportMessage, packed.wParam, packed.lParam, nullptr});
      tally_.Add("handset.reports repeated");
    }
    if (faults && random_.Chance(0.01)) {
      ui_.Post({platform::kHandsetReportMessage, 0, -1, nullptr});
      tally_.Add("handset.messages without a report");
    }
  }

  FakeHid& hid_;
  MessageQueue& ui_;
  mutable std::mutex mutex_;
  Random random_;
  Tally& tally_;
  const std::function<void(std::uint8_t)> written_;
  std::multimap<Steady::time_point, std::uint8_t> outbox_;
  std::uint8_t sequence_ = 0;
  bool alerting_ = false;
  std::uint8_t lastStatus_ = 0;
};

// The client program behind its library. It attaches and detaches, calls ring, are answered,
// held and end, status texts come unasked, and some commands fail; the commands it takes are
// carried out and answered by notifications, as the client does.
class StressClient final : public platform::ClientApi {
 public:
  StressClient(MessageQueue& ui, std::uint64_t seed, Tally& tally) : ui_(ui), random_(seed), tally_(tally) {}

  std::atomic<bool> faults{true}, hushed{false};
  std::atomic<int> connects{0};

  bool Initialize(platform::WindowHandle) override { return true; }
  void Connect2Tarvo() override { ++connects; }
  void Disconnect2Tarvo() override { tally_.Add("client.disconnects"); }
  void SendStringCommand(const char* text) override { Command(text); }
  bool SendCommandDirect(const char* text) override { return Command(text); }
  void GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                     int& onHoldId) override {
    std::lock_guard lock(mutex_);
    Count(State::InProgress, inProgress, inProgressId);
    Count(State::Ringing, ringing, ringingId);
    Count(State::OnHold, onHold, onHoldId);
  }
  void GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing, unsigned long* ringingIds,
                       int& onHold, unsigned long* heldIds) override {
    std::lock_guard lock(mutex_);
    Fill(State::InProgress, inProgress, inProgressIds);
    Fill(State::Ringing, ringing, ringingIds);
    Fill(State::OnHold, onHold, heldIds);
  }
  bool GetCallbyID(int, std::uint8_t*) override { return false; }
  void SetCurrentCalltoOnHold() override {
    std::lock_guard lock(mutex_);
    Move(State::InProgress, State::OnHold, "ONHOLD");
  }
  bool GetRecentCallHandle(char* handle) override {
    std::snprintf(handle, platform::kRecentCallHandleSize, "%s", "echo123");
    return true;
  }
  bool CloseTarvoMSGDialog() override {
    std::lock_guard lock(mutex_);
    return faults && random_.Chance(0.03);
  }
  void MinimizeTarvo() override {}
  void UpdateVMList() override {}
  void UpdateContactList1() override {}

  // The client's own life, until the stop.
  void Run(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
      int pause = 100;
      {
        std::lock_guard lock(mutex_);
        if (faults && !hushed) Step();
        pause = random_.Between(20, 400);
      }
      Nap(Scaled(pause));
    }
  }

  // After the faults: attached, no calls, not muted, each told to the bridge.
  void Settle() {
    std::lock_guard lock(mutex_);
    if (!attached_) Notify(platform::kClientAttached);
    attached_ = true;
    for (const auto& call : calls_) CallStatus(call.id, call.state == State::Ringing ? "MISSED" : "FINISHED");
    calls_.clear();
    muted_ = false;
    Text("MUTE OFF");
  }
  void Ring() {
    std::lock_guard lock(mutex_);
    calls_.push_back({nextId_, State::Ringing});
    CallStatus(nextId_++, "RINGING");
  }
  void EndRinging() {
    std::lock_guard lock(mutex_);
    std::erase_if(calls_, [&](const Call& call) {
      if (call.state == State::Ringing) CallStatus(call.id, "MISSED");
      return call.state == State::Ringing;
    });
  }
  bool Attached() const {
    std::lock_guard lock(mutex_);
    return attached_;
  }
  bool Muted() const {
    std::lock_guard lock(mutex_);
    return muted_;
  }

 private:
  enum class State { Ringing, InProgress, OnHold };
  struct Call {
    int id;
    State state;
  };

  // One random event of the client; under the lock.
  void Step() {
    const int roll = random_.Between(0, 99);
    tally_.Add("client.events");
    if (roll < 6) {
      if (attached_) {
        attached_ = false;
        calls_.clear();
        muted_ = false;
        Notify(platform::kClientDetached);
      } else if (random_.Chance(0.8)) {
        attached_ = true;
        Notify(platform::kClientAttached);
      } else {
        Notify(random_.Chance(0.5) ? platform::kClientAttachPending : platform::kClientAttachRefused);
      }
      return;
    }
    if (!attached_) return;
    if (roll < 20 && calls_.size() < 4) {
      calls_.push_back({nextId_, State::Ringing});
      CallStatus(nextId_++, "RINGING", random_.Chance(0.5) ? 1 : 2);
    } else if (roll < 32) {
      constexpr const char* kEnds[] = {"MISSED", "REFUSED", "CANCELLED", "BUSY", "FINISHED", "FAILED"};
      End(State::Ringing, kEnds[random_.Between(0, 5)]);
    } else if (roll < 40) {
      Move(State::Ringing, State::InProgress, "INPROGRESS");
    } else if (roll < 48) {
      End(random_.Chance(0.5) ? State::InProgress : State::OnHold, "FINISHED");
    } else if (roll < 58) {
      constexpr const char* kPresences[] = {"USERSTATUS ONLINE", "USERSTATUS AWAY", "USERSTATUS DND", "USERSTATUS NA",
                                            "USERSTATUS INVISIBLE"};
      Text(kPresences[random_.Between(0, 4)]);
    } else if (roll < 63) {
      muted_ = !muted_;
      Text(muted_ ? "MUTE ON" : "MUTE OFF");
    } else if (roll < 68) {
      Text((random_.Chance(0.5) ? "AUDIO_IN " : "AUDIO_OUT ") + std::string(random_.Between(0, 300), 'n'));
    } else if (roll < 70) {
      // A status field with no terminator, of a call nobody knows.
      CallStatus(random_.Between(1, 1000), "XXXXXXXXXXXXXXXXXXXXXXXX", random_.Between(1, 3));
    }
  }

  // A command of the bridge, on any thread.
  bool Command(std::string_view text) {
    std::lock_guard lock(mutex_);
    tally_.Add("client.commands");
    if (!attached_) return false;
    if (faults && random_.Chance(0.08)) {
      tally_.Add("client.commands failed");
      return false;
    }
    if (text == "GET MUTE") {
      Text(muted_ ? "MUTE ON" : "MUTE OFF");
    } else if (text == "SET MUTE ON" || text == "SET MUTE OFF") {
      muted_ = text == "SET MUTE ON";
      Text(muted_ ? "MUTE ON" : "MUTE OFF");
    } else if (text == "GET AUDIO_IN" || text == "GET AUDIO_OUT") {
      Text(std::string(text.substr(4)) + " Handset Microphone");
    } else if (text.starts_with("SET CALL ") && text.ends_with(" STATUS INPROGRESS")) {
      Move(std::atoi(std::string(text.substr(9)).c_str()), State::InProgress, "INPROGRESS");
    } else if (text.starts_with("SET CALL ") && text.ends_with(" STATUS ONHOLD")) {
      Move(std::atoi(std::string(text.substr(9)).c_str()), State::OnHold, "ONHOLD");
    } else if (text == "HOOK ON") {
      End(State::InProgress, "FINISHED");
    } else if (text == "BTN_RELEASED YES") {
      Move(State::Ringing, State::InProgress, "INPROGRESS");
    }
    return true;
  }

  void Count(State state, int& count, int& firstId) const {
    count = firstId = 0;
    for (const auto& call : calls_) {
      if (call.state != state) continue;
      if (count++ == 0) firstId = call.id;
    }
  }
  // As the library: a null array asks for the count; otherwise no more ids than it holds.
  void Fill(State state, int& count, unsigned long* ids) const {
    int n = 0;
    for (const auto& call : calls_) {
      if (call.state != state) continue;
      if (ids && n < count) ids[n] = static_cast<unsigned long>(call.id);
      ++n;
    }
    count = n;
  }
  void Move(State from, State to, const char* status) {
    for (auto& call : calls_) {
      if (call.state == from) return Move(call.id, to, status);
    }
  }
  void Move(int id, State to, const char* status) {
    for (auto& call : calls_) {
      if (call.id != id) continue;
      call.state = to;
      return CallStatus(id, status);
    }
  }
  void End(State state, const char* status) {
    const auto it = std::find_if(calls_.begin(), calls_.end(), [&](const Call& call) { return call.state == state; });
    if (it == calls_.end()) return;
    CallStatus(it->id, status);
    calls_.erase(it);
  }

  void Notify(std::uint32_t msg) {
    ui_.Post({msg, 0, 0, nullptr});
    tally_.Add("client.notifications");
  }
  void Text(std::string text) {
    auto keep = std::make_shared<const std::string>(std::move(text));
    ui_.Post({platform::kClientStatusText, reinterpret_cast<std::uintptr_t>(keep->c_str()), 0, keep});
    tally_.Add("client.notifications");
  }
  // A call record of exactly its size; a status of 20 characters or more has no terminator.
  void CallStatus(int id, std::string_view status, std::intptr_t kind = 1) {
    auto record = std::make_shared<std::array<std::uint8_t, platform::kCallStructureSize>>();
    record->fill(0);
    std::memcpy(record->data() + platform::kCallIdOffset, &id, sizeof id);
    std::memcpy(record->data() + platform::kCallStatusOffset, status.data(),
                std::min(status.size(), platform::kCallStatusSize));
    ui_.Post({platform::kClientCallStatus, reinterpret_cast<std::uintptr_t>(record->data()), kind, record});
    tally_.Add("client.notifications");
  }

  MessageQueue& ui_;
  mutable std::mutex mutex_;
  Random random_;
  Tally& tally_;
  bool attached_ = false, muted_ = false;
  std::vector<Call> calls_;
  int nextId_ = 1;
};

}  // namespace stress
