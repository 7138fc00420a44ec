// handset-sim --device: the simulator window with the handset model in its own process, fed to
// programs through the virtual HID device. The program runs the real Hidmar.dll and finds the
// handset through SetupAPI like a USB one; the window and scripts reach the model over the same
// pipe protocol as with the sim library.
#include "companions/hidmar/device/win32/DeviceSimulator.h"

#include <string>

#include "companions/hidmar/device/win32/VirtualHandsetDevice.h"
#include "companions/hidmar/sim/SimHandset.h"
#include "companions/hidmar/sim/SimProtocol.h"
#include "companions/hidmar/sim/win32/HandsetSimWindow.h"
#include "companions/hidmar/sim/win32/PipeServer.h"

namespace hidmar_device {
namespace {

std::wstring BesideThisProgram(const wchar_t* file) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length < MAX_PATH ? length : 0);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + file;
}

std::string Environment(const char* name) {
  char value[512];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// The pipe server has no stop and the model's threads run to the end, so the world lives until
// the process ends.
struct World {
  Feeder feeder{BesideThisProgram(L"TelioxVHandset.inf")};
  hidmar_sim::SimHandset handset{
      feeder, {.realTime = true,
               .start = {},
               .who = "the virtual HID device (handset-sim.exe " + std::to_string(GetCurrentProcessId()) + ")",
               .device = &feeder}};
  hidmar_sim::PipeServer server;
  explicit World(const std::string& pipe) : server(handset, pipe) { feeder.Attach(&handset); }
};

}  // namespace

void RunDeviceSimulator(HINSTANCE instance, const std::string& pipeName, int show) {
  auto* world = new World(pipeName);
  if (!world->server.Start()) {
    MessageBoxW(nullptr, L"Another handset simulator already serves this pipe.", L"Handset simulator",
                MB_OK | MB_ICONERROR);
    ExitProcess(hidmar_sim::kExitNoLibrary);
  }
  // A device left behind by a simulator that did not end cleanly goes first.
  setup::RemoveAll();
  std::string start = Environment(hidmar_sim::kStartVariable);
  if (start.find_first_not_of(" \t;") == std::string::npos) start = "plug";
  world->handset.ExecuteAll(start);
  const int code = hidmar_sim::RunSimulatorWindow(instance, pipeName, show);
  // The window closed: the handset is unplugged, so that no device is left without its feeder.
  world->handset.Execute("unplug");
  ExitProcess(static_cast<UINT>(code));
}

}  // namespace hidmar_device
