// Everything outside the audio device manager that its behaviour reaches, handed in by whoever
// runs it: the Win32 shell with the real adapters, or the scenario runner with the simulated world.
#pragma once

#include "platform/AudioControl.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/Registry.h"
#include "platform/Ui.h"

namespace devicemanager {

struct ManagerPorts {
  platform::Registry& registry;
  platform::Clock& clock;
  platform::Desktop& desktop;
  platform::Ui& ui;
  platform::AudioControl& audio;
};

}  // namespace devicemanager
