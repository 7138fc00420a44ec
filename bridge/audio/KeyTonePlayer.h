// The key-tone player of the main window: one short DTMF beep per key in the handset's earpiece.
// A tone is one block of the dual tone and one block of silence, played on the handset's own
// waveform output, which reports its progress to the main window as MM_WOM_* messages; the
// speaker sounds at the key-tone level only while the tone block plays. Everything runs on the
// user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "bridge/audio/HandsetAudio.h"
#include "bridge/audio/ToneSynth.h"
#include "platform/Window.h"
#include "platform/Winmm.h"

namespace bridge {

class CKeyTonePlayer {
 public:
  struct Context {
    HandsetAudio& audio;
    // The window the device reports to.
    std::function<platform::WindowHandle()> mainWindow;
    // The key-tone level (0, 1 or 2) when a tone starts.
    std::function<std::uint32_t()> keyToneLevel;
  };

  explicit CKeyTonePlayer(Context context) : context_(std::move(context)) {}
  ~CKeyTonePlayer();
  CKeyTonePlayer(const CKeyTonePlayer&) = delete;
  CKeyTonePlayer& operator=(const CKeyTonePlayer&) = delete;

  // Starts the tone of a keypad character; while one is playing, cuts it short instead and plays
  // nothing.
  void PlayKeyTone(char key);
  // MM_WOM_OPEN, MM_WOM_DONE and MM_WOM_CLOSE; true when `msg` was one of them.
  bool OnWaveOutMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);

  bool Playing() const { return waveOut_ != 0; }

 private:
  using Samples = std::array<std::uint8_t, kToneBlockSamples>;
  void Release();

  Context context_;
  ToneSynthesizer synth_;
  platform::WaveOutHandle waveOut_ = 0;
  std::unique_ptr<platform::WaveBlock> toneHeader1_;
  std::unique_ptr<platform::WaveBlock> toneHeader2_;
  std::unique_ptr<Samples> toneBlock1_;
  std::unique_ptr<Samples> toneBlock2_;
  bool toneStopRequested_ = false;
  int lowHz_ = 0;
  int highHz_ = 0;
};

}  // namespace bridge
