// handset-sim.exe: the handset simulator. Without steps on its command line it shows its window;
// with steps it runs them over the pipe and ends (handset-sim --help lists them).
#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield
#include <shellapi.h>

#include <string>
#include <vector>

#include "companions/hidmar/device/win32/DeviceSimulator.h"
#include "companions/hidmar/sim/SimProtocol.h"
#include "companions/hidmar/sim/win32/HandsetSimCli.h"
#include "companions/hidmar/sim/win32/HandsetSimWindow.h"
#include "companions/hidmar/sim/win32/PipeChannel.h"
#include "platform/win32/Text.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  std::vector<std::string> args;
  int count = 0;
  if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) args.push_back(win32::WideToUtf8(argv[i]));
    LocalFree(argv);
  }
  std::string error;
  const auto script = hidmar_sim::ParseArguments(args, &error);
  if (!script) {
    hidmar_sim::PrintError("handset-sim: " + error + "\n" + hidmar_sim::Usage());
    return hidmar_sim::kExitUsage;
  }
  if (script->help) {
    hidmar_sim::PrintOut(hidmar_sim::Usage());
    return hidmar_sim::kExitOk;
  }
  if (script->device) hidmar_device::RunDeviceSimulator(instance, hidmar_sim::PipeName(script->pipe), show);
  if (script->steps.empty()) return hidmar_sim::RunSimulatorWindow(instance, hidmar_sim::PipeName(script->pipe), show);
  return hidmar_sim::RunScript(*script);
}
