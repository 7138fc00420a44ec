// Language libraries are loaded as data only, from the program's folder or the system folder:
// their strings, menus and dialogs serve as before, no code of a library runs, and a library
// that lies only in the current directory is not used.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/win32/ResourceModule.h"
#include "resources/bridge/resource.h"

namespace {

std::string Environment(const char* name) {
  char value[64] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length < sizeof value ? std::string(value, length) : std::string();
}

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

class LanguageLibrary : public ::testing::Test {
 protected:
  void TearDown() override { win32::SetCurrentResourceModule(nullptr); }
};

TEST_F(LanguageLibrary, LoadedAsDataItGivesItsStringsMenusAndDialogs) {
  const HMODULE library = win32::LoadResourceLibrary("T40ENG_VL.dll");
  ASSERT_NE(nullptr, library);
  EXPECT_EQ(nullptr, GetModuleHandleA("T40ENG_VL.dll")) << "mapped as data, not loaded as a library";
  win32::SetCurrentResourceModule(library);

  EXPECT_EQ("Online", win32::LoadUtf8String(IDS_ONLINE));
  const win32::UniqueMenu menu = win32::LoadMenuResource(IDR_TRAY_MENU);
  ASSERT_TRUE(menu);
  wchar_t text[64] = {};
  GetMenuStringW(GetSubMenu(menu.get(), 0), 0, text, 64, MF_BYPOSITION);
  EXPECT_EQ(std::wstring(L"Settings"), text);

  const DLGTEMPLATE* dialog = win32::FindDialogTemplate(IDD_VOLUME);
  ASSERT_NE(nullptr, dialog);
  const HWND window = CreateDialogIndirectParamW(library, dialog, nullptr, QuietDialog, 0);
  ASSERT_NE(nullptr, window);
  GetWindowTextW(window, text, 64);
  EXPECT_EQ(std::wstring(L"Volume Settings.."), text);
  DestroyWindow(window);
}

TEST_F(LanguageLibrary, APlantedLibraryRunsNoCode) {
  SetEnvironmentVariableA("TELIOX_PLANTED_CODE_RAN", nullptr);
  const HMODULE planted = win32::LoadResourceLibrary("planted_lang.dll");
  ASSERT_NE(nullptr, planted);
  EXPECT_EQ("", Environment("TELIOX_PLANTED_CODE_RAN")) << "the library's entry point ran";
  win32::SetCurrentResourceModule(planted);
  EXPECT_EQ("planted", win32::LoadUtf8String(IDS_ONLINE)) << "its resources serve all the same";

  // The library does carry code: loaded the ordinary way, it runs.
  const HMODULE loaded = LoadLibraryA("planted_lang.dll");
  ASSERT_NE(nullptr, loaded);
  EXPECT_EQ("1", Environment("TELIOX_PLANTED_CODE_RAN"));
  FreeLibrary(loaded);
}

TEST_F(LanguageLibrary, OnlyTheProgramsFolderAndTheSystemFolderAreLookedIn) {
  char temp[MAX_PATH] = {};
  ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp));
  const std::string folder = std::string(temp) + "teliox-cwd-" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string planted = folder + "\\cwd_only_lang.dll";
  ASSERT_TRUE(CopyFileA((win32::ProgramFolder() + "planted_lang.dll").c_str(), planted.c_str(), FALSE));
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));

  // The ordinary search order finds it in the current directory; the language loader does not.
  const HMODULE found = LoadLibraryExA("cwd_only_lang.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  EXPECT_NE(nullptr, found);
  if (found) FreeLibrary(found);
  EXPECT_EQ(nullptr, win32::LoadResourceLibrary("cwd_only_lang.dll"));
  // Only bare file names: no path, relative or absolute, reaches another folder.
  EXPECT_EQ(nullptr, win32::LoadResourceLibrary(planted.c_str()));
  EXPECT_EQ(nullptr, win32::LoadResourceLibrary(".\\cwd_only_lang.dll"));
  EXPECT_EQ(nullptr, win32::LoadResourceLibrary("..\\T40ENG_VL.dll"));
  EXPECT_EQ(nullptr, win32::LoadResourceLibrary(""));

  SetCurrentDirectoryA(previous);
  DeleteFileA(planted.c_str());
  RemoveDirectoryA(folder.c_str());
}

}  // namespace
