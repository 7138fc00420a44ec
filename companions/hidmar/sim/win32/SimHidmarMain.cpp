// Hidmar.dll, sim flavour: the six exports of Hidmar.def in front of a SimHandset, with the pipe
// that a handset simulator drives it through. Nothing thrown inside leaves the library; a call
// that fails answers 0.
//
// The handset comes to life with the first call. From then on the library is pinned in memory:
// its threads (pacer, scheduler, pipe) run for the life of the process, and unloading their
// code under them would crash the program. For the same reason the handset is never destroyed
// (at process exit Windows has ended those threads already and a destructor would wait for
// them).
#include <windows.h>
// winbase.h's obsolete Yield() macro would rename sim::VirtualClock's member.
#undef Yield

#include <new>
#include <string>
#include <utility>

#include "companions/hidmar/HidmarExports.h"
#include "companions/hidmar/sim/SimHandset.h"
#include "companions/hidmar/sim/win32/PipeServer.h"

namespace {

using hidmar_sim::SimHandset;

class Win32Poster final : public sim::WindowPoster {
 public:
  // The handset's reports carry their bytes in the parameters, so nothing needs keeping alive.
  bool PostTo(platform::WindowHandle window, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
              std::shared_ptr<const void>) override {
    return PostMessageA(reinterpret_cast<HWND>(window), msg, static_cast<WPARAM>(wParam),
                        static_cast<LPARAM>(lParam)) != 0;
  }
};

std::string Environment(const char* name) {
  char value[512];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

// "<program file name> <process id>", for the simulator's title line.
std::string Who() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length < MAX_PATH ? length : 0);
  name = name.substr(name.find_last_of("\\/") + 1);
  if (name.empty()) name = "?";
  return name + " " + std::to_string(GetCurrentProcessId());
}

struct World {
  Win32Poster poster;
  SimHandset handset;
  hidmar_sim::PipeServer server;

  World()
      : handset(poster, {.realTime = true, .start = Environment(hidmar_sim::kStartVariable), .who = Who()}),
        server(handset, hidmar_sim::PipeName()) {
    server.Start();
  }
};

template <typename T>
class NoDestructor {
 public:
  NoDestructor() { new (storage_) T(); }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;
  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

SimHandset& Handset() {
  static NoDestructor<World> world = [] {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&Handset), &self);
    return NoDestructor<World>();
  }();
  return world.get().handset;
}

}  // namespace

extern "C" {

int HIDMAR_CALL HidmarFindDevice(uint32_t vendorId, uint32_t productId) {
  try {
    return Handset().Find(vendorId, productId);
  } catch (...) {
    return 0;
  }
}

int HIDMAR_CALL HidmarOpenDevice(void* window) {
  try {
    return Handset().Open(reinterpret_cast<platform::WindowHandle>(window));
  } catch (...) {
    return 0;
  }
}

void HIDMAR_CALL HidmarSetNotifyMessage(uint32_t message) {
  try {
    Handset().SetMessage(message);
  } catch (...) {
  }
}

int HIDMAR_CALL HidmarWriteReport(const uint8_t* report, int length) {
  try {
    return Handset().Write(report, length);
  } catch (...) {
    return 0;
  }
}

void HIDMAR_CALL HidmarCloseDevice(void) {
  try {
    Handset().Close();
  } catch (...) {
  }
}

void HIDMAR_CALL HidmarReleaseLibrary(void) {
  try {
    Handset().Release();
  } catch (...) {
  }
}

}  // extern "C"
