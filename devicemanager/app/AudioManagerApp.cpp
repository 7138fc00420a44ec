#include "devicemanager/app/AudioManagerApp.h"

#include "common/Language.h"
#include "resources/devicemanager/resource.h"

namespace devicemanager {

const char* ManagerLanguageLibrary(std::uint16_t langId) {
  switch (common::LanguageForLangId(langId)) {
    case common::Language::TraditionalChinese:
      return nullptr;
    case common::Language::Japanese:
      return "Swd_Jpn.dll";
    case common::Language::French:
      return "Swd_Fra.dll";
    case common::Language::Dutch:
      return "Swd_Dut.dll";
    case common::Language::English:
      break;
  }
  return "Swd_Eng.dll";
}

bool CAudioManagerApp::InitInstance() {
  if (const char* library = ManagerLanguageLibrary(ports_.desktop.SystemDefaultLangId())) {
    if (const auto module = ports_.ui.LoadLanguageLibrary(library)) ports_.ui.SetResourceModule(module);
  }
  if (!ports_.ui.CreateSingleInstanceMutex(kSingleInstanceMutex)) return false;
  mainWindow_ = std::make_unique<CAudioManagerDlg>(ports_);
  ports_.ui.RunModal(IDD_MANAGER_MAIN, *mainWindow_, nullptr);
  return false;
}

}  // namespace devicemanager
