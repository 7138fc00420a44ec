// The computer's audio as the two programs see it: waveOut and waveIn devices, mixers with their
// lines and controls, the USB audio driver's registry entries that identify a handset, and
// Windows' default recording and playback devices. The bridge reaches it as platform::Winmm, the
// device manager's audio control library as platform::AudioControl; both views share one set of
// device lists, in the order the devices were added.
//
// Choices made where Windows leaves room:
// - Names: the Winmm view cuts product names to 31 characters, as the 32-byte field of the
//   capability records does; the AudioControl view gives the whole name, bounded by the caller's
//   buffer. Several devices may share a name.
// - Line ids: destination d is 0xFFFF0000 | d, source s of destination d is (s << 16) | d. Control
//   ids count from 1 per mixer in creation order, so a zero id from the caller never matches.
// - A line asked for by component type is the first destination of that type, else the first
//   source of it in destination and source order.
// - Mixer values are stored as set, not clamped to the control's bounds: a fault in the caller's
//   bounds arithmetic shows on the next read as well as in the transcript.
// - UpdateAudioDevice only counts the call: counts and names are always the present devices.
// - Defaults: the first device added to a list with no default becomes its default; removing the
//   default device moves it to the first remaining one (or none). GetDefaultAudioDevice fails
//   while either side has no default. SetDefaults (the scenario's word) takes any names;
//   SetDefaultAudioDevice succeeds only for names present in the lists.
// - The handset's instance path carries the product id in four hex digits as Windows writes it;
//   each handset present takes the lowest free instance number ("6&1a2b3c&<n>&0000"), so
//   re-adding a removed handset gives it its old path back.
// - Removing a device does not stop a stream opened on it; it plays out.
//
// Directives print nothing; the ports print `mixer set`, `wave ...` and `audio ...` lines.
//
// Thread safety: every member may be called from any thread. State is guarded by the world's own
// mutex, never held while calling the clock, scheduler, transcript or poster. Registry entries
// are written under it (the registry never calls back). The clock, scheduler, transcript,
// poster and registry must outlive the world.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AudioControl.h"
#include "platform/Winmm.h"
#include "sim/MemoryRegistry.h"
#include "sim/Scheduler.h"
#include "sim/Transcript.h"
#include "sim/VirtualClock.h"
#include "sim/WaveOutModel.h"
#include "sim/WindowPoster.h"

namespace sim {

inline constexpr std::uint16_t kHandsetVendorId = 0x11F1;
inline constexpr char kUsbAudioEnumKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\usbaudio\\Enum";
inline constexpr char kDeviceEnumRoot[] = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\";

class AudioWorld final : public platform::Winmm, public platform::AudioControl {
 public:
  enum class ControlKind { Volume, Mute };

  struct ControlLayout {
    ControlKind kind = ControlKind::Volume;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 65535;
    std::uint32_t value = 0;
  };
  struct LineLayout {
    std::uint32_t componentType = 0;
    std::string name;
    std::vector<ControlLayout> controls;
  };
  struct DestinationLayout {
    LineLayout line;
    std::vector<LineLayout> sources;
  };
  // A line as scenarios spell it: dst<d> or dst<d>.src<s>.
  struct LineRef {
    std::uint32_t destination = 0;
    std::optional<std::uint32_t> source;
  };
  struct Range {
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
  };

  // The handset's mixer: speakers (volume, mute) with a wave-out source (volume, mute) and a
  // microphone monitor (volume, mute); wave-in with a line input and the microphone (volume).
  static std::vector<DestinationLayout> HandsetMixerLayout();
  // "USB\Vid_11f1&Pid_1402&MI_00\6&1a2b3c&0&0000" for product 0x1402 and instance 0.
  static std::string HandsetInstancePath(std::uint16_t productId, std::uint32_t instance);
  static std::string LineText(LineRef line);

  AudioWorld(VirtualClock& clock, Scheduler& scheduler, Transcript& transcript, WindowPoster& poster,
             MemoryRegistry& registry);
  ~AudioWorld() override;
  AudioWorld(const AudioWorld&) = delete;
  AudioWorld& operator=(const AudioWorld&) = delete;

  // --- the world as scenario directives set it
  // The handset's USB audio: its usbaudio Enum entry and device key ("DeviceDesc" and
  // "LocationInformation" = name), a mixer of HandsetMixerLayout(), a waveOut and a waveIn device.
  void AddHandset(std::string name, std::uint16_t productId = 0x1402);
  void AddPlayback(std::string name);
  void AddRecording(std::string name);
  void AddMixer(std::string name, std::vector<DestinationLayout> destinations);
  // Every device, mixer and handset registry entry of that name. False when there was none.
  bool Remove(std::string_view name);
  // On the first mixer of that name: sets the range and/or value of the line's control, creating
  // it when missing (range 0..65535 for a volume, 0..1 for a mute; value the range's minimum).
  // False when the mixer or the line does not exist.
  bool SetControl(std::string_view mixer, LineRef line, ControlKind kind, std::optional<Range> range,
                  std::optional<std::uint32_t> value);
  void SetDefaults(std::string recording, std::string playback);
  // The next n calls of GetDefaultAudioDevice / SetDefaultAudioDevice fail (counts replace).
  void FailGetDefault(std::uint32_t n);
  void FailSetDefault(std::uint32_t n);

  // --- inspection
  std::optional<std::uint32_t> ControlValue(std::string_view mixer, LineRef line, ControlKind kind) const;
  std::string DefaultRecording() const;
  std::string DefaultPlayback() const;
  std::uint32_t UpdateCount() const;
  // What every waveOut stream has played so far, in order of opening; WriteWav dumps one.
  std::vector<WaveStream> WaveStreams() const;
  // Closed streams are forgotten from now on (a world that plays key tones for days).
  void KeepNoClosedWaveStreams() { waveOut_.KeepNoClosedStreams(); }
  static bool WriteWav(const WaveStream& stream, const std::string& path);

  // --- platform::Winmm
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

  // --- platform::AudioControl
  int UpdateAudioDevice(const char* keyPath) override;
  std::uint32_t WaveInGetNumDevs() override;
  std::uint32_t WaveOutGetNumDevs() override;
  int WaveInGetDevCaps(std::uint32_t device, char* name, int size) override;
  int WaveOutGetDevCaps(std::uint32_t device, char* name, int size) override;
  int GetDefaultAudioDevice(char* inputName, char* outputName) override;
  int SetDefaultAudioDevice(const char* inputName, const char* outputName) override;

 private:
  struct Control {
    std::uint32_t id = 0;
    std::uint32_t type = 0;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
    std::uint32_t value = 0;
  };
  struct Line {
    std::uint32_t componentType = 0;
    std::string name;
    std::vector<Control> controls;
  };
  struct Destination {
    Line line;
    std::vector<Line> sources;
  };
  struct Mixer {
    std::string name;
    std::vector<Destination> destinations;
    std::uint32_t nextControlId = 1;
  };
  struct Handset {
    std::string name;
    std::uint16_t productId = 0;
    std::uint32_t instance = 0;
  };

  static void AddControl(Mixer& mixer, Line& line, const ControlLayout& layout);
  static Line* FindLine(Mixer& mixer, LineRef ref);
  static const Line* FindLine(const Mixer& mixer, LineRef ref);
  static void Describe(const Mixer& mixer, std::uint32_t destination, std::optional<std::uint32_t> source,
                       platform::MixerLine& out);
  Mixer* FindMixer(std::string_view name);
  void AddDevice(std::vector<std::string>& list, std::string& defaultName, std::string name);
  void WriteEnumEntries();
  static int CopyName(const std::string& source, char* name, int size);

  WaveOutModel waveOut_;
  Transcript& transcript_;
  MemoryRegistry& registry_;

  mutable std::mutex mutex_;
  std::vector<std::string> playback_;
  std::vector<std::string> recording_;
  std::vector<Mixer> mixers_;
  std::vector<Handset> handsets_;
  std::uint32_t enumValuesWritten_ = 0;
  std::string defaultRecording_;
  std::string defaultPlayback_;
  std::uint32_t failGetDefault_ = 0;
  std::uint32_t failSetDefault_ = 0;
  std::uint32_t updates_ = 0;
};

}  // namespace sim
