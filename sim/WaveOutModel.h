// Waveform output with window-message callbacks, on the virtual clock: what the audio world's
// waveOut calls do once the device has been looked up.
//
// Behaviour:
// - Open posts MM_WOM_OPEN (wParam = handle) at once; Close posts MM_WOM_CLOSE (wParam = handle).
//   Both print their transcript line; a refused close prints "wave close refused".
// - Blocks play back to back. A block written to an idle stream starts a run at that instant;
//   each block of the run ends at runStart + floor(runBytes * 1000 / bytesPerSecond), runBytes
//   counted to the block's end, so 90.7 ms blocks never drift. Its completion marks block.done
//   and posts MM_WOM_DONE with lParam = the block's address.
// - Reset hands back every queued block at once, in order; of the block that was playing only the
//   part played so far is kept for the dump.
// - The samples are copied at write time, so the dump never reads a buffer its owner has freed.
// - Errors as winmm gives them: a closed or unknown handle is kMmInvalidHandle (and prints
//   nothing), writing an unprepared block is WAVERR_UNPREPARED, writing a queued block or
//   unpreparing it is kWaveErrStillPlaying, a format that is not PCM is WAVERR_BADFORMAT.
//
// Every stream keeps what it played, silence filling gaps between runs, from its first write on,
// so it can be written out as a WAV file.
//
// Thread safety: any member from any thread. The model's own mutex is never held while calling
// the clock, scheduler, transcript or poster. Completions hold only a weak reference, so the
// model may go before the scheduler does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Winmm.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/WindowPoster.h"

namespace sim {

inline constexpr std::uint32_t kWaveErrBadFormat = 32;
inline constexpr std::uint32_t kWaveErrUnprepared = 34;

// What one opened stream has played.
struct WaveStream {
  std::string device;
  platform::WaveFormat format;
  // Virtual time of the first sample: the first write, or the open while nothing was written.
  std::uint64_t startTime = 0;
  std::vector<std::uint8_t> samples;
};

class WaveOutModel {
 public:
  WaveOutModel(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript, WindowPoster& poster);
  ~WaveOutModel();
  WaveOutModel(const WaveOutModel&) = delete;
  WaveOutModel& operator=(const WaveOutModel&) = delete;

  // `device` is the device's full name, for the transcript and the dump.
  std::uint32_t Open(platform::WaveOutHandle& handle, const std::string& device, const platform::WaveFormat& format,
                     platform::WindowHandle window);
  std::uint32_t Prepare(platform::WaveOutHandle handle, platform::WaveBlock& block);
  std::uint32_t Unprepare(platform::WaveOutHandle handle, platform::WaveBlock& block);
  std::uint32_t Write(platform::WaveOutHandle handle, platform::WaveBlock& block);
  std::uint32_t SetVolume(platform::WaveOutHandle handle, std::uint32_t volume);
  std::uint32_t Reset(platform::WaveOutHandle handle);
  std::uint32_t Close(platform::WaveOutHandle handle);

  // Every stream opened so far, in order of opening, with what it has played until now.
  std::vector<WaveStream> Streams() const;
  // From now on a stream is forgotten when it closes: for worlds that play for days.
  void KeepNoClosedStreams();

  // A standard RIFF/WAVE PCM file of the stream's samples. False when the file cannot be written.
  static bool WriteWav(const WaveStream& stream, const std::string& path);

 private:
  struct State;

  static void Complete(State& state);

  Scheduler& scheduler_;
  std::shared_ptr<State> state_;
};

}  // namespace sim
