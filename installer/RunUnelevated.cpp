// run-unelevated.exe PROGRAM: starts PROGRAM at the desktop user's normal level, never with the
// caller's elevated rights. The installer runs elevated; a program it started directly would be
// elevated too, and an elevated Teliox would hold its single-instance mutex while Windows drops
// the messages the client (at the normal level) sends to its windows (User Interface Privilege
// Isolation lets a lower integrity level post nothing to a higher one).
//
// Not elevated: the program is simply started. Elevated: the desktop's shell, which runs at the
// user's normal level, is asked to start it (its ShellExecute, reached through the desktop
// window's folder view). If that cannot be done the program is not started at all (exit 2): it
// starts at the next log-on from the Run key the installer wrote.
#include <windows.h>
// clang-format off
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <servprov.h>
#include <shellapi.h>
// clang-format on
// shellapi.h names a function ShellExecute too; here it is IShellDispatch2's method.
#undef ShellExecute

#include <string>

namespace {

template <typename T>
class Com {
 public:
  Com() = default;
  ~Com() {
    if (p_) p_->Release();
  }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  T** out() { return &p_; }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

bool Elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;  // unknown: assume the worst
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return !known || elevation.TokenIsElevated != 0;
}

std::wstring FolderOf(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool StartDirectly(const std::wstring& program) {
  std::wstring line = L"\"" + program + L"\"";
  const std::wstring folder = FolderOf(program);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

// The desktop's shell: its folder view's Application object is a Shell.Application of the
// desktop's own process, whose ShellExecute starts programs with that process's token.
bool StartThroughTheDesktop(const std::wstring& program) {
  Com<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                              reinterpret_cast<void**>(windows.out())))) {
    return false;
  }
  VARIANT location;
  VariantInit(&location);
  VARIANT root;
  VariantInit(&root);
  long window = 0;
  Com<IDispatch> desktop;
  if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.out()) != S_OK ||
      !desktop) {
    return false;
  }
  Com<IServiceProvider> services;
  Com<IShellBrowser> browser;
  Com<IShellView> view;
  Com<IDispatch> background;
  Com<IShellFolderViewDual> folderView;
  Com<IDispatch> application;
  Com<IShellDispatch2> shell;
  if (FAILED(desktop->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(services.out()))) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, reinterpret_cast<void**>(browser.out()))) ||
      FAILED(browser->QueryActiveShellView(view.out())) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(background.out()))) ||
      FAILED(background->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(folderView.out()))) ||
      FAILED(folderView->get_Application(application.out())) ||
      FAILED(application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(shell.out())))) {
    return false;
  }
  BSTR file = SysAllocString(program.c_str());
  VARIANT arguments;
  VariantInit(&arguments);
  VARIANT directory;
  VariantInit(&directory);
  directory.vt = VT_BSTR;
  directory.bstrVal = SysAllocString(FolderOf(program).c_str());
  VARIANT operation;
  VariantInit(&operation);
  VARIANT show;
  VariantInit(&show);
  show.vt = VT_I4;
  show.lVal = SW_SHOWNORMAL;
  const HRESULT started = shell->ShellExecute(file, arguments, directory, operation, show);
  SysFreeString(file);
  VariantClear(&directory);
  return SUCCEEDED(started);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv || count != 2) return 64;
  const std::wstring program = argv[1];
  LocalFree(argv);
  if (!Elevated()) return StartDirectly(program) ? 0 : 1;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  const bool started = StartThroughTheDesktop(program);
  CoUninitialize();
  return started ? 0 : 2;
}
