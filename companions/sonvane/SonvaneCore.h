// The behaviour of Sonvane.dll behind its seven exports, the same in both flavours: the cached
// device lists, name lookup, the bounds of the callers' buffers, and one lock for all calls. The
// flavour supplies the system side (AudioSystem); the exports only forward to one Library.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "companions/sonvane/SonvaneExports.h"

namespace sonvane {

inline constexpr std::size_t kMaxName = SONVANE_MAX_NAME;

// One device as the system names it; `id` is the flavour's own handle (an endpoint id, an index).
struct Device {
  std::string name;
  std::string id;
};

struct DeviceLists {
  std::vector<Device> recording;
  std::vector<Device> playback;
};

struct DefaultNames {
  std::string recording;
  std::string playback;
};

class AudioSystem {
 public:
  virtual ~AudioSystem() = default;
  // The active devices of both directions in the system's order; false when they cannot be read.
  virtual bool ReadDevices(DeviceLists& lists) = 0;
  // The current default devices' names; false when either direction has none.
  virtual bool ReadDefaults(DefaultNames& names) = 0;
  // Makes the two devices (entries of a list ReadDevices just returned) the defaults.
  virtual bool MakeDefaults(const Device& recording, const Device& playback) = 0;
};

// Cuts a name to kMaxName bytes (a name from the system may be longer); the result keeps no byte
// past the first terminator.
std::string CutName(std::string_view name);

// Copies `source` into `buffer` of `size` bytes: at most size - 1 characters and the terminator.
// Nothing is written to a null buffer or a size of 0 or less.
void CopyBounded(std::string_view source, char* buffer, int size);

// The first device whose name equals `name` exactly, or null (also for the empty name).
const Device* FindByName(const std::vector<Device>& devices, std::string_view name);

class Library {
 public:
  explicit Library(AudioSystem& system) : system_(system) {}

  int Update();
  unsigned RecordingCount();
  unsigned PlaybackCount();
  int RecordingName(unsigned device, char* name, int size);
  int PlaybackName(unsigned device, char* name, int size);
  int GetDefaults(char* inputName, char* outputName);
  int SetDefaults(const char* inputName, const char* outputName);

 private:
  void RefreshLocked();
  void EnsureLocked();
  int NameLocked(const std::vector<Device>& devices, unsigned device, char* name, int size);

  AudioSystem& system_;
  std::mutex mutex_;
  bool filled_ = false;
  DeviceLists lists_;
};

}  // namespace sonvane
