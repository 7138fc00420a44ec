// Teliox.exe with the real Hidmar.dll in the device-demo folder: the handset is the virtual HID
// device, installed into the prefix by handset-sim --device, which feeds it from the handset
// model. Nothing above the driver knows the handset is simulated: SetupAPI finds it, hid.dll
// opens it, reports travel through the HID class driver both ways. The road of an incoming call,
// an unplug in the middle of the ring-tone upload and a replug under the other product id, and
// the volume-only key mode, each waiting for its condition with a deadline.
#include <gtest/gtest.h>

#include <string>

#include "companions/tarvoapi/sim/SimControl.h"
#include "companions/tarvoapi/sim/win32/ControlPipe.h"
#include "resources/bridge/resource.h"
#include "tests/e2e/ProgramTestSupport.h"

namespace {

std::string DeviceFolder() { return e2e::ProgramFolder() + "\\..\\..\\device-demo"; }

BOOL CALLBACK CloseSimulatorWindow(HWND window, LPARAM process) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(process)) PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

// The feeder (with its window), the softphone simulator, and Teliox.exe between them, on pipes
// of this test's own. The client and its control connection come first, so the attach is seen.
class TelioxRealHid : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string id = std::to_string(GetCurrentProcessId());
    handsetPipe_ = "\\\\.\\pipe\\teliox-e2e-device-" + id;
    const std::string clientPipe = "\\\\.\\pipe\\teliox-e2e-device-client-" + id;
    ASSERT_TRUE(feeder_.Start("\"" + DeviceFolder() + "\\handset-sim.exe\" --device --pipe " + handsetPipe_));
    // The feeder installs the device before it serves its pipe's window: the state says plugged.
    ASSERT_EQ(0, Handset("--connect-timeout 20000 --wait-state plugged=1", 30000)) << "the device did not appear";
    ASSERT_TRUE(softphone_.Start("\"" + DeviceFolder() + "\\softphone-sim.exe\" --pipe " + clientPipe));
    ASSERT_TRUE(client_.Connect(clientPipe, 15000)) << "the softphone simulator did not come up";
    ASSERT_TRUE(teliox_.Start("\"" + DeviceFolder() + "\\Teliox.exe\""));
  }

  void TearDown() override {
    if (teliox_.Running()) {
      PostMessageA(e2e::MainDialogOf(teliox_.Id()), RegisterWindowMessageA("PX_CloseApplication"), 0xA0, 0);
      EXPECT_EQ(0u, teliox_.WaitExit(15000));
    }
    // Closed, the feeder removes its device: the prefix is left without a handset.
    EnumWindows(CloseSimulatorWindow, static_cast<LPARAM>(feeder_.Id()));
    EXPECT_NE(STILL_ACTIVE, feeder_.WaitExit(15000)) << "the feeder did not end when its window closed";
  }

  // handset-sim's command line against the feeder, run to its end: 0 when every step succeeded.
  int Handset(const std::string& steps, DWORD timeoutMs = 20000) {
    return e2e::RunToEnd("\"" + DeviceFolder() + "\\handset-sim.exe\" --pipe " + handsetPipe_ + " --timeout " +
                             std::to_string(timeoutMs) + " " + steps,
                         timeoutMs + 10000);
  }

  bool ClientAttached() { return client_.Wait("cmd PROTOCOL 2", 35000).has_value(); }

  // Whether the client saw `text` as a command within `ms`.
  bool ClientGot(const std::string& text, DWORD ms) { return client_.Wait(text, ms).has_value(); }

  std::string handsetPipe_;
  e2e::StartedProgram feeder_;
  e2e::StartedProgram softphone_;
  e2e::StartedProgram teliox_;
  softphone_sim::ControlClient client_;  // closes before the simulator ends
};

TEST_F(TelioxRealHid, TheIncomingCallTravelsThroughTheRealHidStack) {
  // The version exchange (both bytes asked) and the ring-tone upload with its acknowledgements.
  EXPECT_EQ(0, Handset("--wait-report \"C0 00 91\""));
  EXPECT_EQ(0, Handset("--wait-state \"tone=E6-EA-14-19-14\"")) << "the ring tone upload did not complete";

  ASSERT_TRUE(ClientAttached()) << "the client library never attached";
  const auto incoming = client_.Command("incoming alice");
  ASSERT_TRUE(incoming && incoming->starts_with("ok")) << incoming.value_or("no answer");
  EXPECT_EQ(0, Handset("--wait-state \"ringer=ringing indicator=on\"")) << "the handset was not made to ring";
  // A key pressed on the simulator reaches its client command: yes answers.
  EXPECT_EQ(0, Handset("--key yes --wait-report \"C0 00 9F\""));
  EXPECT_TRUE(ClientGot("cmd SET CALL 1 STATUS INPROGRESS", 20000)) << "the yes key did not answer the call";
  EXPECT_EQ(0, Handset("--key d5"));
  EXPECT_TRUE(ClientGot("cmd SET CALL 1 DTMF 5", 10000)) << "the digit did not go out as a tone";
  EXPECT_EQ(0, Handset("--key no"));
  EXPECT_TRUE(ClientGot("cmd HOOK ON", 10000)) << "the no key did not hang up";
}

TEST_F(TelioxRealHid, AnUnplugDuringTheUploadIsSurvivedAndTheOtherProductIdIsFoundOnReplug) {
  // Slow acknowledgements stretch the upload, so the unplug lands in its middle.
  ASSERT_EQ(0, Handset("--ack-delay 150 --wait-report \"C0 00 82\" --unplug --state"));
  EXPECT_EQ(0, Handset("--sleep 2000 --wait-state \"plugged=0\""));
  // Teliox is still alive and keeps probing: the handset comes back as the other product.
  ASSERT_TRUE(teliox_.Running());
  // Found, opened and given its ring tone again after the interrupted upload: about 15 s alone,
  // well over 40 s while the whole suite runs beside it.
  ASSERT_EQ(0, Handset("--ack-delay 5 --plug 0x1403 1 5 --wait-state \"product=1403 tone=E6-EA-14-19-14\"", 90000))
      << "the handset under its other product id was not opened and given its ring tone";
  ASSERT_TRUE(ClientAttached()) << "the client library never attached";
  const auto incoming = client_.Command("incoming bob");
  ASSERT_TRUE(incoming && incoming->starts_with("ok"));
  EXPECT_EQ(0, Handset("--wait-state \"ringer=ringing\"")) << "the replugged handset does not ring";
}

TEST_F(TelioxRealHid, InTheVolumeOnlyKeyModeOnlyTheVolumeKeysAct) {
  ASSERT_EQ(0, Handset("--wait-state \"tone=E6-EA-14-19-14\""));
  ASSERT_TRUE(ClientAttached()) << "the client library never attached";
  const HWND main = e2e::MainDialogOf(teliox_.Id());
  ASSERT_NE(nullptr, main);

  PostMessageA(main, WM_COMMAND, ID_HANDSET_EVENTS_OFF, 0);
  EXPECT_EQ(0, Handset("--key d5"));
  EXPECT_FALSE(ClientGot("cmd BTN_RELEASED 5", 1500)) << "a digit acted in the volume-only mode";
  // The volume key still acts, and marks key activity in the status report.
  EXPECT_EQ(0, Handset("--key up --wait-report \"C0 00 00 43\""));

  PostMessageA(main, WM_COMMAND, ID_HANDSET_EVENTS_ON, 0);
  EXPECT_EQ(0, Handset("--key d5"));
  EXPECT_TRUE(ClientGot("cmd BTN_RELEASED 5", 10000)) << "the digit did not act in the full mode";
}

}  // namespace
