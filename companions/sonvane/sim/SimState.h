// The device world of the sim flavour of Sonvane.dll: a small text file that a person or a test
// edits (README.md beside this file has its format). Read on every refresh and every query of
// the defaults; a successful set writes the new defaults back, and the failure counts are
// written back as they are used up.
#pragma once

#include <string>
#include <string_view>

#include "companions/sonvane/SonvaneCore.h"

namespace sonvane {

struct SimState {
  DeviceLists devices;
  DefaultNames defaults;
  int failGet = 0;  // so many coming default queries fail
  int failSet = 0;  // so many coming sets fail
};

// Unknown keys and malformed lines are skipped; a missing '=' makes a line a comment.
SimState ParseSimState(std::string_view text);
std::string FormatSimState(const SimState& state);

class SimAudioSystem final : public AudioSystem {
 public:
  explicit SimAudioSystem(std::string path) : path_(std::move(path)) {}

  bool ReadDevices(DeviceLists& lists) override;
  bool ReadDefaults(DefaultNames& names) override;
  bool MakeDefaults(const Device& recording, const Device& playback) override;

 private:
  bool Load(SimState& state) const;
  void Save(const SimState& state) const;

  std::string path_;
};

}  // namespace sonvane
