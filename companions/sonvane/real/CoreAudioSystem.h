// The system side of the real Sonvane.dll: Windows Core Audio (endpoint enumeration, default
// endpoint query, the policy configuration interface for setting defaults), and on systems
// without Core Audio the winmm device lists with the "Sound Mapper" values as the defaults.
#pragma once

#include "companions/sonvane/SonvaneCore.h"

namespace sonvane {

class CoreAudioSystem final : public AudioSystem {
 public:
  bool ReadDevices(DeviceLists& lists) override;
  bool ReadDefaults(DefaultNames& names) override;
  bool MakeDefaults(const Device& recording, const Device& playback) override;
};

}  // namespace sonvane
