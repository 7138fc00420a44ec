// handset-sim --device: the window, the handset model and the virtual HID device in one process.
#pragma once

#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield

#include <string>

namespace hidmar_device {

// Plugs the handset (unless HIDMAR_SIM_START says otherwise), shows the window until it is
// closed, unplugs, and ends the process with the window's exit code.
[[noreturn]] void RunDeviceSimulator(HINSTANCE instance, const std::string& pipeName, int show);

}  // namespace hidmar_device
