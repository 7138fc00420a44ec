#include "bridge/handset/HandsetLink.h"

namespace bridge {
namespace {

constexpr std::uint8_t kReportId = 0xC0;
constexpr std::uint8_t kStatusAlways = 0x40;
constexpr std::uint8_t kStatusIndicatorOff = 0x02;
constexpr std::uint8_t kStatusKeyActivity = 0x01;

// Command sender: the pause after each command it delivered, before it looks again.
constexpr std::uint32_t kSenderPauseMs = 50;
constexpr int kAckAttempts = 3;
constexpr std::uint32_t kAckSettleMs = 100;
constexpr std::uint32_t kAckWaitMs = 200;
constexpr std::uint32_t kUploadAckWaitMs = 30;
constexpr std::uint32_t kUploadRestartPauseMs = 20;
constexpr int kUploadMaxFailures = 10;
constexpr std::uint8_t kUploadTags[] = {0x81, 0x82, 0x83, 0x84, 0x85};

// Device monitor.
constexpr std::uint32_t kMonitorSettleMs = 100;
constexpr std::uint32_t kMonitorPassMs = 5000;
constexpr std::uint32_t kClosedSettleMs = 200;
constexpr std::uint32_t kHandshakeStepMs = 300;
constexpr std::uint32_t kVersionWaitMs = 500;
constexpr int kVersionRequests = 6;
constexpr std::uint32_t kReuploadDelayMs = 1000;
constexpr std::uint8_t kVersionUnknown = 255;

// Indicator and key activity.
constexpr std::uint32_t kRingBlinkMs = 70;
constexpr std::uint32_t kRingBurstMs = 2000;
constexpr std::uint32_t kRingPauseMs = 1000;
constexpr std::uint32_t kMuteBlinkMs = 500;
constexpr std::uint32_t kIndicatorIdleMs = 100;
constexpr std::uint32_t kKeyActivityStepMs = 1000;
constexpr std::uint32_t kKeyActivitySeconds = 5;

}  // namespace

CHandsetLink::CHandsetLink(HandsetLinkPorts ports, RingState& ring, SoftphoneState& client, HandsetLinkHooks hooks)
    : ports_(ports), ring_(ring), client_(client), hooks_(std::move(hooks)) {}

void CHandsetLink::CreateEvents() {
  ackEvent_ = ports_.clock.MakeEvent(false);
  // Made here rather than by the monitor thread, so a report can never find it missing.
  versionEvent_ = ports_.clock.MakeEvent(false);
  commandQueued_ = ports_.clock.MakeEvent(false);
  keyActivityMarked_ = ports_.clock.MakeEvent(false);
}

void CHandsetLink::QueueHandsetCommand(std::uint8_t code) {
  // A dropped code wakes nobody: with no handset open the sender has nothing to do.
  if (queue_.QueueHandsetCommand(code)) commandQueued_->Set();
}

void CHandsetLink::MarkKeyActivity() {
  state_.keyActivitySeconds = kKeyActivitySeconds;
  state_.keyActivityOn = true;
  keyActivityMarked_->Set();
}

void CHandsetLink::RequestFirmwareVersion() {
  state_.versionFirstReceived = false;
  state_.versionSecondReceived = false;
  QueueHandsetCommand(kHandsetVersionMajor);
}

void CHandsetLink::RequestFirmwareVersionSecond() {
  state_.versionFirstReceived = true;
  state_.versionSecondReceived = false;
  QueueHandsetCommand(kHandsetVersionMinor);
}

CHandsetLink::Report CHandsetLink::BuildReport(std::uint8_t code) const {
  std::uint8_t status = kStatusAlways;
  if (!state_.indicatorOn) status |= kStatusIndicatorOff;
  if (state_.keyActivityOn) status |= kStatusKeyActivity;
  return Report{kReportId, 0x00, code, status, 0, 0, 0, 0};
}

bool CHandsetLink::Write(const Report& report) {
  const bool written = ports_.hid.WriteReport(report.data(), platform::kHandsetReportLength) != 0;
  if (!written && state_.handsetOpen) writeFailed_ = true;
  return written;
}

bool CHandsetLink::HandsetGone() { return !state_.handsetOpen || !SendStatusReport(); }

bool CHandsetLink::SendStatusReport() { return Write(BuildReport(0x00)); }

bool CHandsetLink::SendCommandWithAck(Report report, std::uint64_t serial) {
  bool acknowledged = false;
  for (int attempt = 0; attempt < kAckAttempts && !acknowledged; ++attempt) {
    ackEvent_->Reset();
    Write(report);
    ports_.clock.Sleep(kAckSettleMs);
    acknowledged = ackEvent_->Wait(kAckWaitMs);
  }
  // Dropped whether or not it was acknowledged.
  queue_.Remove(serial);
  return acknowledged;
}

bool CHandsetLink::UploadRingParameters(Report report, std::uint64_t serial) {
  queue_.Remove(serial);
  const RingParameters parameters = ring_.SelectedParameters();
  std::array<std::uint8_t, 10> sequence{};
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    sequence[2 * i] = kUploadTags[i];
    sequence[2 * i + 1] = parameters[i];
  }
  std::size_t position = 0;
  int failures = 0;
  while (position < sequence.size()) {
    report[2] = sequence[position];
    // Reset before every write: an acknowledgement that arrives while the write call is still
    // returning must not be lost, and a failed write must not find the event still set by an
    // earlier one.
    ackEvent_->Reset();
    const bool written = Write(report);
    if (written && ackEvent_->Wait(kUploadAckWaitMs)) {
      ++position;
      continue;
    }
    if (!written && HandsetGone()) {
      // Nothing more can be acknowledged; nothing is taken as accepted.
      ring_.ringPreviewActive = false;
      return false;
    }
    // Missing acknowledgement or a passing write failure: restart the pair.
    report[2] = kHandsetStopRing;
    Write(report);
    if (position % 2 == 1) --position;  // a parameter byte is resent from its tag
    ports_.clock.Sleep(kUploadRestartPauseMs);
    if (++failures == kUploadMaxFailures) {
      ring_.ringPreviewActive = false;
      return false;
    }
  }
  return true;
}

void CHandsetLink::CommandSenderThread(std::stop_token stop) {
  const std::stop_callback wake(stop, [this] { commandQueued_->Set(); });
  while (!stop.stop_requested()) {
    // Reset before the look: a code queued after it sets the event again, so the wait below ends
    // at once and no code is left lying in the queue.
    commandQueued_->Reset();
    // A stop requested after the loop's test has set the event before this reset undid it.
    if (stop.stop_requested()) break;
    std::optional<HandsetCommandQueue::Entry> entry;
    if (state_.handsetOpen) entry = queue_.Front();
    if (!entry) {
      // Nothing to send, or no handset: codes left from before a removal stay where they are
      // until the next handshake clears the queue, and the handshake's own first code wakes us.
      commandQueued_->Wait(platform::kInfinite);
      continue;
    }
    const Report report = BuildReport(entry->code);
    if (entry->code == kHandsetVersionMajor || entry->code == kHandsetVersionMinor) {
      Write(report);
      queue_.Remove(entry->serial);
    } else if (entry->code == kHandsetUploadRingTone) {
      if (UploadRingParameters(report, entry->serial) && hooks_.ringUploadAccepted) hooks_.ringUploadAccepted();
    } else {
      SendCommandWithAck(report, entry->serial);
    }
    ports_.clock.Sleep(kSenderPauseMs);
  }
}

void CHandsetLink::VersionHandshake(const std::stop_token& stop) {
  int attempts = 0;
  bool stored = false;
  std::uint8_t keptMajor = 0, keptMinor = 0;
  for (;;) {
    ClearHandsetCommands();
    bool answered = false;
    do {
      ports_.clock.Sleep(kHandshakeStepMs);
      QueueHandsetCommand(kHandsetStopRing);
      ports_.clock.Sleep(kHandshakeStepMs);
      versionEvent_->Reset();
      RequestFirmwareVersion();
      ++attempts;
      answered = versionEvent_->Wait(kVersionWaitMs);
      if (stop.stop_requested()) return;
      // A handset unplugged meanwhile ends the exchange at once; a write that failed only in
      // passing is left to the request cap.
      if (!answered && writeFailed_.exchange(false) && HandsetGone()) return;
    } while (!answered && attempts < kVersionRequests);

    const std::uint8_t major = state_.firmwareMajor;
    const std::uint8_t minor = state_.firmwareMinor;
    // 0x5A is an acknowledgement taken for a version byte: such an exchange is repeated, but
    // never past the sixth request, so the monitor always reaches its removal check.
    if (attempts >= kVersionRequests) return;
    if (major == kHandsetAck || minor == kHandsetAck) continue;
    if (!stored) {
      keptMajor = major;
      keptMinor = minor;
      stored = true;
      continue;
    }
    if (major == keptMajor && minor == keptMinor) return;
    stored = false;
  }
}

void CHandsetLink::OnOpened(const std::stop_token& stop) {
  VersionHandshake(stop);
  // A handshake that ended without its answers closes the exchange: left open, the next
  // acknowledgements (of the ring-tone upload) and the next two keys would be taken for version
  // bytes. The bytes read 255, "unknown", as they show while an exchange is under way.
  if (!state_.versionFirstReceived || !state_.versionSecondReceived) {
    state_.firmwareMajor = kVersionUnknown;
    state_.firmwareMinor = kVersionUnknown;
    state_.versionFirstReceived = true;
    state_.versionSecondReceived = true;
  }
  if (ring_.ringMode == RingMode::Ring) {
    ring_.previewAfterUpload = RingPreview::None;
    ring_.SelectRingTone(ring_.ringType);
    ports_.clock.Sleep(kReuploadDelayMs);
    QueueHandsetCommand(kHandsetUploadRingTone);
  }
  ports_.client.Connect2Tarvo();
  if (hooks_.updateTray) hooks_.updateTray();
  if (hooks_.muteMicrophoneMonitor) hooks_.muteMicrophoneMonitor();
  if (hooks_.pointClientAtHandset) hooks_.pointClientAtHandset();
}

void CHandsetLink::DeviceMonitorThread(std::stop_token stop) {
  state_.handsetOpen = false;
  while (!stop.stop_requested()) {
    if (!state_.handsetOpen) {
      state_.handsetProductId = state_.productIdToggle ? platform::kHandsetProductB : platform::kHandsetProductA;
      auto& hid = ports_.hid;
      if (!hid.FindDevice(platform::kHandsetVendorId, state_.handsetProductId)) {
        state_.productIdToggle = !state_.productIdToggle;
      } else if (hid.OpenDevice(mainWindow_)) {
        hid.SetNotifyMessage(platform::kHandsetReportMessage);
        writeFailed_ = false;
        state_.handsetOpen = true;
        OnOpened(stop);
      }
    }
    ports_.clock.Sleep(kMonitorSettleMs);
    if (state_.handsetOpen && !SendStatusReport()) {
      state_.handsetOpen = false;
      ports_.hid.CloseDevice();
      ports_.hid.ReleaseLibrary();
      ports_.clock.Sleep(kClosedSettleMs);
      client_.SetClientAudioOut("Unknown");
      client_.SetClientAudioIn("Unknown");
      ports_.client.Disconnect2Tarvo();
      if (hooks_.updateTray) hooks_.updateTray();
    }
    ports_.clock.Sleep(kMonitorPassMs);
  }
}

void CHandsetLink::QueueRingCommand(int callsInProgress) {
  if (callsInProgress > 0) {
    QueueHandsetCommand(kHandsetRingSilent);
  } else if (ring_.ringMode == RingMode::Ring) {
    QueueHandsetCommand(kHandsetRing);
  } else if (ring_.ringMode == RingMode::Silent) {
    QueueHandsetCommand(kHandsetRingSilent);
  }
}

void CHandsetLink::IndicatorThread(std::stop_token stop) {
  auto& clock = ports_.clock;
  while (!stop.stop_requested()) {
    if (client_.callRinging) {
      int inProgress = 0, inProgressId = 0, ringing = 0, ringingId = 0, onHold = 0, onHoldId = 0;
      ports_.client.GetCallNumber(inProgress, inProgressId, ringing, ringingId, onHold, onHoldId);
      while (client_.callRinging && !stop.stop_requested()) {
        QueueRingCommand(inProgress);
        const std::uint32_t start = clock.TickCount();
        do {
          state_.indicatorOn = !state_.indicatorOn;
          SendStatusReport();
          clock.Sleep(kRingBlinkMs);
        } while (client_.callRinging && clock.TickCount() - start < kRingBurstMs);
        state_.indicatorOn = false;
        SendStatusReport();
        clock.Sleep(kRingPauseMs);
      }
      QueueHandsetCommand(kHandsetStopRing);
      state_.indicatorOn = false;
      SendStatusReport();
    } else if (client_.clientMuted) {
      for (;;) {
        state_.indicatorOn = client_.clientMuted ? !state_.indicatorOn : false;
        SendStatusReport();
        if (!client_.clientMuted || client_.callRinging || stop.stop_requested()) break;
        clock.Sleep(kMuteBlinkMs);
      }
    } else {
      int inProgress = 0, inProgressId = 0, ringing = 0, ringingId = 0, onHold = 0, onHoldId = 0;
      ports_.client.GetCallNumber(inProgress, inProgressId, ringing, ringingId, onHold, onHoldId);
      state_.indicatorOn = onHold > 0;
      SendStatusReport();
      clock.Sleep(kIndicatorIdleMs);
    }
  }
}

void CHandsetLink::KeyActivityThread(std::stop_token stop) {
  const std::stop_callback wake(stop, [this] { keyActivityMarked_->Set(); });
  while (!stop.stop_requested()) {
    // Reset before the look, so a key marked after it ends the wait below at once.
    keyActivityMarked_->Reset();
    // As in the sender: a stop since the loop's test would otherwise leave the wait below for ever.
    if (stop.stop_requested()) break;
    if (state_.keyActivityOn) {
      SendStatusReport();
      // A key during the countdown sets the seconds back to five.
      while (state_.keyActivitySeconds > 0) {
        --state_.keyActivitySeconds;
        ports_.clock.Sleep(kKeyActivityStepMs);
      }
      state_.keyActivityOn = false;
      // A key marked between the countdown's last test and the clear above set the seconds
      // again, and its wake-up may be taken by the reset below: its activity stays on and the
      // next pass counts it down, rather than being lost until some later key.
      if (state_.keyActivitySeconds > 0) {
        state_.keyActivityOn = true;
        continue;
      }
      SendStatusReport();
    }
    keyActivityMarked_->Wait(platform::kInfinite);
  }
}

void CHandsetLink::Close() {
  if (!state_.handsetOpen) return;
  ports_.hid.CloseDevice();
  ports_.hid.ReleaseLibrary();
}

}  // namespace bridge
