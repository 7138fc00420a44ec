#include "sim/AudioWorld.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {

using platform::kMmBadDeviceId;
using platform::kMmSuccess;

namespace {

constexpr std::uint32_t kDestinationLineFlag = 0xFFFF0000;

std::uint32_t ControlType(AudioWorld::ControlKind kind) {
  return kind == AudioWorld::ControlKind::Mute ? platform::kControlMute : platform::kControlVolume;
}

const char* KindText(std::uint32_t controlType) { return controlType == platform::kControlMute ? "mute" : "volume"; }

std::uint32_t LineId(std::uint32_t destination, std::optional<std::uint32_t> source) {
  return source ? (*source << 16) | destination : kDestinationLineFlag | destination;
}

std::string ProductName(const std::string& name) { return name.substr(0, platform::kMaxProductName); }

AudioWorld::ControlLayout Volume(std::uint32_t value) { return {AudioWorld::ControlKind::Volume, 0, 65535, value}; }
AudioWorld::ControlLayout Mute(std::uint32_t value) { return {AudioWorld::ControlKind::Mute, 0, 1, value}; }

// Calls visit(line, ref) on every line of a mixer, each destination before its sources, until it
// returns true.
template <class MixerT, class Visit>
bool VisitLines(MixerT& mixer, Visit visit) {
  for (std::uint32_t d = 0; d < mixer.destinations.size(); ++d) {
    auto& destination = mixer.destinations[d];
    if (visit(destination.line, AudioWorld::LineRef{d, std::nullopt})) return true;
    for (std::uint32_t s = 0; s < destination.sources.size(); ++s) {
      if (visit(destination.sources[s], AudioWorld::LineRef{d, s})) return true;
    }
  }
  return false;
}

bool Contains(const std::vector<std::string>& list, std::string_view name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

}  // namespace

std::vector<AudioWorld::DestinationLayout> AudioWorld::HandsetMixerLayout() {
  using platform::kComponentDstSpeakers, platform::kComponentDstWaveIn, platform::kComponentSrcLine,
      platform::kComponentSrcMicrophone, platform::kComponentSrcWaveOut;
  return {
      {{kComponentDstSpeakers, "Speaker", {Volume(32768), Mute(0)}},
       {{kComponentSrcWaveOut, "Wave", {Volume(32768), Mute(0)}},
        {kComponentSrcMicrophone, "Microphone", {Volume(32768), Mute(0)}}}},
      {{kComponentDstWaveIn, "Wave In", {}},
       {{kComponentSrcLine, "Line In", {}}, {kComponentSrcMicrophone, "Microphone", {Volume(32768)}}}},
  };
}

std::string AudioWorld::HandsetInstancePath(std::uint16_t productId, std::uint32_t instance) {
  char path[96];
  std::snprintf(path, sizeof path, "USB\\Vid_%04x&Pid_%04x&MI_00\\6&1a2b3c&%u&0000", kHandsetVendorId,
                static_cast<unsigned>(productId), static_cast<unsigned>(instance));
  return path;
}

std::string AudioWorld::LineText(LineRef line) {
  std::string text = "dst" + std::to_string(line.destination);
  if (line.source) text += ".src" + std::to_string(*line.source);
  return text;
}

AudioWorld::AudioWorld(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript, WindowPoster& poster,
                       MemoryRegistry& registry)
    : waveOut_(clock, scheduler, transcript, poster), transcript_(transcript), registry_(registry) {}

AudioWorld::~AudioWorld() = default;

// --- directives

void AudioWorld::AddDevice(std::vector<std::string>& list, std::string& defaultName, std::string name) {
  // Windows makes the first device of a kind its default.
  if (defaultName.empty()) defaultName = name;
  list.push_back(std::move(name));
}

void AudioWorld::AddPlayback(std::string name) {
  std::lock_guard lock(mutex_);
  AddDevice(playback_, defaultPlayback_, std::move(name));
}

void AudioWorld::AddRecording(std::string name) {
  std::lock_guard lock(mutex_);
  AddDevice(recording_, defaultRecording_, std::move(name));
}

void AudioWorld::AddControl(Mixer& mixer, Line& line, const ControlLayout& layout) {
  line.controls.push_back(
      {mixer.nextControlId++, ControlType(layout.kind), layout.minimum, layout.maximum, layout.value});
}

void AudioWorld::AddMixer(std::string name, std::vector<DestinationLayout> destinations) {
  Mixer mixer;
  mixer.name = std::move(name);
  const auto build = [&mixer](const LineLayout& layout) {
    Line line{layout.componentType, layout.name, {}};
    for (const auto& control : layout.controls) AddControl(mixer, line, control);
    return line;
  };
  for (const auto& layout : destinations) {
    Destination destination{build(layout.line), {}};
    for (const auto& source : layout.sources) destination.sources.push_back(build(source));
    mixer.destinations.push_back(std::move(destination));
  }
  std::lock_guard lock(mutex_);
  mixers_.push_back(std::move(mixer));
}

void AudioWorld::AddHandset(std::string name, std::uint16_t productId) {
  AddMixer(name, HandsetMixerLayout());
  std::lock_guard lock(mutex_);
  std::uint32_t instance = 0;
  while (std::any_of(handsets_.begin(), handsets_.end(), [&](const Handset& h) { return h.instance == instance; })) {
    ++instance;
  }
  const std::string deviceKey = kDeviceEnumRoot + HandsetInstancePath(productId, instance);
  registry_.PutString(deviceKey, "DeviceDesc", name);
  registry_.PutString(deviceKey, "LocationInformation", name);
  handsets_.push_back({name, productId, instance});
  WriteEnumEntries();
  AddDevice(playback_, defaultPlayback_, name);
  AddDevice(recording_, defaultRecording_, std::move(name));
}

// The driver lists the instances it serves as "0", "1", ... with their number in "Count".
void AudioWorld::WriteEnumEntries() {
  const auto count = static_cast<std::uint32_t>(handsets_.size());
  registry_.PutDword(kUsbAudioEnumKey, "Count", count);
  for (std::uint32_t i = 0; i < count; ++i) {
    registry_.PutString(kUsbAudioEnumKey, std::to_string(i),
                        HandsetInstancePath(handsets_[i].productId, handsets_[i].instance));
  }
  for (std::uint32_t i = count; i < enumValuesWritten_; ++i) registry_.Remove(kUsbAudioEnumKey, std::to_string(i));
  enumValuesWritten_ = count;
}

bool AudioWorld::Remove(std::string_view name) {
  std::lock_guard lock(mutex_);
  bool removed = false;
  const auto removeFrom = [&](std::vector<std::string>& list, std::string& defaultName) {
    const auto size = list.size();
    list.erase(std::remove(list.begin(), list.end(), name), list.end());
    removed |= list.size() != size;
    // Windows moves the default to a device still present.
    if (defaultName == name && !Contains(list, defaultName)) defaultName = list.empty() ? "" : list.front();
  };
  removeFrom(playback_, defaultPlayback_);
  removeFrom(recording_, defaultRecording_);

  const auto mixers = mixers_.size();
  mixers_.erase(std::remove_if(mixers_.begin(), mixers_.end(), [&](const Mixer& m) { return m.name == name; }),
                mixers_.end());
  removed |= mixers_.size() != mixers;

  const auto handsets = handsets_.size();
  for (const auto& handset : handsets_) {
    if (handset.name != name) continue;
    registry_.Remove(kDeviceEnumRoot + HandsetInstancePath(handset.productId, handset.instance));
  }
  handsets_.erase(std::remove_if(handsets_.begin(), handsets_.end(), [&](const Handset& h) { return h.name == name; }),
                  handsets_.end());
  if (handsets_.size() != handsets) {
    removed = true;
    WriteEnumEntries();
  }
  return removed;
}

AudioWorld::Mixer* AudioWorld::FindMixer(std::string_view name) {
  for (auto& mixer : mixers_) {
    if (mixer.name == name) return &mixer;
  }
  return nullptr;
}

AudioWorld::Line* AudioWorld::FindLine(Mixer& mixer, LineRef ref) {
  return const_cast<Line*>(FindLine(static_cast<const Mixer&>(mixer), ref));
}

const AudioWorld::Line* AudioWorld::FindLine(const Mixer& mixer, LineRef ref) {
  if (ref.destination >= mixer.destinations.size()) return nullptr;
  const Destination& destination = mixer.destinations[ref.destination];
  if (!ref.source) return &destination.line;
  return *ref.source < destination.sources.size() ? &destination.sources[*ref.source] : nullptr;
}

bool AudioWorld::SetControl(std::string_view mixerName, LineRef ref, ControlKind kind, std::optional<Range> range,
                            std::optional<std::uint32_t> value) {
  std::lock_guard lock(mutex_);
  Mixer* mixer = FindMixer(mixerName);
  Line* line = mixer ? FindLine(*mixer, ref) : nullptr;
  if (!line) return false;
  const std::uint32_t type = ControlType(kind);
  auto control =
      std::find_if(line->controls.begin(), line->controls.end(), [type](const Control& c) { return c.type == type; });
  if (control == line->controls.end()) {
    const ControlLayout layout = kind == ControlKind::Mute ? Mute(0) : Volume(0);
    const Range bounds = range.value_or(Range{layout.minimum, layout.maximum});
    AddControl(*mixer, *line, {kind, bounds.minimum, bounds.maximum, bounds.minimum});
    control = line->controls.end() - 1;
  } else if (range) {
    control->minimum = range->minimum;
    control->maximum = range->maximum;
  }
  if (value) control->value = *value;
  return true;
}

void AudioWorld::SetDefaults(std::string recording, std::string playback) {
  std::lock_guard lock(mutex_);
  defaultRecording_ = std::move(recording);
  defaultPlayback_ = std::move(playback);
}

void AudioWorld::FailGetDefault(std::uint32_t n) {
  std::lock_guard lock(mutex_);
  failGetDefault_ = n;
}

void AudioWorld::FailSetDefault(std::uint32_t n) {
  std::lock_guard lock(mutex_);
  failSetDefault_ = n;
}

// --- inspection

std::optional<std::uint32_t> AudioWorld::ControlValue(std::string_view mixerName, LineRef ref, ControlKind kind) const {
  std::lock_guard lock(mutex_);
  for (const auto& mixer : mixers_) {
    if (mixer.name != mixerName) continue;
    const Line* line = FindLine(mixer, ref);
    if (!line) return std::nullopt;
    for (const auto& control : line->controls) {
      if (control.type == ControlType(kind)) return control.value;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::string AudioWorld::DefaultRecording() const {
  std::lock_guard lock(mutex_);
  return defaultRecording_;
}

std::string AudioWorld::DefaultPlayback() const {
  std::lock_guard lock(mutex_);
  return defaultPlayback_;
}

std::uint32_t AudioWorld::UpdateCount() const {
  std::lock_guard lock(mutex_);
  return updates_;
}

std::vector<WaveStream> AudioWorld::WaveStreams() const { return waveOut_.Streams(); }

bool AudioWorld::WriteWav(const WaveStream& stream, const std::string& path) {
  return WaveOutModel::WriteWav(stream, path);
}

// --- platform::Winmm: mixers

std::uint32_t AudioWorld::MixerCount() {
  std::lock_guard lock(mutex_);
  return static_cast<std::uint32_t>(mixers_.size());
}

std::uint32_t AudioWorld::MixerName(std::uint32_t device, std::string& name) {
  std::lock_guard lock(mutex_);
  if (device >= mixers_.size()) return kMmBadDeviceId;
  name = ProductName(mixers_[device].name);
  return kMmSuccess;
}

void AudioWorld::Describe(const Mixer& mixer, std::uint32_t destination, std::optional<std::uint32_t> source,
                          platform::MixerLine& out) {
  const Destination& dst = mixer.destinations[destination];
  const Line& line = source ? dst.sources[*source] : dst.line;
  out.destination = destination;
  out.source = source.value_or(0);
  out.lineId = LineId(destination, source);
  out.componentType = line.componentType;
  out.connections = source ? 0 : static_cast<std::uint32_t>(dst.sources.size());
  out.controls = static_cast<std::uint32_t>(line.controls.size());
  out.name = line.name;
}

std::uint32_t AudioWorld::MixerLineInfo(std::uint32_t device, platform::LineQuery query, platform::MixerLine& line) {
  std::lock_guard lock(mutex_);
  if (device >= mixers_.size()) return kMmBadDeviceId;
  const Mixer& mixer = mixers_[device];
  const auto count = static_cast<std::uint32_t>(mixer.destinations.size());
  switch (query) {
    case platform::LineQuery::ByComponentType:
      for (std::uint32_t d = 0; d < count; ++d) {
        if (mixer.destinations[d].line.componentType == line.componentType) {
          Describe(mixer, d, std::nullopt, line);
          return kMmSuccess;
        }
      }
      for (std::uint32_t d = 0; d < count; ++d) {
        const auto& sources = mixer.destinations[d].sources;
        for (std::uint32_t s = 0; s < sources.size(); ++s) {
          if (sources[s].componentType == line.componentType) {
            Describe(mixer, d, s, line);
            return kMmSuccess;
          }
        }
      }
      return platform::kMixerErrInvalLine;
    case platform::LineQuery::ByDestination:
      if (line.destination >= count) return platform::kMixerErrInvalLine;
      Describe(mixer, line.destination, std::nullopt, line);
      return kMmSuccess;
    case platform::LineQuery::BySource:
      if (!FindLine(mixer, {line.destination, line.source})) return platform::kMixerErrInvalLine;
      Describe(mixer, line.destination, line.source, line);
      return kMmSuccess;
  }
  return platform::kMixerErrInvalLine;
}

std::uint32_t AudioWorld::MixerLineControl(std::uint32_t device, std::uint32_t lineId, std::uint32_t controlType,
                                           platform::MixerControl& control) {
  std::lock_guard lock(mutex_);
  if (device >= mixers_.size()) return kMmBadDeviceId;
  const Line* line = nullptr;
  VisitLines(mixers_[device], [&](const Line& candidate, LineRef ref) {
    if (LineId(ref.destination, ref.source) == lineId) line = &candidate;
    return line != nullptr;
  });
  if (!line) return platform::kMixerErrInvalLine;
  for (const auto& c : line->controls) {
    if (c.type == controlType) {
      control = {c.id, c.type, c.minimum, c.maximum};
      return kMmSuccess;
    }
  }
  return platform::kMixerErrInvalControl;
}

std::uint32_t AudioWorld::MixerGetValue(std::uint32_t device, std::uint32_t controlId, std::uint32_t& value) {
  std::lock_guard lock(mutex_);
  if (device >= mixers_.size()) return kMmBadDeviceId;
  const bool found = VisitLines(mixers_[device], [&](const Line& line, LineRef) {
    for (const auto& c : line.controls) {
      if (c.id == controlId) {
        value = c.value;
        return true;
      }
    }
    return false;
  });
  return found ? kMmSuccess : platform::kMixerErrInvalControl;
}

std::uint32_t AudioWorld::MixerSetValue(std::uint32_t device, std::uint32_t controlId, std::uint32_t value) {
  std::string effect;
  {
    std::lock_guard lock(mutex_);
    if (device >= mixers_.size()) return kMmBadDeviceId;
    Mixer& mixer = mixers_[device];
    VisitLines(mixer, [&](Line& line, LineRef ref) {
      for (auto& c : line.controls) {
        if (c.id != controlId) continue;
        c.value = value;
        effect =
            "set " + Quote(mixer.name) + " " + LineText(ref) + " " + KindText(c.type) + " " + std::to_string(value);
        return true;
      }
      return false;
    });
  }
  if (effect.empty()) return platform::kMixerErrInvalControl;
  transcript_.Add("mixer", effect);
  return kMmSuccess;
}

// --- platform::Winmm: waveform devices

std::uint32_t AudioWorld::WaveOutCount() {
  std::lock_guard lock(mutex_);
  return static_cast<std::uint32_t>(playback_.size());
}

std::uint32_t AudioWorld::WaveOutName(std::uint32_t device, std::string& name) {
  std::lock_guard lock(mutex_);
  if (device >= playback_.size()) return kMmBadDeviceId;
  name = ProductName(playback_[device]);
  return kMmSuccess;
}

std::uint32_t AudioWorld::WaveInCount() {
  std::lock_guard lock(mutex_);
  return static_cast<std::uint32_t>(recording_.size());
}

std::uint32_t AudioWorld::WaveInName(std::uint32_t device, std::string& name) {
  std::lock_guard lock(mutex_);
  if (device >= recording_.size()) return kMmBadDeviceId;
  name = ProductName(recording_[device]);
  return kMmSuccess;
}

std::uint32_t AudioWorld::WaveOutOpen(platform::WaveOutHandle& handle, std::uint32_t device,
                                      const platform::WaveFormat& format, platform::WindowHandle window) {
  std::string name;
  {
    std::lock_guard lock(mutex_);
    if (device >= playback_.size()) return kMmBadDeviceId;
    name = playback_[device];
  }
  return waveOut_.Open(handle, name, format, window);
}

std::uint32_t AudioWorld::WaveOutPrepare(platform::WaveOutHandle handle, platform::WaveBlock& block) {
  return waveOut_.Prepare(handle, block);
}

std::uint32_t AudioWorld::WaveOutUnprepare(platform::WaveOutHandle handle, platform::WaveBlock& block) {
  return waveOut_.Unprepare(handle, block);
}

std::uint32_t AudioWorld::WaveOutWrite(platform::WaveOutHandle handle, platform::WaveBlock& block) {
  return waveOut_.Write(handle, block);
}

std::uint32_t AudioWorld::WaveOutSetVolume(platform::WaveOutHandle handle, std::uint32_t volume) {
  return waveOut_.SetVolume(handle, volume);
}

std::uint32_t AudioWorld::WaveOutReset(platform::WaveOutHandle handle) { return waveOut_.Reset(handle); }

std::uint32_t AudioWorld::WaveOutClose(platform::WaveOutHandle handle) { return waveOut_.Close(handle); }

// --- platform::AudioControl

int AudioWorld::UpdateAudioDevice(const char*) {
  std::lock_guard lock(mutex_);
  ++updates_;
  return 1;
}

std::uint32_t AudioWorld::WaveInGetNumDevs() { return WaveInCount(); }

std::uint32_t AudioWorld::WaveOutGetNumDevs() { return WaveOutCount(); }

// Copies at most size - 1 characters and the terminator; `size` is the buffer's size in bytes.
int AudioWorld::CopyName(const std::string& source, char* name, int size) {
  if (!name || size <= 0) return 0;
  const std::size_t length = std::min(source.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(name, source.data(), length);
  name[length] = '\0';
  return 1;
}

int AudioWorld::WaveInGetDevCaps(std::uint32_t device, char* name, int size) {
  std::lock_guard lock(mutex_);
  if (device < recording_.size()) return CopyName(recording_[device], name, size);
  CopyName("", name, size);
  return 0;
}

int AudioWorld::WaveOutGetDevCaps(std::uint32_t device, char* name, int size) {
  std::lock_guard lock(mutex_);
  if (device < playback_.size()) return CopyName(playback_[device], name, size);
  CopyName("", name, size);
  return 0;
}

int AudioWorld::GetDefaultAudioDevice(char* inputName, char* outputName) {
  int result = 0;
  {
    std::lock_guard lock(mutex_);
    if (failGetDefault_ > 0) {
      --failGetDefault_;
    } else if (inputName && outputName && !defaultRecording_.empty() && !defaultPlayback_.empty()) {
      CopyName(defaultRecording_, inputName, platform::kAudioNameSize);
      CopyName(defaultPlayback_, outputName, platform::kAudioNameSize);
      result = 1;
    }
  }
  transcript_.Add("audio", "get-default -> " + std::to_string(result));
  return result;
}

int AudioWorld::SetDefaultAudioDevice(const char* inputName, const char* outputName) {
  const std::string input = inputName ? inputName : "";
  const std::string output = outputName ? outputName : "";
  int result = 0;
  {
    std::lock_guard lock(mutex_);
    if (failSetDefault_ > 0) {
      --failSetDefault_;
    } else if (inputName && outputName && Contains(recording_, input) && Contains(playback_, output)) {
      defaultRecording_ = input;
      defaultPlayback_ = output;
      result = 1;
    }
  }
  transcript_.Add("audio", "set-default " + Quote(input) + " " + Quote(output) + " -> " + std::to_string(result));
  return result;
}

}  // namespace sim
