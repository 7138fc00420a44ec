#include "bridge/audio/ToneSynth.h"

#include <cmath>

namespace bridge {
namespace {

// The full turn as the key tones have always used it, in the increment and in the wrap alike (not
// 2π to full precision: the tones keep their exact historical sound).
constexpr double kTurn = 6.28318;
constexpr double kAmplitude = 63.0;
constexpr double kCentre = 128.0;

}  // namespace

std::optional<std::size_t> KeyToneRow(char key) {
  if (key >= '0' && key <= '9') return static_cast<std::size_t>(key - '0');
  switch (key) {
    case '*':
      return 10;
    case '#':
      return 11;
    case 'A':
      return 12;
    case 'B':
      return 13;
    case 'C':
      return 14;
    case 'D':
      return 15;
    default:
      return std::nullopt;
  }
}

void ToneSynthesizer::FillToneBlock(std::uint8_t* block, int lowHz, int highHz, bool tone) {
  if (!tone || lowHz == 0 || highHz == 0) {
    for (std::size_t i = 0; i < kToneBlockSamples; ++i) block[i] = kToneSilence;
    return;
  }
  // Increments are recomputed only when a frequency changes.
  if (lowHz != lastLowHz_) {
    incrementLow_ = lowHz * kTurn / kToneSampleRate;
    lastLowHz_ = lowHz;
  }
  if (highHz != lastHighHz_) {
    incrementHigh_ = highHz * kTurn / kToneSampleRate;
    lastHighHz_ = highHz;
  }
  for (std::size_t i = 0; i < kToneBlockSamples; ++i) {
    const double sample = (std::sin(phaseLow_) + std::sin(phaseHigh_)) * kAmplitude + kCentre;
    block[i] = static_cast<std::uint8_t>(static_cast<int>(sample));  // toward zero, low byte
    phaseLow_ += incrementLow_;
    phaseHigh_ += incrementHigh_;
    if (phaseLow_ > kTurn) phaseLow_ -= kTurn;
    if (phaseHigh_ > kTurn) phaseHigh_ -= kTurn;
  }
}

}  // namespace bridge
