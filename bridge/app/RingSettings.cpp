// The ring settings flow of the main window: a chosen ring mode and tone reach the handset, are
// saved when the handset accepts them, and may be previewed for a second; and the factory reset.
#include "bridge/app/BridgeDlg.h"
#include "bridge/app/Settings.h"
#include "bridge/audio/RingToneDlg.h"
#include "resources/bridge/resource.h"

namespace bridge {
namespace {

constexpr std::uint32_t kPreviewStartMs = 10;
constexpr std::uint32_t kPreviewLengthMs = 1000;

}  // namespace

void CBridgeDlg::ApplyRingSelection(RingMode mode, std::uint32_t tone, RingPreview preview) {
  if (mode == RingMode::Ring) {
    if (ring_.ringPreviewActive) return;
    if (preview == RingPreview::AfterUpload) ring_.ringPreviewActive = true;
    ring_.ringType = tone;
    ring_.previewAfterUpload = preview;
    ring_.SelectRingTone(tone);
    // Saved only when the handset accepts the upload.
    handset_.QueueHandsetCommand(kHandsetUploadRingTone);
  } else if (mode == RingMode::Silent) {
    ring_.ringMode = RingMode::Silent;
    WriteSetting(ports_.registry, kValueRingMode, 2);
    if (preview == RingPreview::AfterUpload && window_) window_->SetTimer(kTimerPreviewSilent, kPreviewStartMs);
  }
}

void CBridgeDlg::OnRingTypeAccepted() {
  ring_.appliedRingType = ring_.ringType.load();
  ring_.ringMode = RingMode::Ring;
  WriteSetting(ports_.registry, kValueRingMode, 1);
  WriteSetting(ports_.registry, kValueRingType, ring_.appliedRingType);
  if (ring_.previewAfterUpload == RingPreview::AfterUpload && window_) {
    window_->SetTimer(kTimerPreviewRing, kPreviewStartMs);
  }
}

bool CBridgeDlg::OnTimer(std::uintptr_t id) {
  if (id == kTimerTrayRetry) return OnTrayRetryTimer();
  if (id < kTimerPreviewRing || id > kTimerPreviewSilentEnd) return false;
  if (!window_) return true;
  window_->KillTimer(id);
  switch (id) {
    case kTimerPreviewRing:
      handset_.QueueHandsetCommand(kHandsetRing);
      window_->SetTimer(kTimerPreviewRingEnd, kPreviewLengthMs);
      break;
    case kTimerPreviewRingEnd:
      handset_.QueueHandsetCommand(kHandsetStopRing);
      ring_.ringPreviewActive = false;
      break;
    case kTimerPreviewSilent:
      handset_.QueueHandsetCommand(kHandsetRingSilent);
      window_->SetTimer(kTimerPreviewSilentEnd, kPreviewLengthMs);
      break;
    case kTimerPreviewSilentEnd:
      handset_.QueueHandsetCommand(kHandsetStopRing);
      break;
  }
  return true;
}

void CBridgeDlg::OpenRingDialog() {
  if (ringDialogOpen_) return;
  ringDialogOpen_ = true;
  const RingMode savedMode = ring_.ringMode;
  const std::uint32_t savedType = ring_.appliedRingType;
  CRingToneDlg ringTone(
      [this](RingMode mode, std::uint32_t tone, RingPreview preview) { ApplyRingSelection(mode, tone, preview); },
      savedMode, savedType);
  const auto result = ports_.ui.RunModal(IDD_RING_TONE, ringTone, window_);
  ringDialogOpen_ = false;
  // Closed with the main window (the program is ending): the handset and the settings are left
  // as they are.
  if (!window_) return;
  if (result != platform::kIdOk) ApplyRingSelection(savedMode, savedType, RingPreview::None);
}

void CBridgeDlg::FactoryReset() {
  const auto question = ports_.ui.LoadText(IDS_FACTORY_RESET_QUESTION);
  const auto answer =
      ports_.ui.ShowMessageBox(window_, question, kAppTitle, platform::kMbYesNo | platform::kMbIconExclamation);
  if (answer != platform::kIdYes) return;
  keyToneVolume_ = 1;
  WriteSetting(ports_.registry, kValueKeyTone, 1);
  if (!HandsetAudioPresent()) return;
  ResetHandsetVolumes();
  ApplyRingSelection(RingMode::Ring, 0, RingPreview::None);
}

}  // namespace bridge
