#include "companions/sonvane/SonvaneCore.h"

#include <algorithm>
#include <cstring>

namespace sonvane {

std::string CutName(std::string_view name) {
  const std::size_t end = std::min({name.find('\0'), name.size(), kMaxName});
  return std::string(name.substr(0, end));
}

void CopyBounded(std::string_view source, char* buffer, int size) {
  if (!buffer || size <= 0) return;
  const std::size_t length = std::min(source.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buffer, source.data(), length);
  buffer[length] = '\0';
}

const Device* FindByName(const std::vector<Device>& devices, std::string_view name) {
  if (name.empty()) return nullptr;
  for (const Device& device : devices) {
    if (device.name == name) return &device;
  }
  return nullptr;
}

namespace {

void CutAll(std::vector<Device>& devices) {
  for (Device& device : devices) device.name = CutName(device.name);
}

}  // namespace

void Library::RefreshLocked() {
  DeviceLists lists;
  if (system_.ReadDevices(lists)) {
    CutAll(lists.recording);
    CutAll(lists.playback);
    lists_ = std::move(lists);
  } else {
    lists_ = {};
  }
  filled_ = true;
}

void Library::EnsureLocked() {
  if (!filled_) RefreshLocked();
}

int Library::Update() {
  std::lock_guard lock(mutex_);
  RefreshLocked();
  return lists_.recording.empty() && lists_.playback.empty() ? 0 : 1;
}

unsigned Library::RecordingCount() {
  std::lock_guard lock(mutex_);
  EnsureLocked();
  return static_cast<unsigned>(lists_.recording.size());
}

unsigned Library::PlaybackCount() {
  std::lock_guard lock(mutex_);
  EnsureLocked();
  return static_cast<unsigned>(lists_.playback.size());
}

int Library::NameLocked(const std::vector<Device>& devices, unsigned device, char* name, int size) {
  if (device >= devices.size()) {
    CopyBounded("", name, size);
    return 0;
  }
  CopyBounded(devices[device].name, name, size);
  return name && size > 0 ? 1 : 0;
}

int Library::RecordingName(unsigned device, char* name, int size) {
  std::lock_guard lock(mutex_);
  EnsureLocked();
  return NameLocked(lists_.recording, device, name, size);
}

int Library::PlaybackName(unsigned device, char* name, int size) {
  std::lock_guard lock(mutex_);
  EnsureLocked();
  return NameLocked(lists_.playback, device, name, size);
}

int Library::GetDefaults(char* inputName, char* outputName) {
  if (!inputName || !outputName) return 0;
  constexpr int kBuffer = static_cast<int>(kMaxName) + 2;  // the callers' 256 bytes
  std::lock_guard lock(mutex_);
  DefaultNames names;
  if (!system_.ReadDefaults(names) || names.recording.empty() || names.playback.empty()) {
    CopyBounded("", inputName, kBuffer);
    CopyBounded("", outputName, kBuffer);
    return 0;
  }
  CopyBounded(CutName(names.recording), inputName, kBuffer);
  CopyBounded(CutName(names.playback), outputName, kBuffer);
  return 1;
}

int Library::SetDefaults(const char* inputName, const char* outputName) {
  if (!inputName || !outputName) return 0;
  std::lock_guard lock(mutex_);
  // The devices present now, not the cached lists: a device may have gone since the refresh.
  DeviceLists lists;
  if (!system_.ReadDevices(lists)) return 0;
  CutAll(lists.recording);
  CutAll(lists.playback);
  const Device* recording = FindByName(lists.recording, inputName);
  const Device* playback = FindByName(lists.playback, outputName);
  if (!recording || !playback) return 0;
  return system_.MakeDefaults(*recording, *playback) ? 1 : 0;
}

}  // namespace sonvane
