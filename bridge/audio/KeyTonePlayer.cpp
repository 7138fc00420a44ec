#include "bridge/audio/KeyTonePlayer.h"

#include <new>

#include "platform/HidLink.h"

namespace bridge {
namespace {

// waveOutSetVolume: low word the left channel (a mono device's only one) at full scale.
constexpr std::uint32_t kFullDeviceVolume = 0xFFFF;

}  // namespace

CKeyTonePlayer::~CKeyTonePlayer() {
  // A tone still playing when the program ends: the device lets go of the blocks before they go.
  if (waveOut_ != 0) {
    auto& winmm = context_.audio.Winmm();
    winmm.WaveOutReset(waveOut_);
    if (toneHeader1_) winmm.WaveOutUnprepare(waveOut_, *toneHeader1_);
    if (toneHeader2_) winmm.WaveOutUnprepare(waveOut_, *toneHeader2_);
    winmm.WaveOutClose(waveOut_);
  }
}

void CKeyTonePlayer::Release() {
  toneHeader1_.reset();
  toneHeader2_.reset();
  toneBlock1_.reset();
  toneBlock2_.reset();
}

void CKeyTonePlayer::PlayKeyTone(char key) {
  auto& winmm = context_.audio.Winmm();
  if (waveOut_ != 0) {
    // A key within the tone cuts it short; the device hands the queued blocks back at once.
    toneStopRequested_ = true;
    winmm.WaveOutReset(waveOut_);
    return;
  }
  const auto row = KeyToneRow(key);
  lowHz_ = row ? static_cast<int>(KeyToneTable[*row].low) : 0;
  highHz_ = row ? static_cast<int>(KeyToneTable[*row].high) : 0;

  toneHeader1_.reset(new (std::nothrow) platform::WaveBlock);
  toneHeader2_.reset(new (std::nothrow) platform::WaveBlock);
  toneBlock1_.reset(new (std::nothrow) Samples);
  toneBlock2_.reset(new (std::nothrow) Samples);
  if (!toneHeader1_ || !toneHeader2_ || !toneBlock1_ || !toneBlock2_) return Release();
  toneStopRequested_ = false;

  const auto handset = context_.audio.Handset();
  const auto device = handset.open ? context_.audio.FindWaveOut(handset.productId) : std::nullopt;
  if (!device) return Release();
  platform::WaveOutHandle handle = 0;
  if (winmm.WaveOutOpen(handle, *device, platform::WaveFormat{}, context_.mainWindow()) != platform::kMmSuccess) {
    waveOut_ = 0;
    return Release();
  }
  waveOut_ = handle;
  // Nothing is written yet: MM_WOM_OPEN starts the output.
  toneHeader1_->data = toneBlock1_->data();
  toneHeader1_->length = kToneBlockSamples;
  toneHeader2_->data = toneBlock2_->data();
  toneHeader2_->length = kToneBlockSamples;
  winmm.WaveOutPrepare(waveOut_, *toneHeader1_);
  winmm.WaveOutPrepare(waveOut_, *toneHeader2_);
}

bool CKeyTonePlayer::OnWaveOutMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t) {
  if (msg != platform::kMmWomOpen && msg != platform::kMmWomDone && msg != platform::kMmWomClose) return false;
  // Only our own device's reports: a late one of a device already closed changes nothing.
  if (waveOut_ == 0 || static_cast<platform::WaveOutHandle>(wParam) != waveOut_) return true;
  auto& winmm = context_.audio.Winmm();
  switch (msg) {
    case platform::kMmWomOpen:
      context_.audio.ApplyKeyToneLevel(context_.keyToneLevel());
      winmm.WaveOutSetVolume(waveOut_, kFullDeviceVolume);
      synth_.FillToneBlock(toneBlock1_->data(), lowHz_, highHz_, true);
      synth_.FillToneBlock(toneBlock2_->data(), lowHz_, highHz_, false);
      winmm.WaveOutWrite(waveOut_, *toneHeader1_);
      winmm.WaveOutWrite(waveOut_, *toneHeader2_);
      return true;
    case platform::kMmWomDone:
      // From the silent block on, the speaker is back at the user's own volume.
      context_.audio.RestoreSpeakerVolume();
      // Refused while the other block is still queued; the next completion closes it. A stop
      // request has had every block handed back already.
      winmm.WaveOutClose(waveOut_);
      return true;
    case platform::kMmWomClose:
      winmm.WaveOutUnprepare(waveOut_, *toneHeader1_);
      winmm.WaveOutUnprepare(waveOut_, *toneHeader2_);
      Release();
      waveOut_ = 0;
      return true;
  }
  return true;
}

}  // namespace bridge
