// The ring settings flow of the main window: a chosen ring mode and tone reach the handset, are
// saved when the handset accepts them, and may be previewed for a second; and the factory reset.
#include "bridge/app/BridgeDlg.h"
#include "bridge/app/Settings.h"
#include "bridge/audio/RingToneDlg.h"

namespace bridge {
namespace {

constexpr RingParameters kRingTones[] = {
    {230, 234, 20, 25, 20}, {232, 240, 10, 25, 40}, {234, 238, 10, 25, 40}, {210, 218, 10, 25, 40},
    {224, 232, 10, 25, 40}, {230, 234, 10, 18, 40}, {230, 234, 10, 12, 40}, {230, 234, 5, 40, 40},
    {238, 240, 10, 25, 40}, {218, 224, 10, 25, 40},
};
constexpr std::uint32_t kPreviewOn = 1;
constexpr std::uint32_t kPreviewOff = 2;
constexpr std::uint32_t kPreviewStartMs = 10;
constexpr std::uint32_t kPreviewLengthMs = 1000;

}  // namespace

std::optional<RingParameters> RingToneParameters(std::uint32_t tone) {
  if (tone >= std::size(kRingTones)) return std::nullopt;
  return kRingTones[tone];
}

void CBridgeDlg::SelectRingParameters(std::uint32_t tone) {
  if (const auto parameters = RingToneParameters(tone)) {
    for (std::size_t i = 0; i < parameters->size(); ++i) state_.ringParameters[i] = (*parameters)[i];
  }
  state_.appliedRingType = 0;
}

void CBridgeDlg::ApplyRingSelection(std::uint32_t mode, std::uint32_t tone, std::uint32_t preview) {
  if (mode == 1) {
    if (state_.ringPreviewActive) return;
    if (preview == kPreviewOn) state_.ringPreviewActive = true;
    state_.ringType = tone;
    state_.previewAfterUpload = preview;
    SelectRingParameters(tone);
    // Saved only when the handset accepts the upload.
    handset_.QueueHandsetCommand(kHandsetUploadRingTone);
  } else if (mode == 2) {
    state_.ringMode = 2;
    WriteSetting(ports_.registry, kValueRingMode, 2);
    if (preview == kPreviewOn && window_) window_->SetTimer(kTimerPreviewSilent, kPreviewStartMs);
  }
}

void CBridgeDlg::OnRingTypeAccepted() {
  state_.appliedRingType = state_.ringType.load();
  state_.ringMode = 1;
  WriteSetting(ports_.registry, kValueRingMode, 1);
  WriteSetting(ports_.registry, kValueRingType, state_.appliedRingType);
  if (state_.previewAfterUpload == kPreviewOn && window_) window_->SetTimer(kTimerPreviewRing, kPreviewStartMs);
}

void CBridgeDlg::OnTimer(std::uintptr_t id) {
  if (id < kTimerPreviewRing || id > kTimerPreviewSilentEnd || !window_) return;
  window_->KillTimer(id);
  switch (id) {
    case kTimerPreviewRing:
      handset_.QueueHandsetCommand(kHandsetRing);
      window_->SetTimer(kTimerPreviewRingEnd, kPreviewLengthMs);
      break;
    case kTimerPreviewRingEnd:
      handset_.QueueHandsetCommand(kHandsetStopRing);
      state_.ringPreviewActive = false;
      break;
    case kTimerPreviewSilent:
      handset_.QueueHandsetCommand(kHandsetRingSilent);
      window_->SetTimer(kTimerPreviewSilentEnd, kPreviewLengthMs);
      break;
    case kTimerPreviewSilentEnd:
      handset_.QueueHandsetCommand(kHandsetStopRing);
      break;
  }
}

void CBridgeDlg::OpenRingDialog() {
  if (ringDialogOpen_) return;
  ringDialogOpen_ = true;
  const std::uint32_t savedMode = state_.ringMode;
  const std::uint32_t savedType = state_.appliedRingType;
  CRingToneDlg ringTone([this](std::uint32_t mode, std::uint32_t tone,
                               std::uint32_t preview) { ApplyRingSelection(mode, tone, preview); },
                        savedMode, savedType);
  const auto result = ports_.ui.RunModal(kIddRingTone, ringTone, window_);
  if (result != platform::kIdOk) ApplyRingSelection(savedMode, savedType, kPreviewOff);
  ringDialogOpen_ = false;
}

void CBridgeDlg::FactoryReset() {
  const auto question = ports_.ui.LoadText(kIdsFactoryResetQuestion);
  const auto answer = ports_.ui.ShowMessageBox(window_, question, kAppTitle,
                                               platform::kMbYesNo | platform::kMbIconExclamation);
  if (answer != platform::kIdYes) return;
  keyToneVolume_ = 1;
  WriteSetting(ports_.registry, kValueKeyTone, 1);
  if (!HandsetAudioPresent()) return;
  ResetHandsetVolumes();
  ApplyRingSelection(1, 0, kPreviewOff);
}

// The handset's audio devices are found by the audio device discovery, which is not part of this
// build yet: without it no handset audio is ever present, so the reset stops after the key tone.
bool CBridgeDlg::HandsetAudioPresent() { return false; }
void CBridgeDlg::ResetHandsetVolumes() {}

}  // namespace bridge
