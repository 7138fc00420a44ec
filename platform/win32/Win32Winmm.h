// The multimedia port on winmm: device lists from the ANSI capability records, mixer lines,
// controls and values by device index, and waveform output reporting to a window.
//
// Waveform blocks: each prepared WaveBlock has a WAVEHDR of the adapter's own (dwUser = the
// WaveBlock's address), so the MM_WOM_DONE that winmm posts carries that WAVEHDR in lParam. The
// block's data and length are taken when it is prepared; the block stays where it is until it is
// unprepared. `prepared` follows Prepare and Unprepare; `done` is brought up to date from the
// header's flags whenever the block or its device passes through the adapter.
//
// Closing follows Windows' rules, which Wine 8 does not keep: a close is refused with
// WAVERR_STILLPLAYING while a written block is still queued (Wine closes and drops the queue).
// waveOutUnprepareHeader needs the open handle (after the close it answers
// MMSYSERR_INVALHANDLE), so a successful close unprepares its device's blocks first; their
// headers stay valid, for the MM_WOM_DONE messages still on their way, until the owner's
// Unprepare, which then simply succeeds.
//
// Thread safety: any member from any thread; the mixer calls keep no state, the headers are
// behind one lock that is never held while a window could be called.
#pragma once

#include <windows.h>
// After windows.h: the lean build leaves the multimedia declarations out.
#include <mmsystem.h>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Winmm.h"

namespace win32 {

class Win32Winmm final : public platform::Winmm {
 public:
  Win32Winmm() = default;
  Win32Winmm(const Win32Winmm&) = delete;
  Win32Winmm& operator=(const Win32Winmm&) = delete;

  std::uint32_t MixerCount() override;
  std::uint32_t MixerName(std::uint32_t device, std::string& name) override;
  std::uint32_t MixerLineInfo(std::uint32_t device, platform::LineQuery query, platform::MixerLine& line) override;
  std::uint32_t MixerLineControl(std::uint32_t device, std::uint32_t lineId, std::uint32_t controlType,
                                 platform::MixerControl& control) override;
  std::uint32_t MixerGetValue(std::uint32_t device, std::uint32_t controlId, std::uint32_t& value) override;
  std::uint32_t MixerSetValue(std::uint32_t device, std::uint32_t controlId, std::uint32_t value) override;

  std::uint32_t WaveOutCount() override;
  std::uint32_t WaveOutName(std::uint32_t device, std::string& name) override;
  std::uint32_t WaveInCount() override;
  std::uint32_t WaveInName(std::uint32_t device, std::string& name) override;

  std::uint32_t WaveOutOpen(platform::WaveOutHandle& handle, std::uint32_t device, const platform::WaveFormat& format,
                            platform::WindowHandle window) override;
  std::uint32_t WaveOutPrepare(platform::WaveOutHandle handle, platform::WaveBlock& block) override;
  std::uint32_t WaveOutUnprepare(platform::WaveOutHandle handle, platform::WaveBlock& block) override;
  std::uint32_t WaveOutWrite(platform::WaveOutHandle handle, platform::WaveBlock& block) override;
  std::uint32_t WaveOutSetVolume(platform::WaveOutHandle handle, std::uint32_t volume) override;
  std::uint32_t WaveOutReset(platform::WaveOutHandle handle) override;
  std::uint32_t WaveOutClose(platform::WaveOutHandle handle) override;

  // Headers the adapter still keeps (blocks prepared and not yet unprepared by their owner).
  std::size_t HeldHeaders();

 private:
  struct Header {
    WAVEHDR header{};
    HWAVEOUT device = nullptr;
    // Its device has been closed: winmm no longer knows the header.
    bool closed = false;
  };

  std::mutex mutex_;
  std::map<platform::WaveBlock*, std::unique_ptr<Header>> headers_;
};

}  // namespace win32
