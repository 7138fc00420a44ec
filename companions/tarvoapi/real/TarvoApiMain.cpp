// TarvoAPIDLL.dll: the 14 exports in front of one ClientLink on the Win32 link system. Nothing
// thrown inside leaves the library; a call that fails answers false or does nothing.
#include <new>
#include <utility>

#include "companions/tarvoapi/TarvoAPI.h"
#include "companions/tarvoapi/real/Win32LinkSystem.h"

namespace {

// Never destroyed: at process exit the loader runs a library's static destructors after the
// other threads are gone, and the link thread and the wrapped bridge window still refer to it.
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

tarvoapi::Win32LinkSystem& System() {
  static NoDestructor<tarvoapi::Win32LinkSystem> system;
  return system.get();
}

tarvoapi::ClientLink& Link() { return System().Link(); }

template <typename Body>
void Guarded(Body body) {
  try {
    body();
  } catch (...) {
  }
}

template <typename Body>
bool GuardedBool(Body body) {
  try {
    return body();
  } catch (...) {
    return false;
  }
}

}  // namespace

bool __cdecl TarvoAPI_Initialize(HWND window) {
  return GuardedBool([window] {
    const bool valid = window && IsWindow(window);
    // The thread starts now, so the client is looked after from the beginning.
    System().EnsureThread();
    return Link().Initialize(valid ? reinterpret_cast<std::uintptr_t>(window) : 0) && valid;
  });
}

void __cdecl TarvoAPI_Connect2Tarvo() {
  Guarded([] { Link().Connect(); });
}

void __cdecl TarvoAPI_Disconnect2Tarvo() {
  Guarded([] { Link().Disconnect(); });
}

void __cdecl TarvoAPI_SendStringCommand(const char* command) {
  Guarded([command] { Link().SendCommand(command); });
}

bool __cdecl TarvoAPI_SendCommandDirect(const char* command) {
  return GuardedBool([command] { return Link().SendCommandDirect(command); });
}

void __cdecl TarvoAPI_GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                                    int& onHoldId) {
  inProgress = inProgressId = ringing = ringingId = onHold = onHoldId = 0;
  Guarded([&] { Link().GetCallNumber(inProgress, inProgressId, ringing, ringingId, onHold, onHoldId); });
}

void __cdecl TarvoAPI_GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing,
                                      unsigned long* ringingIds, int& onHold, unsigned long* onHoldIds) {
  Guarded([&] { Link().GetCallNumberEx(inProgress, inProgressIds, ringing, ringingIds, onHold, onHoldIds); });
}

bool __cdecl TarvoAPI_GetCallbyID(int id, CALLStructure* call) {
  return GuardedBool([id, call] { return Link().GetCallById(id, reinterpret_cast<std::uint8_t*>(call)); });
}

void __cdecl TarvoAPI_SetCurrentCalltoOnHold() {
  Guarded([] { Link().HoldCurrentCall(); });
}

bool __cdecl TarvoAPI_GetRecentCallHandle(char* handle) {
  return GuardedBool([handle] { return Link().GetRecentCallHandle(handle); });
}

bool __cdecl TarvoAPI_CloseTarvoMSGDialog() {
  return GuardedBool([] { return Link().CloseMessageWindow(); });
}

void __cdecl TarvoAPI_MinimizeTarvo() {
  Guarded([] { Link().Minimize(); });
}

void __cdecl TarvoAPI_UpdateVMList() {
  Guarded([] { Link().UpdateVoicemails(); });
}

void __cdecl TarvoAPI_UpdateContactList1() {
  Guarded([] { Link().UpdateContacts(); });
}
