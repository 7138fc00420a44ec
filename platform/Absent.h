// Stand-ins for outside libraries and devices that are not there: every call fails or does
// nothing, as the real library calls do when their device or program is missing. A program runs
// on these until the adapter for the real thing is part of the build.
#pragma once

#include "platform/ClientApi.h"
#include "platform/HidLink.h"
#include "platform/Winmm.h"

namespace platform {

// A client library whose client never answers.
class AbsentClientApi final : public ClientApi {
 public:
  bool Initialize(WindowHandle) override { return false; }
  void Connect2Tarvo() override {}
  void Disconnect2Tarvo() override {}
  void SendStringCommand(const char*) override {}
  bool SendCommandDirect(const char*) override { return false; }
  void GetCallNumber(int& inProgress, int& inProgressId, int& ringing, int& ringingId, int& onHold,
                     int& onHoldId) override {
    inProgress = inProgressId = ringing = ringingId = onHold = onHoldId = 0;
  }
  void GetCallNumberEx(int& inProgress, unsigned long*, int& ringing, unsigned long*, int& onHold,
                       unsigned long*) override {
    inProgress = ringing = onHold = 0;
  }
  bool GetCallbyID(int, std::uint8_t*) override { return false; }
  void SetCurrentCalltoOnHold() override {}
  bool GetRecentCallHandle(char* handle) override {
    if (handle) handle[0] = '\0';
    return false;
  }
  bool CloseTarvoMSGDialog() override { return false; }
  void MinimizeTarvo() override {}
  void UpdateVMList() override {}
  void UpdateContactList1() override {}
};

// A HID library that never finds the handset.
class AbsentHidLink final : public HidLink {
 public:
  int FindDevice(std::uint32_t, std::uint32_t) override { return 0; }
  int OpenDevice(WindowHandle) override { return 0; }
  void SetNotifyMessage(std::uint32_t) override {}
  int WriteReport(const std::uint8_t*, int) override { return 0; }
  void CloseDevice() override {}
  void ReleaseLibrary() override {}
};

// A system with no mixer and no waveform devices.
class AbsentWinmm final : public Winmm {
 public:
  std::uint32_t MixerCount() override { return 0; }
  std::uint32_t MixerName(std::uint32_t, std::string&) override { return kMmBadDeviceId; }
  std::uint32_t MixerLineInfo(std::uint32_t, LineQuery, MixerLine&) override { return kMmBadDeviceId; }
  std::uint32_t MixerLineControl(std::uint32_t, std::uint32_t, std::uint32_t, MixerControl&) override {
    return kMmBadDeviceId;
  }
  std::uint32_t MixerGetValue(std::uint32_t, std::uint32_t, std::uint32_t&) override { return kMmBadDeviceId; }
  std::uint32_t MixerSetValue(std::uint32_t, std::uint32_t, std::uint32_t) override { return kMmBadDeviceId; }
  std::uint32_t WaveOutCount() override { return 0; }
  std::uint32_t WaveOutName(std::uint32_t, std::string&) override { return kMmBadDeviceId; }
  std::uint32_t WaveInCount() override { return 0; }
  std::uint32_t WaveInName(std::uint32_t, std::string&) override { return kMmBadDeviceId; }
  std::uint32_t WaveOutOpen(WaveOutHandle&, std::uint32_t, const WaveFormat&, WindowHandle) override {
    return kMmBadDeviceId;
  }
  std::uint32_t WaveOutPrepare(WaveOutHandle, WaveBlock&) override { return kMmInvalidHandle; }
  std::uint32_t WaveOutUnprepare(WaveOutHandle, WaveBlock&) override { return kMmInvalidHandle; }
  std::uint32_t WaveOutWrite(WaveOutHandle, WaveBlock&) override { return kMmInvalidHandle; }
  std::uint32_t WaveOutSetVolume(WaveOutHandle, std::uint32_t) override { return kMmInvalidHandle; }
  std::uint32_t WaveOutReset(WaveOutHandle) override { return kMmInvalidHandle; }
  std::uint32_t WaveOutClose(WaveOutHandle) override { return kMmInvalidHandle; }
};

}  // namespace platform
