// The 14 exports of TarvoAPIDLL.dll, the client library.
//
// Plain C++ functions, __cdecl, exported by their decorated names, so the names carry the
// signatures and a caller links them by name through the import library. None of them throws;
// all may be called from any thread, in any order. Notifications (0x478 to 0x482) are posted to
// the window given to TarvoAPI_Initialize; platform/ClientApi.h has their numbers and record
// layouts, docs/client-protocol.md what the library does to produce them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#ifdef TARVOAPI_BUILDING
#define TARVOAPI_EXPORT __declspec(dllexport)
#else
#define TARVOAPI_EXPORT __declspec(dllimport)
#endif

// One call as the library delivers it (in 0x47F and from TarvoAPI_GetCallbyID). Texts are
// zero-terminated.
struct CALLStructure {
  std::int32_t id;
  char partner[168];        // the other party's handle
  char status[20];          // "RINGING", "INPROGRESS", "ONHOLD", "ROUTING", "FINISHED" ...
  std::int32_t conference;  // calls with the same positive number form one conference
};
static_assert(sizeof(CALLStructure) == 196 && offsetof(CALLStructure, status) == 172 &&
              offsetof(CALLStructure, conference) == 192);

// Notifications go to `window`; true when it is a window. May be called again with another.
TARVOAPI_EXPORT bool __cdecl TarvoAPI_Initialize(HWND window);
// Starts attaching to the client; the outcome arrives as 0x478, 0x479, 0x47A or 0x47B.
TARVOAPI_EXPORT void __cdecl TarvoAPI_Connect2Tarvo();
// Ends the attach (0x480 when it was attached) and stops looking for the client.
TARVOAPI_EXPORT void __cdecl TarvoAPI_Disconnect2Tarvo();
// Queued behind earlier commands; the client's replies come as notifications.
TARVOAPI_EXPORT void __cdecl TarvoAPI_SendStringCommand(const char* command);
// Sent at once; true when the attached client took it.
TARVOAPI_EXPORT bool __cdecl TarvoAPI_SendCommandDirect(const char* command);
// Calls in progress, ringing incoming calls, calls on hold: each a count and the id of the
// earliest (0 when there is none).
TARVOAPI_EXPORT void __cdecl TarvoAPI_GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId,
                                                    int& onHold, int& onHoldId);
// The same groups with all their ids. On entry each count is the number of elements its array
// holds (a null array: none); on return the number of calls in the group, ids written only up
// to the array's size.
TARVOAPI_EXPORT void __cdecl TarvoAPI_GetCallNumberEx(int& inProgress, unsigned long* inProgressIds, int& ringing,
                                                      unsigned long* ringingIds, int& onHold, unsigned long* onHoldIds);
TARVOAPI_EXPORT bool __cdecl TarvoAPI_GetCallbyID(int id, CALLStructure* call);
TARVOAPI_EXPORT void __cdecl TarvoAPI_SetCurrentCalltoOnHold();
// The latest call's handle into `handle` (at least 100 bytes), always terminated.
TARVOAPI_EXPORT bool __cdecl TarvoAPI_GetRecentCallHandle(char* handle);
TARVOAPI_EXPORT bool __cdecl TarvoAPI_CloseTarvoMSGDialog();
TARVOAPI_EXPORT void __cdecl TarvoAPI_MinimizeTarvo();
// The list follows as 0x481 (wParam: VoicemailEntry array, lParam: count).
TARVOAPI_EXPORT void __cdecl TarvoAPI_UpdateVMList();
// The list follows as 0x47E (wParam: zero-terminated handles ending with an empty one,
// lParam: count).
TARVOAPI_EXPORT void __cdecl TarvoAPI_UpdateContactList1();
