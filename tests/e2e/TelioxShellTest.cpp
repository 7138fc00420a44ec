// Teliox.exe itself under Wine: it starts, writes its language and registration, refuses a second
// instance with exit code 0, switches language on its menu command, ignores a close request with
// the wrong code and ends in order on the right one; its tray icon comes back when the taskbar
// announces a new start.
#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/e2e/PortTestSupport.h"

namespace {

constexpr char kSettingsKey[] = "SOFTWARE\\VORLANE\\TELIOX\\Teliox";
constexpr char kRegisterKey[] = "SOFTWARE\\VORLANE\\AUDIO_MANAGER\\REGISTER";

std::string TelioxPath() { return e2e::ProgramFolder() + "\\..\\..\\bridge\\Teliox.exe"; }

bool ReadDword(const char* key, const char* name, DWORD& value) {
  DWORD size = sizeof value;
  return RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

void WriteDword(const char* key, const char* name, DWORD value) {
  HKEY handle = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr));
  RegSetValueExA(handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(handle);
}

void DeleteValue(const char* key, const char* name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return;
  RegDeleteValueA(handle, name);
  RegCloseKey(handle);
}

// A started Teliox.exe; terminated on destruction if a test left it running.
class Teliox {
 public:
  Teliox() {
    std::string commandLine = "\"" + TelioxPath() + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    started_ = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &info) != FALSE;
    if (started_) {
      process_ = info.hProcess;
      CloseHandle(info.hThread);
      id_ = info.dwProcessId;
    }
  }
  ~Teliox() {
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 1);
    if (process_) CloseHandle(process_);
  }
  bool Started() const { return started_; }
  DWORD Id() const { return id_; }
  // The exit code once ended within `ms`, or STILL_ACTIVE.
  DWORD WaitExit(DWORD ms) {
    WaitForSingleObject(process_, ms);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_, &code);
    return code;
  }
  // Its hidden main window: the top-level dialog of its process.
  HWND MainWindow() {
    Search search{id_, nullptr};
    EnumWindows(&Teliox::Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

 private:
  struct Search {
    DWORD id;
    HWND found;
  };
  static BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (owner == search->id && std::string(cls) == "#32770" && !GetWindow(window, GW_OWNER)) {
      search->found = window;
      return FALSE;
    }
    return TRUE;
  }

  bool started_ = false;
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

bool WaitFor(const std::function<bool()>& done, DWORD ms = 10000) { return e2e::PumpUntil(done, ms); }

TEST(TelioxShell, StartsOnceSwitchesLanguageAndEndsInOrder) {
  DeleteValue(kSettingsKey, "LANGUAGE");  // derived from the system (0x0409 here): English
  DeleteValue(kRegisterKey, "Teliox");    // left by an earlier run that was killed
  WriteDword(kRegisterKey, "SomeOtherProgram", 4242);
  const ULONGLONG startedAt = GetTickCount64();
  Teliox first;
  ASSERT_TRUE(first.Started()) << TelioxPath();
  DWORD registered = 0;
  ASSERT_TRUE(WaitFor([&] { return ReadDword(kRegisterKey, "Teliox", registered); })) << "no registration";
  // The registration is written right after the tray icon is added: the start-up time a user sees.
  std::printf("start-up to tray icon: %llu ms (polled every 10 ms)\n", GetTickCount64() - startedAt);
  EXPECT_EQ(first.Id(), registered);
  DWORD language = 0;
  ASSERT_TRUE(ReadDword(kSettingsKey, "LANGUAGE", language));
  EXPECT_EQ(1u, language);
  HWND main = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (main = first.MainWindow()) != nullptr; }));
  EXPECT_FALSE(IsWindowVisible(main)) << "the main window stays hidden";

  // A second copy ends by itself with exit code 0; the first runs on.
  Teliox second;
  ASSERT_TRUE(second.Started());
  EXPECT_EQ(0u, second.WaitExit(10000));
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), first.WaitExit(0));

  // The language commands of the tray menu: Traditional Chinese, then English again.
  PostMessageA(main, WM_COMMAND, 32797, 0);
  EXPECT_TRUE(WaitFor([&] { return ReadDword(kSettingsKey, "LANGUAGE", language) && language == 2; }));
  PostMessageA(main, WM_COMMAND, 32796, 0);
  EXPECT_TRUE(WaitFor([&] { return ReadDword(kSettingsKey, "LANGUAGE", language) && language == 1; }));

  // The registered close message: 0xA1 is not ours, 0xA0 is.
  const UINT close = RegisterWindowMessageA("PX_CloseApplication");
  PostMessageA(main, close, 0xA1, 0);
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), first.WaitExit(1000));
  PostMessageA(main, close, 0xA0, 0);
  EXPECT_EQ(0u, first.WaitExit(15000));
  EXPECT_FALSE(ReadDword(kRegisterKey, "Teliox", registered)) << "the registration is removed";
  DWORD other = 0;
  EXPECT_TRUE(ReadDword(kRegisterKey, "SomeOtherProgram", other)) << "only our own value goes";
  DeleteValue(kRegisterKey, "SomeOtherProgram");
}

// Wine's taskbar never starts again, so the test does what a restart does to the tray: the icon
// goes, and "TaskbarCreated" reaches the program's top-level window.
TEST(TelioxShell, AddsItsTrayIconAgainWhenTheTaskbarIsCreated) {
  DeleteValue(kRegisterKey, "Teliox");
  Teliox teliox;
  ASSERT_TRUE(teliox.Started()) << TelioxPath();
  DWORD registered = 0;
  ASSERT_TRUE(WaitFor([&] { return ReadDword(kRegisterKey, "Teliox", registered); })) << "no registration";
  HWND main = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (main = teliox.MainWindow()) != nullptr; }));

  // The tray knows an icon by its window and id (1); a modify that changes nothing succeeds only
  // for an icon the tray holds.
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = main;
  icon.uID = 1;
  const auto shown = [&] { return Shell_NotifyIconW(NIM_MODIFY, &icon) != FALSE; };
  ASSERT_TRUE(WaitFor(shown)) << "no tray icon after start-up";
  ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &icon));
  EXPECT_FALSE(shown());

  const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  ASSERT_NE(0u, taskbarCreated);
  PostMessageA(main, taskbarCreated, 0, 0);
  EXPECT_TRUE(WaitFor(shown)) << "the icon was not added again";
  // Announced while the icon is still there: it stays, and the program runs on.
  SendMessageA(main, taskbarCreated, 0, 0);
  EXPECT_TRUE(shown());
  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), teliox.WaitExit(0));

  PostMessageA(main, RegisterWindowMessageA("PX_CloseApplication"), 0xA0, 0);
  EXPECT_EQ(0u, teliox.WaitExit(15000));
  EXPECT_FALSE(shown()) << "the icon goes with the program";
}

}  // namespace
