// The bridge's links on real threads, wired as the main window wires them: the handset link's four
// workers, the client link's mute poll, and a user-interface thread that takes the handset's
// reports (message 0x464) and the client's notifications, dispatches keys and does what a user
// does. Around them a handset whose writes, answers and presence fail at random and a client that
// attaches, calls and drops commands at random. Every command the user-interface thread queues is
// a "probe" with a code of its own, so it can be followed to the handset.
#pragma once

#include <gtest/gtest.h>

#include <map>

#include "bridge/handset/HandsetLink.h"
#include "bridge/softphone/SoftphoneLink.h"
#include "tests/stress/HandsetAndClient.h"

namespace stress {

// Probe codes: bytes no handset command and no ring-tone parameter uses.
inline constexpr int kProbeCodes = 138;
inline constexpr std::uint8_t ProbeCode(std::uint64_t n) {
  const auto i = static_cast<std::uint8_t>(n % kProbeCodes);
  return i < 88 ? static_cast<std::uint8_t>(0x29 + i) : static_cast<std::uint8_t>(0xA0 + i - 88);
}
inline constexpr bool IsProbe(std::uint8_t code) {
  return (code >= 0x29 && code <= 0x80) || (code >= 0xA0 && code <= 0xD1);
}

class BridgeRig {
 public:
  BridgeRig(ScaledClock& clock, Threads& threads, std::uint64_t seed, Tally& tally)
      : threads_(threads),
        tally_(tally),
        random_(seed),
        handset_(hid_, ui_, seed + 1, tally, [this](std::uint8_t code) { OnCommandWritten(code); }),
        client_(ui_, seed + 2, tally),
        softphone_(bridge::SoftphoneLinkPorts{client_, clock}, ring_, SoftphoneHooks()),
        link_(bridge::HandsetLinkPorts{clock, hid_, client_}, ring_, softphone_.State(), HandsetHooks()) {}

  void Start() {
    link_.CreateEvents();
    threads_.Start("device monitor", [this](std::stop_token stop) { link_.DeviceMonitorThread(stop); });
    threads_.Start("indicator", [this](std::stop_token stop) { link_.IndicatorThread(stop); });
    keyActivity_ = threads_.Start("key activity", [this](std::stop_token stop) { link_.KeyActivityThread(stop); });
    threads_.Start("mute poll", [this](std::stop_token stop) { softphone_.MutePollThread(stop); });
    sender_ = threads_.Start("command sender", [this](std::stop_token stop) { link_.CommandSenderThread(stop); });
    threads_.Start("bridge user interface", [this](std::stop_token stop) { UiThread(stop); });
    threads_.Start("handset", [this](std::stop_token stop) { handset_.Run(stop); });
    threads_.Start("client", [this](std::stop_token stop) { client_.Run(stop); });
  }

  // While the faults go on, every few milliseconds: a worker resting for ever while it has work
  // (seen twice in the same rest, kRestLimit apart), and the queue's depth.
  void Check(std::vector<std::string>& faults) {
    const auto now = Steady::now();
    const auto oldest = OldestWaitingProbe();
    const bool senderIdle = oldest && now - *oldest > kRestLimit;
    if (Resting(*sender_, senderIdle, senderRest_, now)) {
      faults.push_back("the command sender rests with a probe to send");
    }
    if (Resting(*keyActivity_, link_.State().keyActivityOn, keyActivityRest_, now)) {
      faults.push_back("the key-activity thread rests with the key-activity bit on");
    }
    if (const long waiting = WaitingProbes(); waiting > kQueueBound) {
      faults.push_back(std::to_string(waiting) + " probes wait in the queue");
    }
  }

  // The faults end; within bounded times the handset must be open with the exchange closed,
  // every probe no rule dropped delivered in order, a clean ring cycle must start and stop the
  // handset's ringing, and the link, the handset and the client must agree.
  void SettleAndCheck() {
    constexpr auto kLimit = 20s;
    userActive_ = false;
    handset_.faults = false;
    client_.faults = false;
    // Keys and answers still on their way are handled before the client settles.
    ASSERT_TRUE(WaitFor([&] { return handset_.Quiet() && ui_.Empty(); }, kLimit));
    ASSERT_TRUE(WaitFor([&] { return link_.IsOpen() && !Handshaking(); }, kLimit)) << "the handset did not open again";
    client_.Settle();
    for (int i = 0; i < 3; ++i) QueueProbe();
    EXPECT_TRUE(WaitFor([&] { return WaitingProbes() == 0; }, kLimit)) << WaitingProbes() << " probes never sent";

    client_.Ring();
    EXPECT_TRUE(WaitFor([&] { return handset_.Alerting(); }, kLimit)) << "a call rang without the handset ringing";
    client_.EndRinging();
    const auto& state = link_.State();
    const auto& client = softphone_.State();
    const auto agreed = [&] {
      return link_.IsOpen() && state.versionFirstReceived && state.versionSecondReceived && !handset_.Alerting() &&
             !client.callRinging && client.clientAttached == client_.Attached() && !client.clientMuted &&
             !client_.Muted() && !state.indicatorOn && !state.keyActivityOn && handset_.LastStatus() == 0x42 &&
             TrayAgrees();
    };
    if (!WaitFor(agreed, kLimit)) {
      ADD_FAILURE() << "the link, the handset and the client disagree after the faults: open " << link_.IsOpen()
                    << ", exchange closed " << (state.versionFirstReceived && state.versionSecondReceived)
                    << ", handset ringing " << handset_.Alerting() << ", call ringing " << client.callRinging
                    << ", attached " << client.clientAttached << "/" << client_.Attached() << ", muted "
                    << client.clientMuted << "/" << client_.Muted() << ", indicator " << state.indicatorOn
                    << ", key activity " << state.keyActivityOn << ", handset status 0x" << std::hex
                    << int{handset_.LastStatus()} << std::dec << ", tray agrees " << TrayAgrees();
    }

    std::lock_guard lock(probeMutex_);
    long lost = 0, dropped = 0;
    for (const auto& probe : probes_) {
      if (probe.delivered == 0) ++(Droppable(probe) ? dropped : lost);
    }
    EXPECT_EQ(lost, 0) << "probes queued while the handset was open and never sent, with no handshake between";
    EXPECT_EQ(outOfOrder_, 0) << "probes sent out of their order or twice";
    tally_.Add("bridge.probes dropped by the rules", dropped);
  }

  // The main window is destroyed: its handler closes the handset while the workers still run.
  void BeginClose() {
    ui_.Post({kMsgDestroy, 0, 0, nullptr});
    WaitFor([&] { return closed_.load(); }, 1s);
  }

 private:
  static constexpr std::uint32_t kMsgDestroy = 0x0002;
  static constexpr long kQueueBound = 200;
  // Longer than any thread waits for the processor here, even under ThreadSanitizer.
  static constexpr auto kRestLimit = 500ms;
  struct Probe {
    std::uint8_t code;
    int opens, closes;
    bool droppable;
    Steady::time_point queued;
    std::uint64_t delivered = 0;  // order of its first write, 0 until then
  };

  bridge::SoftphoneLinkHooks SoftphoneHooks() {
    bridge::SoftphoneLinkHooks hooks;
    hooks.updateTray = [this] { UpdateTray(); };
    hooks.queueHandsetCommand = [this](std::uint8_t code) {
      tally_.Add("bridge.commands queued by the client link");
      link_.QueueHandsetCommand(code);
    };
    hooks.handsetOpen = [this] { return link_.IsOpen(); };
    hooks.markKeyActivity = [this] { link_.MarkKeyActivity(); };
    hooks.pointClientAtHandset = [this] { client_.SendStringCommand("SET AUDIO_IN Handset Microphone"); };
    hooks.clientWindowInBackground = [] { return true; };
    hooks.playKeyTone = [this](char) { tally_.Add("bridge.key tones"); };
    hooks.stepSpeakerVolume = [this](bool) { tally_.Add("bridge.volume steps"); };
    return hooks;
  }
  bridge::HandsetLinkHooks HandsetHooks() {
    bridge::HandsetLinkHooks hooks;
    hooks.updateTray = [this] { UpdateTray(); };
    hooks.ringUploadAccepted = [this] { ui_.Post({bridge::kMsgRingUploadAccepted, 0, 0, nullptr}); };
    hooks.pointClientAtHandset = [this] { client_.SendStringCommand("SET AUDIO_IN Handset Microphone"); };
    return hooks;
  }
  // As the main window: the state read and shown in one step under its lock.
  void UpdateTray() {
    std::lock_guard lock(trayMutex_);
    tray_ = {link_.IsOpen(), softphone_.State().clientAttached.load()};
  }
  bool TrayAgrees() {
    std::lock_guard lock(trayMutex_);
    return tray_ == std::pair{link_.IsOpen(), softphone_.State().clientAttached.load()};
  }

  void UiThread(const std::stop_token& stop) {
    auto nextAction = Steady::now();
    while (!stop.stop_requested()) {
      if (const auto message = ui_.Take(Scaled(100))) {
        if (message->msg == kMsgDestroy) {
          link_.Close();
          closed_ = true;
          return;
        }
        Handle(*message);
      }
      if (userActive_ && Steady::now() >= nextAction) {
        handset_.hushed = client_.hushed = false;
        if (random_.Chance(0.006)) {
          // A quiet spell after a probe: no user, no keys, no client events, so a command left
          // lying in the queue (a sender that missed its wake-up) shows.
          QueueProbe();
          handset_.hushed = client_.hushed = true;
          nextAction = Steady::now() + Scaled(random_.Between(30000, 60000));
        } else {
          UserAction();
          nextAction = Steady::now() + Scaled(random_.Between(100, 1000));
        }
      }
    }
  }

  void Handle(const Message& message) {
    if (softphone_.OnNotification(message.msg, message.wParam, message.lParam)) return;
    if (message.msg == platform::kHandsetReportMessage) {
      tally_.Add("bridge.handset reports");
      const auto report = link_.OnHandsetReport(message.wParam, message.lParam);
      if (report.key) {
        tally_.Add("bridge.keys dispatched");
        DispatchKey(*report.key, report.mode);
      }
    } else if (message.msg == bridge::kMsgRingUploadAccepted) {
      tally_.Add("bridge.ring tones accepted");
      ring_.appliedRingType = ring_.ringType.load();
      ring_.ringMode = bridge::RingMode::Ring;
    }
  }

  // As the main window dispatches the handset's keys (no voicemail list here).
  void DispatchKey(std::uint8_t code, bridge::HandsetEventMode mode) {
    using Link = bridge::CSoftphoneLink;
    static const std::map<std::uint8_t, void (Link::*)()> kKeys = {
        {0x1C, &Link::OnKeyClient},     {0x1D, &Link::OnKeyUp},       {0x1E, &Link::OnKeyDown},
        {0x1F, &Link::OnKeyHangUp},     {0x20, &Link::OnKeyAnswer},   {0x23, &Link::OnKeyHold},
        {0x24, &Link::OnKeyRedial},     {0x2F, &Link::OnKeyMute},     {0x32, &Link::OnKeyVolumeUp},
        {0x33, &Link::OnKeyVolumeDown}, {0xC2, &Link::MinimizeClient}};
    auto& keys = softphone_;
    if (mode == bridge::HandsetEventMode::VolumeOnly) {
      if (code == 0x1D) keys.OnKeyVolumeUp();
      if (code == 0x1E) keys.OnKeyVolumeDown();
    } else if (code >= 0xB0 && code <= 0xBB) {
      keys.OnKeyDigit("0123456789*#"[code - 0xB0]);
    } else if (code == 0xC1) {
      keys.OnKeyHangUp();
      keys.SendHookOffPlus();
    } else if (const auto key = kKeys.find(code); key != kKeys.end()) {
      (keys.*key->second)();
    }
  }

  // What a user does: probes, the test panel's commands, a ring tone chosen, the key mode.
  void UserAction() {
    const int roll = random_.Between(0, 99);
    if (roll < 60) {
      QueueProbe();
    } else if (roll < 70) {
      constexpr std::uint8_t kPanel[] = {bridge::kHandsetRing, bridge::kHandsetStopRing, bridge::kHandsetTestCommand};
      link_.QueueHandsetCommand(kPanel[random_.Between(0, 2)]);
      tally_.Add("bridge.test panel commands");
    } else if (roll < 78) {
      const auto tone = static_cast<std::uint32_t>(random_.Between(0, 9));
      ring_.ringType = tone;
      ring_.previewAfterUpload = random_.Chance(0.5) ? bridge::RingPreview::AfterUpload : bridge::RingPreview::None;
      ring_.SelectRingTone(tone);
      link_.QueueHandsetCommand(bridge::kHandsetUploadRingTone);
      tally_.Add("bridge.ring tones chosen");
    } else if (roll < 86) {
      link_.SetEventMode(random_.Chance(0.3) ? bridge::HandsetEventMode::VolumeOnly : bridge::HandsetEventMode::Full);
    } else if (roll < 93) {
      softphone_.RequestClientAudioDevices();
    } else {
      softphone_.OnTestVolume(random_.Chance(0.5));
    }
  }

  // The link has opened the handset and not yet finished the version exchange (it connects the
  // client once it has).
  bool Handshaking() const { return hid_.opens > client_.connects; }
  bool Settled() const { return link_.IsOpen() && !Handshaking(); }

  void QueueProbe() {
    const int opens = hid_.opens, closes = hid_.closes;
    const bool settledBefore = Settled();
    std::size_t index = 0;
    std::uint8_t code = 0;
    {
      std::lock_guard lock(probeMutex_);
      index = probes_.size();
      code = ProbeCode(index);
      probes_.push_back({code, opens, closes, true, Steady::now()});
    }
    link_.QueueHandsetCommand(code);
    const bool settledAfter = Settled();
    std::lock_guard lock(probeMutex_);
    probes_[index].droppable = !(settledBefore && settledAfter);
    tally_.Add("bridge.probes queued");
  }

  // A probe may have been dropped by the rules: queued while no handset was open or while a
  // version handshake (which clears the queue) ran, or the handset was closed or opened since.
  bool Droppable(const Probe& probe) const {
    return probe.droppable || probe.opens != hid_.opens || probe.closes != hid_.closes;
  }

  // Every write of a command code, on the writer's thread.
  void OnCommandWritten(std::uint8_t code) {
    std::lock_guard lock(probeMutex_);
    const bool again = code == lastCommand_;  // the same entry's next attempt
    lastCommand_ = code;
    if (!IsProbe(code) || again) return;
    // The queue sends in order: the probe is the first not yet sent after the last one sent.
    for (std::size_t i = lastSent_ + (deliveries_ > 0); i < probes_.size(); ++i) {
      if (probes_[i].code == code && probes_[i].delivered == 0) {
        probes_[i].delivered = ++deliveries_;
        lastSent_ = i;
        return;
      }
    }
    ++outOfOrder_;
  }

  // Probes no rule dropped that are still to be sent; the time the oldest was queued.
  long WaitingProbes() {
    std::lock_guard lock(probeMutex_);
    long waiting = 0;
    for (std::size_t i = lastSent_; i < probes_.size(); ++i) {
      waiting += probes_[i].delivered == 0 && !Droppable(probes_[i]);
    }
    return waiting;
  }
  std::optional<Steady::time_point> OldestWaitingProbe() {
    if (!link_.IsOpen()) return std::nullopt;
    std::lock_guard lock(probeMutex_);
    for (std::size_t i = lastSent_; i < probes_.size(); ++i) {
      if (probes_[i].delivered == 0 && !Droppable(probes_[i])) return probes_[i].queued;
    }
    return std::nullopt;
  }
  // True when `thread` has been in one rest for ever, with `work` to do, at two checks at least
  // kRestLimit apart; `seen` keeps the first sighting.
  static bool Resting(const Progress& thread, bool work,
                      std::optional<std::pair<Steady::time_point, Steady::time_point>>& seen, Steady::time_point now) {
    const auto since = thread.RestingSince();
    if (!since || !work || (seen && seen->first != *since)) {
      seen.reset();
      if (since && work) seen = std::pair{*since, now};
      return false;
    }
    if (!seen) seen = std::pair{*since, now};
    return now - seen->second > kRestLimit;
  }

  Threads& threads_;
  Tally& tally_;
  Random random_;  // the user-interface thread's
  FakeHid hid_;
  MessageQueue ui_;
  StressHandset handset_;
  StressClient client_;
  bridge::RingState ring_;
  bridge::CSoftphoneLink softphone_;
  bridge::CHandsetLink link_;
  Progress* sender_ = nullptr;
  Progress* keyActivity_ = nullptr;
  std::atomic<bool> userActive_{true}, closed_{false};
  std::mutex trayMutex_;
  std::pair<bool, bool> tray_{false, false};
  std::mutex probeMutex_;
  std::vector<Probe> probes_;
  std::uint8_t lastCommand_ = 0;
  std::size_t lastSent_ = 0;
  std::uint64_t deliveries_ = 0;
  long outOfOrder_ = 0;
  std::optional<std::pair<Steady::time_point, Steady::time_point>> senderRest_, keyActivityRest_;
};

}  // namespace stress
