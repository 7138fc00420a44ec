#include "bridge/app/AudioManagerLink.h"

#include <algorithm>
#include <string>

#include "common/SettingsKey.h"

namespace bridge {
namespace {

std::string RegistrationPath() { return std::string(kAudioManagerKey) + kRegisterSubKey; }

}  // namespace

int AudioManagerLink::StartAudioManager() {
  if (desktop_.FindTopWindow(nullptr, kAudioManagerTitle)) return 2;
  const std::string path = desktop_.CommonProgramFilesFolder() + "\\VL\\" + kAudioManagerExe;
  return desktop_.StartProcess(path.c_str(), platform::kStartfForceOffFeedback) ? 1 : 0;
}

bool AudioManagerLink::RegisterWithAudioManager(const char* name) {
  CSettingsKey key(registry_);
  if (!key.Create(platform::kHkeyCurrentUser, RegistrationPath().c_str())) return false;
  key.WriteDword(name, desktop_.CurrentProcessId());
  return true;
}

bool AudioManagerLink::UnregisterFromAudioManager(const char* name) {
  CSettingsKey key(registry_);
  if (!key.Open(platform::kHkeyCurrentUser, RegistrationPath().c_str())) return false;
  key.DeleteValue(name);
  return true;
}

platform::WindowHandle AudioManagerLink::FindOrStart() {
  if (const auto window = desktop_.FindTopWindow(nullptr, kAudioManagerTitle)) return window;
  if (StartAudioManager() == 0) return 0;
  clock_.Sleep(kManagerStartWaitMs);
  return desktop_.FindTopWindow(nullptr, kAudioManagerTitle);
}

std::intptr_t AudioManagerLink::SendLanguageToAudioManager(common::Language language) {
  const auto manager = FindOrStart();
  if (!manager) return 0;
  return desktop_.Send(manager, kMsgManagerLanguage, common::LanguageNumber(language), 0);
}

void AudioManagerLink::SendName(platform::WindowHandle manager, platform::WindowHandle from, std::uintptr_t which,
                                std::string_view name) {
  // Always terminated and never longer than the manager's buffers take.
  const std::string text(name.substr(0, std::min(name.find('\0'), kDeviceNameMax)));
  desktop_.SendCopyData(manager, from, which, 0, text.c_str(), static_cast<std::uint32_t>(text.size() + 1));
}

std::intptr_t AudioManagerLink::OpenAudioManagerDevices(std::string_view inputName, std::string_view outputName,
                                                        common::Language language, platform::WindowHandle from) {
  if (!FindOrStart()) return 0;
  SendLanguageToAudioManager(language);
  // The manager may have gone in between; look it up for each message as the sends need it.
  const auto manager = desktop_.FindTopWindow(nullptr, kAudioManagerTitle);
  if (!manager) return 0;
  SendName(manager, from, kCopyDataAudioIn, inputName);
  SendName(manager, from, kCopyDataAudioOut, outputName);
  return desktop_.Post(manager, kMsgManagerOpenDevices, 0, 0) ? 1 : 0;
}

}  // namespace bridge
