// The handset simulator's window: the handset as the library in the program sees it (plugged,
// ringer, indicator, key activity, firmware, stored ring tone, the last reports each way) and
// a button for every key and fault. It connects to whichever program serves the pipe and
// reconnects when that program ends and another starts.
#pragma once

#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield

#include <string>

namespace hidmar_sim {

// Runs the window until it is closed; returns the exit code.
int RunSimulatorWindow(HINSTANCE instance, const std::string& pipeName, int show);

}  // namespace hidmar_sim
