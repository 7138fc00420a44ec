#include "platform/win32/Win32ClientApi.h"

#include "companions/tarvoapi/TarvoAPI.h"

namespace win32 {

static_assert(sizeof(CALLStructure) == platform::kCallStructureSize);

bool Win32ClientApi::Initialize(platform::WindowHandle window) {
  return TarvoAPI_Initialize(reinterpret_cast<HWND>(window));
}

void Win32ClientApi::Connect2Tarvo() { TarvoAPI_Connect2Tarvo(); }

void Win32ClientApi::Disconnect2Tarvo() { TarvoAPI_Disconnect2Tarvo(); }

void Win32ClientApi::SendStringCommand(const char* command) { TarvoAPI_SendStringCommand(command); }

bool Win32ClientApi::SendCommandDirect(const char* command) { return TarvoAPI_SendCommandDirect(command); }

void Win32ClientApi::GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                                   int& onHoldId) {
  TarvoAPI_GetCallNumber(inProgress, inProgressId, ringing, ringingId, onHold, onHoldId);
}

void Win32ClientApi::GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing,
                                     unsigned long* ringingIds, int& onHold, unsigned long* onHoldIds) {
  TarvoAPI_GetCallNumberEx(inProgress, inProgressIds, ringing, ringingIds, onHold, onHoldIds);
}

bool Win32ClientApi::GetCallbyID(int id, std::uint8_t* callStructure) {
  return TarvoAPI_GetCallbyID(id, reinterpret_cast<CALLStructure*>(callStructure));
}

void Win32ClientApi::SetCurrentCalltoOnHold() { TarvoAPI_SetCurrentCalltoOnHold(); }

bool Win32ClientApi::GetRecentCallHandle(char* handle) { return TarvoAPI_GetRecentCallHandle(handle); }

bool Win32ClientApi::CloseTarvoMSGDialog() { return TarvoAPI_CloseTarvoMSGDialog(); }

void Win32ClientApi::MinimizeTarvo() { TarvoAPI_MinimizeTarvo(); }

void Win32ClientApi::UpdateVMList() { TarvoAPI_UpdateVMList(); }

void Win32ClientApi::UpdateContactList1() { TarvoAPI_UpdateContactList1(); }

}  // namespace win32
