#include "devicemanager/watcher/DeviceWatcher.h"

#include "common/SettingsKey.h"
#include "devicemanager/app/ManagerSettings.h"

namespace devicemanager {

DeviceWatcherProc::DeviceWatcherProc(ManagerPorts& ports, platform::WindowHandle mainWindow,
                                     std::shared_ptr<DeviceWatcherProc> predecessor)
    : ports_(ports),
      mainWindow_(mainWindow),
      predecessor_(std::move(predecessor)),
      stop_(ports.clock.MakeEvent(false)),
      ended_(ports.clock.MakeEvent(false)) {}

void DeviceWatcherProc::RequestStop() {
  stopped_ = true;
  stop_->Set();
}

bool DeviceWatcherProc::WaitEnded(std::uint32_t timeoutMs) { return ended_->Wait(timeoutMs); }

bool DeviceWatcherProc::Pause(std::uint32_t ms) { return !stop_->Wait(ms) && !Stopped(); }

bool DeviceWatcherProc::HasBothSides() {
  return ports_.audio.WaveInGetNumDevs() >= 1 && ports_.audio.WaveOutGetNumDevs() >= 1;
}

std::intptr_t DeviceWatcherProc::Request(std::uint32_t msg) {
  // The library calls before a request can take long (a query may wait on the audio service); a
  // stop that came meanwhile must not put a wizard or a question over the settings dialog.
  if (Stopped()) return 0;
  return ports_.desktop.Send(mainWindow_, msg, 0, 0);
}

void DeviceWatcherProc::Run() {
  if (predecessor_) {
    predecessor_->WaitEnded(platform::kInfinite);
    predecessor_.reset();
  }
  queryFailures_ = 0;
  ports_.audio.UpdateAudioDevice(kManagerKey);
  while (!Stopped() && Pass() == Step::Restart) {
    queryFailures_ = 0;
    ports_.audio.UpdateAudioDevice(kManagerKey);
  }
  ended_->Set();
}

bool DeviceWatcherProc::AdoptWindowsDevices() {
  std::string input;
  std::string output;
  if (!DefaultDevices(ports_.audio, input, output)) return false;
  // Stopped during the query: the settings dialog owns the stored devices now.
  if (Stopped()) return false;
  WriteManagerDevices(ports_.registry, input, output);
  CSettingsKey key(ports_.registry);
  if (key.Open(platform::kHkeyCurrentUser, kSoundMapperKey)) {
    key.WriteString("Playback", output.c_str());
    key.WriteString("Record", input.c_str());
  }
  return true;
}

DeviceWatcherProc::Step DeviceWatcherProc::Pass() {
  auto& audio = ports_.audio;
  if (ReadManagerFlag(ports_.registry, kDeviceWizard, 1) == 0) return Step::End;

  if (audio.WaveInGetNumDevs() == 0 && audio.WaveOutGetNumDevs() == 0) {
    audio.UpdateAudioDevice(kManagerKey);
    for (;;) {
      if (Stopped()) return Step::End;
      if (HasBothSides()) return Step::Restart;
      if (!Pause(kPassPauseMs)) return Step::End;
    }
  }
  if (HasBothSides() && IsRemoteDesktopAudio(audio)) return Pause(kPassPauseMs) ? Step::Restart : Step::End;
  if (HasBothSides() && !DeviceNamesReady(audio)) return Pause(kRetryPauseMs) ? Step::Restart : Step::End;

  const std::string input = ReadManagerName(ports_.registry, kDeviceIn);
  const std::string output = ReadManagerName(ports_.registry, kDeviceOut);

  if (audio.WaveInGetNumDevs() == 1 && audio.WaveOutGetNumDevs() == 1) {
    if ((input.empty() || output.empty()) && !AdoptWindowsDevices()) {
      return Pause(kRetryPauseMs) ? Step::Restart : Step::End;
    }
  } else if (input.empty() || output.empty() || !StoredDevicesPresent(audio, input, output)) {
    Request(kUwmShowWizard);
    // A settings dialog opened meanwhile owns the devices now.
    if (Stopped()) return Step::End;
  }
  return KeepLoop();
}

DeviceWatcherProc::Step DeviceWatcherProc::KeepLoop() {
  auto& audio = ports_.audio;
  for (;;) {
    if (queryFailures_ >= kFailureLimit && !gaveUp_) {
      // The main window ends its own run; this thread goes on until the process ends.
      gaveUp_ = true;
      ports_.desktop.Post(mainWindow_, kUwmWatcherGaveUp, 0, 0);
    }
    audio.UpdateAudioDevice(kManagerKey);
    if (Stopped()) return Step::End;
    if (HasBothSides() && IsRemoteDesktopAudio(audio)) return Pause(kPassPauseMs) ? Step::Restart : Step::End;
    if (HasBothSides() && !DeviceNamesReady(audio)) return Pause(kRetryPauseMs) ? Step::Restart : Step::End;

    const std::string input = ReadManagerName(ports_.registry, kDeviceIn);
    const std::string output = ReadManagerName(ports_.registry, kDeviceOut);
    const bool automatic = ReadManagerFlag(ports_.registry, kWizardAutomatic, 0) == 1;

    if (audio.WaveInGetNumDevs() < 2 || audio.WaveOutGetNumDevs() < 2) {
      return Pause(kPassPauseMs) ? Step::Restart : Step::End;
    }
    std::string currentIn;
    std::string currentOut;
    if (!DefaultDevices(audio, currentIn, currentOut)) {
      ++queryFailures_;
      if (!Pause(kRetryPauseMs)) return Step::End;
      continue;
    }
    if (currentIn == input && currentOut == output) return Pause(kPassPauseMs) ? Step::Restart : Step::End;
    if (!automatic) {
      Request(kUwmDeviceChanged);
      if (Stopped()) return Step::End;
      return Pause(kPassPauseMs) ? Step::Restart : Step::End;
    }
    // The names were read before the query, which can take long; once stopped they may be what
    // the settings dialog is replacing, so nothing is set.
    if (Stopped()) return Step::End;
    if (audio.SetDefaultAudioDevice(input.c_str(), output.c_str())) {
      return Pause(kPassPauseMs) ? Step::Restart : Step::End;
    }
    if (!Pause(kRetryPauseMs)) return Step::End;
  }
}

}  // namespace devicemanager
