// Hidmar.dll on the Windows HID stack: the six exports (Hidmar.def gives their ordinals) in front
// of one HidmarLibrary. Nothing thrown inside leaves the library; a call that fails answers 0.
#include <new>
#include <utility>

#include "companions/hidmar/HidmarExports.h"
#include "companions/hidmar/real/HidmarLibrary.h"
#include "companions/hidmar/real/Win32HidSystem.h"

namespace {

// Holds an object that is never destroyed. The library's state must outlive the process's last
// call: at process exit the loader runs our static destructors after every other thread has
// been stopped, and a destructor that closed the device would wait for a reader thread that can
// no longer end (and a joinable std::thread's destructor ends the process).
template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;
  T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

hidmar::HidmarLibrary& Library() {
  static NoDestructor<hidmar::Win32HidSystem> system;
  static NoDestructor<hidmar::HidmarLibrary> library(system.get());
  return library.get();
}

}  // namespace

extern "C" {

int HIDMAR_CALL HidmarFindDevice(uint32_t vendorId, uint32_t productId) {
  try {
    return Library().Find(vendorId, productId);
  } catch (...) {
    return 0;
  }
}

int HIDMAR_CALL HidmarOpenDevice(void* window) {
  try {
    return Library().Open(reinterpret_cast<std::uintptr_t>(window));
  } catch (...) {
    return 0;
  }
}

void HIDMAR_CALL HidmarSetNotifyMessage(uint32_t message) {
  try {
    Library().SetMessage(message);
  } catch (...) {
  }
}

int HIDMAR_CALL HidmarWriteReport(const uint8_t* report, int length) {
  try {
    return Library().Write(report, length);
  } catch (...) {
    return 0;
  }
}

void HIDMAR_CALL HidmarCloseDevice(void) {
  try {
    Library().Close();
  } catch (...) {
  }
}

void HIDMAR_CALL HidmarReleaseLibrary(void) {
  try {
    Library().Release();
  } catch (...) {
  }
}

}  // extern "C"
