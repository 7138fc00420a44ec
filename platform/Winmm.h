// The multimedia calls the bridge makes: device lists, mixer lines and controls, and waveform
// output with window-message callbacks.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Window.h"

namespace platform {

inline constexpr std::uint32_t kMmSuccess = 0;
inline constexpr std::uint32_t kMmError = 1;
inline constexpr std::uint32_t kMmBadDeviceId = 2;
inline constexpr std::uint32_t kMmInvalidHandle = 5;
inline constexpr std::uint32_t kMixerErrInvalLine = 1024;
inline constexpr std::uint32_t kMixerErrInvalControl = 1025;
inline constexpr std::uint32_t kWaveErrStillPlaying = 33;

// Product names are kept to 31 characters, as the 32-byte name field of the capability records.
inline constexpr std::size_t kMaxProductName = 31;

inline constexpr std::uint32_t kComponentDstSpeakers = 4;
inline constexpr std::uint32_t kComponentDstWaveIn = 7;
inline constexpr std::uint32_t kComponentSrcLine = 0x1002;
inline constexpr std::uint32_t kComponentSrcMicrophone = 0x1003;
inline constexpr std::uint32_t kComponentSrcWaveOut = 0x1008;

inline constexpr std::uint32_t kControlVolume = 0x50030001;
inline constexpr std::uint32_t kControlMute = 0x20010002;

struct MixerLine {
  std::uint32_t destination = 0;
  std::uint32_t source = 0;
  std::uint32_t lineId = 0;
  std::uint32_t componentType = 0;
  std::uint32_t connections = 0;  // sources of a destination
  std::uint32_t controls = 0;
  std::string name;
};

struct MixerControl {
  std::uint32_t controlId = 0;
  std::uint32_t controlType = 0;
  std::uint32_t minimum = 0;
  std::uint32_t maximum = 0;
};

// How a line is asked for (mixerGetLineInfo flags).
enum class LineQuery { ByComponentType, ByDestination, BySource };

struct WaveFormat {
  std::uint16_t formatTag = 1;
  std::uint16_t channels = 1;
  std::uint32_t samplesPerSecond = 11025;
  std::uint32_t bytesPerSecond = 11025;
  std::uint16_t blockAlign = 1;
  std::uint16_t bitsPerSample = 8;
};

using WaveOutHandle = std::uintptr_t;

// One queued block. The caller owns it and keeps it in place from prepare to unprepare; the
// device has it from the write until MM_WOM_DONE hands it back.
struct WaveBlock {
  const std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  bool prepared = false;
  bool done = false;
};

class Winmm {
 public:
  virtual ~Winmm() = default;

  virtual std::uint32_t MixerCount() = 0;
  // Product name of a device, or an error.
  virtual std::uint32_t MixerName(std::uint32_t device, std::string& name) = 0;
  // `line` carries the query's input (componentType, destination, source) and receives the answer.
  virtual std::uint32_t MixerLineInfo(std::uint32_t device, LineQuery query, MixerLine& line) = 0;
  virtual std::uint32_t MixerLineControl(std::uint32_t device, std::uint32_t lineId, std::uint32_t controlType,
                                         MixerControl& control) = 0;
  virtual std::uint32_t MixerGetValue(std::uint32_t device, std::uint32_t controlId, std::uint32_t& value) = 0;
  virtual std::uint32_t MixerSetValue(std::uint32_t device, std::uint32_t controlId, std::uint32_t value) = 0;

  virtual std::uint32_t WaveOutCount() = 0;
  virtual std::uint32_t WaveOutName(std::uint32_t device, std::string& name) = 0;
  virtual std::uint32_t WaveInCount() = 0;
  virtual std::uint32_t WaveInName(std::uint32_t device, std::string& name) = 0;

  // Opens with CALLBACK_WINDOW: MM_WOM_OPEN, MM_WOM_DONE and MM_WOM_CLOSE (wParam = the handle)
  // are posted to `window`. MM_WOM_DONE's lParam is the adapter's record of the finished block:
  // under Windows winmm's WAVEHDR, whose dwUser holds the WaveBlock's address; in the simulation
  // the WaveBlock itself. Portable code goes by wParam.
  virtual std::uint32_t WaveOutOpen(WaveOutHandle& handle, std::uint32_t device, const WaveFormat& format,
                                    WindowHandle window) = 0;
  virtual std::uint32_t WaveOutPrepare(WaveOutHandle handle, WaveBlock& block) = 0;
  virtual std::uint32_t WaveOutUnprepare(WaveOutHandle handle, WaveBlock& block) = 0;
  virtual std::uint32_t WaveOutWrite(WaveOutHandle handle, WaveBlock& block) = 0;
  virtual std::uint32_t WaveOutSetVolume(WaveOutHandle handle, std::uint32_t volume) = 0;
  // Hands every queued block back at once.
  virtual std::uint32_t WaveOutReset(WaveOutHandle handle) = 0;
  // kWaveErrStillPlaying while a block is queued.
  virtual std::uint32_t WaveOutClose(WaveOutHandle handle) = 0;
};

}  // namespace platform
