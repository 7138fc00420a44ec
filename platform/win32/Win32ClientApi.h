// The ClientApi port on TarvoAPIDLL.dll, the client library, whose 14 exports this adapter
// imports by name (the program links the library's import library and cannot start without the
// file beside it). Each member is the export of the same name; the library posts its
// notifications to the window given to Initialize.
#pragma once

#include "platform/ClientApi.h"

namespace win32 {

class Win32ClientApi final : public platform::ClientApi {
 public:
  bool Initialize(platform::WindowHandle window) override;
  void Connect2Tarvo() override;
  void Disconnect2Tarvo() override;
  void SendStringCommand(const char* command) override;
  bool SendCommandDirect(const char* command) override;
  void GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                     int& onHoldId) override;
  void GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing, unsigned long* ringingIds,
                       int& onHold, unsigned long* onHoldIds) override;
  bool GetCallbyID(int id, std::uint8_t* callStructure) override;
  void SetCurrentCalltoOnHold() override;
  bool GetRecentCallHandle(char* handle) override;
  bool CloseTarvoMSGDialog() override;
  void MinimizeTarvo() override;
  void UpdateVMList() override;
  void UpdateContactList1() override;
};

}  // namespace win32
