#include "bridge/handset/HandsetLink.h"

#include <string>

#include "platform/HidLink.h"

namespace bridge {
namespace {

constexpr std::uint8_t kReportId = 0xC0;
constexpr std::uint8_t kStatusAlways = 0x40;
constexpr std::uint8_t kStatusIndicatorOff = 0x02;
constexpr std::uint8_t kStatusKeyActivity = 0x01;

// Command sender.
constexpr std::uint32_t kSenderIdleMs = 50;
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

// Indicator and key activity.
constexpr std::uint32_t kRingBlinkMs = 70;
constexpr std::uint32_t kRingBurstMs = 2000;
constexpr std::uint32_t kRingPauseMs = 1000;
constexpr std::uint32_t kMuteBlinkMs = 500;
constexpr std::uint32_t kIndicatorIdleMs = 100;
constexpr std::uint32_t kKeyActivityIdleMs = 100;
constexpr std::uint32_t kKeyActivityStepMs = 1000;

}  // namespace

CHandsetLink::CHandsetLink(BridgePorts& ports, BridgeState& state, HandsetLinkHooks hooks)
    : ports_(ports), state_(state), hooks_(std::move(hooks)), queue_(state) {}

void CHandsetLink::CreateEvents() {
  ackEvent_ = ports_.clock.MakeEvent(false);
  // Made here rather than by the monitor thread, so a report can never find it missing.
  versionEvent_ = ports_.clock.MakeEvent(false);
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

bool CHandsetLink::SendStatusReport() { return Write(BuildReport(0x00)); }

bool CHandsetLink::SendCommandWithAck(Report report) {
  bool acknowledged = false;
  for (int attempt = 0; attempt < kAckAttempts && !acknowledged; ++attempt) {
    ackEvent_->Reset();
    Write(report);
    ports_.clock.Sleep(kAckSettleMs);
    acknowledged = ackEvent_->Wait(kAckWaitMs);
  }
  // Dropped whether or not it was acknowledged.
  queue_.RemoveFront();
  return acknowledged;
}

bool CHandsetLink::UploadRingParameters(Report report) {
  queue_.RemoveFront();
  std::array<std::uint8_t, 10> sequence{};
  for (std::size_t i = 0; i < 5; ++i) {
    sequence[2 * i] = kUploadTags[i];
    sequence[2 * i + 1] = state_.ringParameters[i];
  }
  std::size_t position = 0;
  int failures = 0;
  while (position < sequence.size()) {
    report[2] = sequence[position];
    // Reset before every write: a write that fails must not find the event still set by an
    // earlier acknowledgement and be taken as accepted.
    ackEvent_->Reset();
    const bool written = Write(report);
    if (written && ackEvent_->Wait(kUploadAckWaitMs)) {
      ++position;
      continue;
    }
    if (!written && writeFailed_) {
      // The handset is gone: nothing more can be acknowledged.
      state_.ringPreviewActive = false;
      return false;
    }
    report[2] = kHandsetStopRing;
    Write(report);
    if (position % 2 == 1) --position;  // a parameter byte is resent from its tag
    ports_.clock.Sleep(kUploadRestartPauseMs);
    if (++failures == kUploadMaxFailures) {
      state_.ringPreviewActive = false;
      return false;
    }
  }
  return true;
}

void CHandsetLink::CommandSenderThread(std::stop_token stop) {
  while (!stop.stop_requested()) {
    if (state_.handsetOpen) {
      if (const auto code = queue_.Front()) {
        const Report report = BuildReport(*code);
        if (*code == kHandsetVersionMajor || *code == kHandsetVersionMinor) {
          Write(report);
          queue_.RemoveFront();
        } else if (*code == kHandsetUploadRingTone) {
          if (UploadRingParameters(report)) ports_.desktop.Post(state_.mainWindow, kMsgRingUploadAccepted, 0, 0);
        } else {
          SendCommandWithAck(report);
        }
      }
    }
    ports_.clock.Sleep(kSenderIdleMs);
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
      // A handset unplugged meanwhile ends the exchange at once.
      if (writeFailed_ || stop.stop_requested()) return;
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
  if (state_.ringMode == 1) {
    state_.previewAfterUpload = 2;
    if (hooks_.selectRingTone) hooks_.selectRingTone(state_.ringType);
    ports_.clock.Sleep(kReuploadDelayMs);
    QueueHandsetCommand(kHandsetUploadRingTone);
  }
  ports_.client.Connect2Tarvo();
  if (hooks_.updateTray) hooks_.updateTray();
  if (hooks_.muteMicrophoneMonitor) hooks_.muteMicrophoneMonitor();
  PointClientAtHandset();
}

void CHandsetLink::PointClientAtHandset() {
  if (!hooks_.findDeviceName) return;
  const auto name = hooks_.findDeviceName(platform::kHandsetVendorId, state_.handsetProductId);
  if (!name) return;
  auto& winmm = ports_.winmm;
  const auto count = winmm.MixerCount();
  for (std::uint32_t device = 0; device < count; ++device) {
    std::string product;
    if (winmm.MixerName(device, product) != platform::kMmSuccess || product != *name) continue;
    if (state_.clientAttached) {
      ports_.client.SendStringCommand(("SET AUDIO_IN " + product).c_str());
      ports_.client.SendStringCommand(("SET AUDIO_OUT " + product).c_str());
    }
    return;
  }
}

void CHandsetLink::DeviceMonitorThread(std::stop_token stop) {
  state_.handsetOpen = false;
  while (!stop.stop_requested()) {
    if (!state_.handsetOpen) {
      state_.handsetProductId = state_.productIdToggle ? platform::kHandsetProductB : platform::kHandsetProductA;
      auto& hid = ports_.hid;
      if (!hid.FindDevice(platform::kHandsetVendorId, state_.handsetProductId)) {
        state_.productIdToggle = !state_.productIdToggle;
      } else if (hid.OpenDevice(state_.mainWindow)) {
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
      state_.SetClientAudioOut("Unknown");
      state_.SetClientAudioIn("Unknown");
      ports_.client.Disconnect2Tarvo();
      if (hooks_.updateTray) hooks_.updateTray();
    }
    ports_.clock.Sleep(kMonitorPassMs);
  }
}

void CHandsetLink::QueueRingCommand(int callsInProgress) {
  if (callsInProgress > 0) {
    QueueHandsetCommand(kHandsetRingSilent);
  } else if (state_.ringMode == 1) {
    QueueHandsetCommand(kHandsetRing);
  } else if (state_.ringMode == 2) {
    QueueHandsetCommand(kHandsetRingSilent);
  }
}

void CHandsetLink::IndicatorThread(std::stop_token stop) {
  auto& clock = ports_.clock;
  while (!stop.stop_requested()) {
    if (state_.callRinging) {
      int inProgress = 0, inProgressId = 0, ringing = 0, ringingId = 0, onHold = 0, onHoldId = 0;
      ports_.client.GetCallNumber(inProgress, inProgressId, ringing, ringingId, onHold, onHoldId);
      while (state_.callRinging && !stop.stop_requested()) {
        QueueRingCommand(inProgress);
        const std::uint32_t start = clock.TickCount();
        do {
          state_.indicatorOn = !state_.indicatorOn;
          SendStatusReport();
          clock.Sleep(kRingBlinkMs);
        } while (state_.callRinging && clock.TickCount() - start < kRingBurstMs);
        state_.indicatorOn = false;
        SendStatusReport();
        clock.Sleep(kRingPauseMs);
      }
      QueueHandsetCommand(kHandsetStopRing);
      state_.indicatorOn = false;
      SendStatusReport();
    } else if (state_.clientMuted) {
      for (;;) {
        state_.indicatorOn = state_.clientMuted ? !state_.indicatorOn : false;
        SendStatusReport();
        if (!state_.clientMuted || state_.callRinging || stop.stop_requested()) break;
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
  while (!stop.stop_requested()) {
    if (state_.keyActivityOn) {
      SendStatusReport();
      while (state_.keyActivitySeconds > 0) {
        --state_.keyActivitySeconds;
        ports_.clock.Sleep(kKeyActivityStepMs);
      }
      state_.keyActivityOn = false;
      SendStatusReport();
    }
    ports_.clock.Sleep(kKeyActivityIdleMs);
  }
}

void CHandsetLink::Close() {
  if (!state_.handsetOpen) return;
  ports_.hid.CloseDevice();
  ports_.hid.ReleaseLibrary();
}

}  // namespace bridge
