// Teliox.exe's voicemail list on the simulated handset and client (the sim-demo folder): the
// handset's voicemail key brings up the client's list in a real list view, the yes key starts
// the selected voicemail's playback in the client, and Escape, which only the loop's dialog
// keyboard handling turns into the list's Cancel, hides the list and tells the main window, whose
// next voicemail key therefore asks the client for a fresh list.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h.
#include <commctrl.h>

#include <string>

#include "companions/tarvoapi/sim/win32/ControlPipe.h"
#include "platform/win32/Handles.h"
#include "tests/e2e/ProgramTestSupport.h"

namespace {

constexpr int kVoicemailList = 1101;  // the list control of dialog 160

std::string SimFolder() { return e2e::ProgramFolder() + "\\..\\..\\sim-demo"; }

struct DialogSearch {
  DWORD process;
  int control;
  bool visibleOnly;
  HWND found;
};

BOOL CALLBACK VisitTopWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (owner != search->process || std::string(name) != "#32770" || !GetDlgItem(window, search->control)) return TRUE;
  if (search->visibleOnly && !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// A dialog of `process` that holds control `control`.
HWND DialogOf(DWORD process, int control, bool visibleOnly) {
  DialogSearch search{process, control, visibleOnly, nullptr};
  EnumWindows(VisitTopWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

class TelioxVoicemail : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string id = std::to_string(GetCurrentProcessId());
    handsetPipe_ = "\\\\.\\pipe\\teliox-e2e-vm-" + id;
    SetEnvironmentVariableA("HIDMAR_SIM_PIPE", handsetPipe_.c_str());
    const std::string clientPipe = "\\\\.\\pipe\\teliox-e2e-vm-client-" + id;
    ASSERT_TRUE(softphone_.Start("\"" + SimFolder() + "\\softphone-sim.exe\" --pipe " + clientPipe));
    ASSERT_TRUE(client_.Connect(clientPipe, 15000)) << "the softphone simulator did not come up";
    ASSERT_TRUE(teliox_.Start("\"" + SimFolder() + "\\Teliox.exe\""));
  }

  // Presses a key on the handset simulator: 0 when it was delivered.
  int Key(const std::string& name) {
    return e2e::RunToEnd("\"" + SimFolder() + "\\handset-sim.exe\" --pipe " + handsetPipe_ + " --key " + name, 10000);
  }

  bool Client(const std::string& command) {
    const auto answer = client_.Command(command);
    return answer && answer->starts_with("ok");
  }

  std::string handsetPipe_;
  e2e::StartedProgram softphone_;
  e2e::StartedProgram teliox_;
  softphone_sim::ControlClient client_;  // closes before the simulator ends
};

TEST_F(TelioxVoicemail, TheListComesFromTheClientPlaysFromTheHandsetAndEscapeHidesItForAFreshOne) {
  // Teliox.exe answers the attach with "PROTOCOL 2"; the library attaches once the handset is open.
  ASSERT_TRUE(client_.Wait("cmd PROTOCOL 2", 35000)) << "the client library never attached";
  ASSERT_TRUE(Client("voicemail 7 1230768000 5 alice"));
  ASSERT_TRUE(Client("voicemail 8 1230771600 6 bob"));
  ASSERT_TRUE(Client("voicemail 9 1230775200 5 carol"));

  ASSERT_EQ(0, Key("voicemail"));
  ASSERT_TRUE(client_.Wait("api UpdateVMList", 10000)) << "the voicemail key asked for no list";
  HWND dialog = nullptr;
  ASSERT_TRUE(e2e::PumpUntil([&] { return (dialog = DialogOf(teliox_.Id(), kVoicemailList, true)) != nullptr; }))
      << "no list window came up";
  const HWND list = GetDlgItem(dialog, kVoicemailList);
  EXPECT_EQ(3, SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  EXPECT_EQ(LVIS_SELECTED, SendMessageW(list, LVM_GETITEMSTATE, 0, LVIS_SELECTED));
  EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
  // The program owns the status images and gives them to the list alone.
  EXPECT_NE(0, SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));

  // Down to bob, and play him: the client starts him and reports him playing.
  ASSERT_EQ(0, Key("down"));
  ASSERT_TRUE(e2e::PumpUntil([&] { return SendMessageW(list, LVM_GETITEMSTATE, 1, LVIS_SELECTED) != 0; }));
  ASSERT_EQ(0, Key("yes"));
  EXPECT_TRUE(client_.Wait("cmd ALTER VOICEMAIL 8 STARTPLAYBACK", 10000));
  EXPECT_TRUE(client_.Wait("note 0482 id=8 status=12", 10000));

  // The list has the keyboard focus, so the keyboard's Escape goes to it.
  GUITHREADINFO focus{};
  focus.cbSize = sizeof focus;
  ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &focus));
  EXPECT_EQ(list, focus.hwndFocus);
  // Handed to the list view itself, Escape does nothing: it is the message loop's dialog
  // keyboard handling that makes it the dialog's Cancel.
  SendMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  e2e::PumpUntil([] { return false; }, 500);
  ASSERT_TRUE(IsWindowVisible(dialog));
  // Escape through the program's queue, as the keyboard delivers it.
  PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(list, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
  ASSERT_TRUE(e2e::PumpUntil([&] { return !IsWindowVisible(dialog); })) << "Escape left the list up";
  EXPECT_TRUE(IsWindow(dialog)) << "a list the user closes stays, hidden";

  // The main window heard it: the voicemail key on a hidden list asks for a fresh one (on a shown
  // list it would only close it).
  ASSERT_EQ(0, Key("voicemail"));
  EXPECT_TRUE(client_.Wait("api UpdateVMList", 10000)) << "the hidden list was taken for a shown one";
  EXPECT_TRUE(e2e::PumpUntil([&] { return DialogOf(teliox_.Id(), kVoicemailList, true) != nullptr; }))
      << "no fresh list window came up";

  constexpr int kHidDebugList = 1003;  // the hidden main window's
  PostMessageA(DialogOf(teliox_.Id(), kHidDebugList, false), RegisterWindowMessageA("PX_CloseApplication"), 0xA0, 0);
  EXPECT_EQ(0u, teliox_.WaitExit(15000));
}

}  // namespace
