// Key tones: the DTMF pair of each keypad character and the synthesis of one block of the
// 8-bit, 11025 Hz mono signal the handset's earpiece plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace bridge {

inline constexpr std::size_t kToneBlockSamples = 1000;  // 90.7 ms at 11025 Hz
inline constexpr std::uint32_t kToneSampleRate = 11025;
inline constexpr std::uint8_t kToneSilence = 0x80;

struct TonePair {
  double low = 0;
  double high = 0;
};

// The DTMF pairs: rows 0..9 the digits, 10 "*", 11 "#", 12..15 "A".."D".
inline constexpr TonePair KeyToneTable[16] = {
    {941, 1336}, {697, 1209}, {697, 1336}, {697, 1477}, {770, 1209}, {770, 1336}, {770, 1477}, {852, 1209},
    {852, 1336}, {852, 1477}, {941, 1209}, {941, 1477}, {697, 1633}, {770, 1633}, {852, 1633}, {941, 1633},
};

// The table row of a keypad character; nothing for a character without one (a silent tone).
std::optional<std::size_t> KeyToneRow(char key);

// The synthesizer keeps its phases from block to block and from tone to tone, so two tones of the
// same key do not start alike. One per process, touched by the user-interface thread only.
class ToneSynthesizer {
 public:
  // Fills one block: the dual tone when `tone` and both frequencies are non-zero, else silence.
  // Every tone sample lies in 2..254.
  void FillToneBlock(std::uint8_t* block, int lowHz, int highHz, bool tone);

  double LowPhase() const { return phaseLow_; }
  double HighPhase() const { return phaseHigh_; }

 private:
  double phaseLow_ = 0.0;
  double phaseHigh_ = 0.0;
  int lastLowHz_ = 0;
  int lastHighHz_ = 0;
  double incrementLow_ = 0.0;
  double incrementHigh_ = 0.0;
};

}  // namespace bridge
