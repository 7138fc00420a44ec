#include "companions/sonvane/sim/SimState.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace sonvane {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

int Count(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value > 0 ? value : 0;
}

}  // namespace

SimState ParseSimState(std::string_view text) {
  SimState state;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (Trim(line).empty() || Trim(line).front() == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals));
    // Names keep their inner and trailing blanks except the line end: " " is a name a test needs.
    std::string_view value = line.substr(equals + 1);
    if (key == "recording") {
      state.devices.recording.push_back({std::string(value), std::to_string(state.devices.recording.size())});
    } else if (key == "playback") {
      state.devices.playback.push_back({std::string(value), std::to_string(state.devices.playback.size())});
    } else if (key == "default-recording") {
      state.defaults.recording = std::string(value);
    } else if (key == "default-playback") {
      state.defaults.playback = std::string(value);
    } else if (key == "fail-get") {
      state.failGet = Count(Trim(value));
    } else if (key == "fail-set") {
      state.failSet = Count(Trim(value));
    }
  }
  return state;
}

std::string FormatSimState(const SimState& state) {
  std::ostringstream out;
  out << "# Sonvane sim state: edit freely; companions/sonvane/sim/README.md\n";
  for (const Device& device : state.devices.recording) out << "recording=" << device.name << '\n';
  for (const Device& device : state.devices.playback) out << "playback=" << device.name << '\n';
  out << "default-recording=" << state.defaults.recording << '\n';
  out << "default-playback=" << state.defaults.playback << '\n';
  out << "fail-get=" << state.failGet << '\n';
  out << "fail-set=" << state.failSet << '\n';
  return out.str();
}

bool SimAudioSystem::Load(SimState& state) const {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  state = ParseSimState(text.str());
  return true;
}

void SimAudioSystem::Save(const SimState& state) const {
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out << FormatSimState(state);
}

bool SimAudioSystem::ReadDevices(DeviceLists& lists) {
  SimState state;
  if (!Load(state)) return false;
  lists = std::move(state.devices);
  return true;
}

bool SimAudioSystem::ReadDefaults(DefaultNames& names) {
  SimState state;
  if (!Load(state)) return false;
  if (state.failGet > 0) {
    --state.failGet;
    Save(state);
    return false;
  }
  names = state.defaults;
  return true;
}

bool SimAudioSystem::MakeDefaults(const Device& recording, const Device& playback) {
  SimState state;
  if (!Load(state)) return false;
  if (state.failSet > 0) {
    --state.failSet;
    Save(state);
    return false;
  }
  state.defaults = {recording.name, playback.name};
  Save(state);
  return true;
}

}  // namespace sonvane
