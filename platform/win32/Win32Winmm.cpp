#include "platform/win32/Win32Winmm.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/Handles.h"

namespace win32 {
namespace {

// Global memory from GlobalAlloc, freed once.
struct GlobalMemoryTraits {
  using Type = HGLOBAL;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type memory) { return memory != nullptr; }
  static void Close(Type memory) { GlobalFree(memory); }
};
using UniqueGlobal = UniqueHandleOf<GlobalMemoryTraits>;

// One zero-initialised transfer block of exactly `size` bytes, locked while it lives: every
// control record and every value crosses the mixer call in one, and none outlives its call.
class TransferBlock {
 public:
  explicit TransferBlock(SIZE_T size) : memory_(GlobalAlloc(GMEM_ZEROINIT, size)) {
    if (memory_) data_ = GlobalLock(memory_.get());
  }
  ~TransferBlock() {
    if (data_) GlobalUnlock(memory_.get());
  }
  TransferBlock(const TransferBlock&) = delete;
  TransferBlock& operator=(const TransferBlock&) = delete;

  void* data() const { return data_; }

 private:
  UniqueGlobal memory_;
  void* data_ = nullptr;
};

// The mixer is addressed by its index, with no open handle.
HMIXEROBJ MixerObject(std::uint32_t device) { return reinterpret_cast<HMIXEROBJ>(static_cast<UINT_PTR>(device)); }

HWAVEOUT WaveOut(platform::WaveOutHandle handle) { return reinterpret_cast<HWAVEOUT>(handle); }

// A fixed name field of a capability or line record: up to its terminator, never past the field.
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// winmm's player thread writes the flags while the block plays: read them afresh each time, as
// a program polling WHDR_DONE does.
DWORD Flags(const WAVEHDR& header) { return *static_cast<const volatile DWORD*>(&header.dwFlags); }

constexpr UINT kHeaderSize = sizeof(WAVEHDR);

}  // namespace

std::uint32_t Win32Winmm::MixerCount() { return mixerGetNumDevs(); }

std::uint32_t Win32Winmm::MixerName(std::uint32_t device, std::string& name) {
  MIXERCAPSA caps{};
  const MMRESULT result = mixerGetDevCapsA(device, &caps, sizeof caps);
  if (result == MMSYSERR_NOERROR) name = FieldText(caps.szPname);
  return result;
}

std::uint32_t Win32Winmm::MixerLineInfo(std::uint32_t device, platform::LineQuery query, platform::MixerLine& line) {
  MIXERLINEA info{};
  info.cbStruct = sizeof info;
  DWORD flags = MIXER_OBJECTF_MIXER;
  switch (query) {
    case platform::LineQuery::ByComponentType:
      info.dwComponentType = line.componentType;
      flags |= MIXER_GETLINEINFOF_COMPONENTTYPE;
      break;
    case platform::LineQuery::ByDestination:
      info.dwDestination = line.destination;
      flags |= MIXER_GETLINEINFOF_DESTINATION;
      break;
    case platform::LineQuery::BySource:
      info.dwDestination = line.destination;
      info.dwSource = line.source;
      flags |= MIXER_GETLINEINFOF_SOURCE;
      break;
  }
  const MMRESULT result = mixerGetLineInfoA(MixerObject(device), &info, flags);
  if (result != MMSYSERR_NOERROR) return result;
  line.destination = info.dwDestination;
  line.source = info.dwSource;
  line.lineId = info.dwLineID;
  line.componentType = info.dwComponentType;
  line.connections = info.cConnections;
  line.controls = info.cControls;
  line.name = FieldText(info.szName);
  return result;
}

std::uint32_t Win32Winmm::MixerLineControl(std::uint32_t device, std::uint32_t lineId, std::uint32_t controlType,
                                           platform::MixerControl& control) {
  TransferBlock block(sizeof(MIXERCONTROLA));
  if (!block.data()) return MMSYSERR_NOMEM;
  MIXERLINECONTROLSA query{};
  query.cbStruct = sizeof query;
  query.dwLineID = lineId;
  query.dwControlType = controlType;
  query.cControls = 1;
  query.cbmxctrl = sizeof(MIXERCONTROLA);
  query.pamxctrl = static_cast<MIXERCONTROLA*>(block.data());
  const MMRESULT result =
      mixerGetLineControlsA(MixerObject(device), &query, MIXER_OBJECTF_MIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE);
  if (result != MMSYSERR_NOERROR) return result;
  MIXERCONTROLA record;
  std::memcpy(&record, block.data(), sizeof record);
  control.controlId = record.dwControlID;
  control.controlType = record.dwControlType;
  control.minimum = record.Bounds.dwMinimum;
  control.maximum = record.Bounds.dwMaximum;
  return result;
}

namespace {

// One unsigned value for all channels together: one channel, no items, 4 bytes.
MIXERCONTROLDETAILS ValueDetails(std::uint32_t controlId, void* value) {
  MIXERCONTROLDETAILS details{};
  details.cbStruct = sizeof details;
  details.dwControlID = controlId;
  details.cChannels = 1;
  details.cMultipleItems = 0;
  details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
  details.paDetails = value;
  return details;
}

}  // namespace

std::uint32_t Win32Winmm::MixerGetValue(std::uint32_t device, std::uint32_t controlId, std::uint32_t& value) {
  TransferBlock block(sizeof(MIXERCONTROLDETAILS_UNSIGNED));
  if (!block.data()) return MMSYSERR_NOMEM;
  MIXERCONTROLDETAILS details = ValueDetails(controlId, block.data());
  const MMRESULT result =
      mixerGetControlDetailsA(MixerObject(device), &details, MIXER_OBJECTF_MIXER | MIXER_GETCONTROLDETAILSF_VALUE);
  if (result == MMSYSERR_NOERROR) {
    MIXERCONTROLDETAILS_UNSIGNED read;
    std::memcpy(&read, block.data(), sizeof read);
    value = read.dwValue;
  }
  return result;
}

std::uint32_t Win32Winmm::MixerSetValue(std::uint32_t device, std::uint32_t controlId, std::uint32_t value) {
  TransferBlock block(sizeof(MIXERCONTROLDETAILS_UNSIGNED));
  if (!block.data()) return MMSYSERR_NOMEM;
  const MIXERCONTROLDETAILS_UNSIGNED written{value};
  std::memcpy(block.data(), &written, sizeof written);
  MIXERCONTROLDETAILS details = ValueDetails(controlId, block.data());
  return mixerSetControlDetails(MixerObject(device), &details, MIXER_OBJECTF_MIXER | MIXER_SETCONTROLDETAILSF_VALUE);
}

std::uint32_t Win32Winmm::WaveOutCount() { return waveOutGetNumDevs(); }

std::uint32_t Win32Winmm::WaveOutName(std::uint32_t device, std::string& name) {
  WAVEOUTCAPSA caps{};
  const MMRESULT result = waveOutGetDevCapsA(device, &caps, sizeof caps);
  if (result == MMSYSERR_NOERROR) name = FieldText(caps.szPname);
  return result;
}

std::uint32_t Win32Winmm::WaveInCount() { return waveInGetNumDevs(); }

std::uint32_t Win32Winmm::WaveInName(std::uint32_t device, std::string& name) {
  WAVEINCAPSA caps{};
  const MMRESULT result = waveInGetDevCapsA(device, &caps, sizeof caps);
  if (result == MMSYSERR_NOERROR) name = FieldText(caps.szPname);
  return result;
}

std::uint32_t Win32Winmm::WaveOutOpen(platform::WaveOutHandle& handle, std::uint32_t device,
                                      const platform::WaveFormat& format, platform::WindowHandle window) {
  WAVEFORMATEX wave{};
  wave.wFormatTag = format.formatTag;
  wave.nChannels = format.channels;
  wave.nSamplesPerSec = format.samplesPerSecond;
  wave.nAvgBytesPerSec = format.bytesPerSecond;
  wave.nBlockAlign = format.blockAlign;
  wave.wBitsPerSample = format.bitsPerSample;
  wave.cbSize = 0;
  HWAVEOUT opened = nullptr;
  const MMRESULT result = waveOutOpen(&opened, device, &wave, static_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW);
  if (result == MMSYSERR_NOERROR) handle = reinterpret_cast<platform::WaveOutHandle>(opened);
  return result;
}

std::uint32_t Win32Winmm::WaveOutPrepare(platform::WaveOutHandle handle, platform::WaveBlock& block) {
  std::lock_guard lock(mutex_);
  auto it = headers_.find(&block);
  // A header left from a device closed meanwhile is not winmm's any more: start afresh.
  if (it != headers_.end() && it->second->closed) {
    headers_.erase(it);
    it = headers_.end();
  }
  if (it != headers_.end()) {
    // Preparing a prepared header has no effect and succeeds (waveOutPrepareHeader).
    return waveOutPrepareHeader(WaveOut(handle), &it->second->header, kHeaderSize);
  }
  auto entry = std::make_unique<Header>();
  entry->device = WaveOut(handle);
  // winmm only reads the samples of an output block.
  entry->header.lpData = const_cast<LPSTR>(reinterpret_cast<const char*>(block.data));
  entry->header.dwBufferLength = block.length;
  entry->header.dwFlags = 0;
  entry->header.dwLoops = 1;
  entry->header.dwUser = reinterpret_cast<DWORD_PTR>(&block);
  const MMRESULT result = waveOutPrepareHeader(entry->device, &entry->header, kHeaderSize);
  if (result != MMSYSERR_NOERROR) return result;
  headers_.emplace(&block, std::move(entry));
  block.prepared = true;
  block.done = false;
  return result;
}

std::uint32_t Win32Winmm::WaveOutUnprepare(platform::WaveOutHandle handle, platform::WaveBlock& block) {
  std::lock_guard lock(mutex_);
  const auto it = headers_.find(&block);
  // Unpreparing a block that is not prepared has no effect and succeeds (waveOutUnprepareHeader);
  // neither has one whose device's close unprepared it already.
  if (it == headers_.end() || it->second->closed) {
    if (it != headers_.end()) headers_.erase(it);
    block.prepared = false;
    return MMSYSERR_NOERROR;
  }
  WAVEHDR& header = it->second->header;
  const MMRESULT result = waveOutUnprepareHeader(WaveOut(handle), &header, kHeaderSize);
  block.done = (Flags(header) & WHDR_DONE) != 0;
  if (result != MMSYSERR_NOERROR) return result;
  headers_.erase(it);
  block.prepared = false;
  return result;
}

std::uint32_t Win32Winmm::WaveOutWrite(platform::WaveOutHandle handle, platform::WaveBlock& block) {
  std::lock_guard lock(mutex_);
  const auto it = headers_.find(&block);
  if (it == headers_.end()) return WAVERR_UNPREPARED;
  if (it->second->closed) return MMSYSERR_INVALHANDLE;
  WAVEHDR& header = it->second->header;
  const MMRESULT result = waveOutWrite(WaveOut(handle), &header, kHeaderSize);
  if (result == MMSYSERR_NOERROR) block.done = false;
  return result;
}

std::uint32_t Win32Winmm::WaveOutSetVolume(platform::WaveOutHandle handle, std::uint32_t volume) {
  return waveOutSetVolume(WaveOut(handle), volume);
}

std::uint32_t Win32Winmm::WaveOutReset(platform::WaveOutHandle handle) {
  std::lock_guard lock(mutex_);
  const MMRESULT result = waveOutReset(WaveOut(handle));
  // Every queued block is marked done before waveOutReset returns; MM_WOM_DONE follows.
  for (const auto& [block, entry] : headers_) {
    if (entry->device == WaveOut(handle) && !entry->closed) block->done = (Flags(entry->header) & WHDR_DONE) != 0;
  }
  return result;
}

std::uint32_t Win32Winmm::WaveOutClose(platform::WaveOutHandle handle) {
  const HWAVEOUT device = WaveOut(handle);
  std::lock_guard lock(mutex_);
  std::vector<Header*> mine;
  for (const auto& [block, entry] : headers_) {
    if (entry->device != device || entry->closed) continue;
    // waveOutClose: "The close operation fails if the device is still playing a waveform-audio
    // buffer that was previously sent by calling waveOutWrite." Wine 8 closes anyway and never
    // hands the queued blocks back.
    if (Flags(entry->header) & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    mine.push_back(entry.get());
  }
  // Unprepared while the handle still answers; after the close it would not.
  std::vector<Header*> unprepared;
  for (Header* entry : mine) {
    if (waveOutUnprepareHeader(device, &entry->header, kHeaderSize) == MMSYSERR_NOERROR) unprepared.push_back(entry);
  }
  const MMRESULT result = waveOutClose(device);
  for (Header* entry : mine) {
    auto* block = reinterpret_cast<platform::WaveBlock*>(entry->header.dwUser);
    block->done = (Flags(entry->header) & WHDR_DONE) != 0;
  }
  if (result != MMSYSERR_NOERROR) {
    // Still open: its blocks stay prepared as their owners left them.
    for (Header* entry : unprepared) waveOutPrepareHeader(device, &entry->header, kHeaderSize);
    return result;
  }
  for (Header* entry : mine) entry->closed = true;
  return result;
}

std::size_t Win32Winmm::HeldHeaders() {
  std::lock_guard lock(mutex_);
  return headers_.size();
}

}  // namespace win32
