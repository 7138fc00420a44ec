// Everything outside the bridge program that its behaviour reaches, handed in by whoever runs it:
// the Win32 shell with the real adapters, or the scenario runner with the simulated world.
#pragma once

#include "platform/ClientApi.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/HidLink.h"
#include "platform/Registry.h"
#include "platform/Ui.h"
#include "platform/VersionResource.h"
#include "platform/Winmm.h"

namespace bridge {

struct BridgePorts {
  platform::Registry& registry;
  platform::Clock& clock;
  platform::Desktop& desktop;
  platform::Ui& ui;
  platform::ClientApi& client;
  platform::HidLink& hid;
  platform::Winmm& winmm;
  platform::VersionResources& versions;
};

}  // namespace bridge
