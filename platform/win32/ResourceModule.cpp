#include "platform/win32/ResourceModule.h"

#include <atomic>
#include <cstring>

#include "platform/win32/Text.h"

namespace win32 {

namespace {

// Read by any thread that loads a string; set by the UI thread at start and on language change.
std::atomic<HMODULE> currentModule{nullptr};

}  // namespace

HMODULE ProgramModule() { return GetModuleHandleW(nullptr); }

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string folder(path, length);
  folder.resize(folder.find_last_of("\\/") + 1);
  return folder;
}

HMODULE LoadResourceLibrary(const char* fileName) {
  if (!fileName || !*fileName || std::strpbrk(fileName, "\\/:")) return nullptr;
  // A language library holds resources and nothing else, so it is mapped as data only: no code
  // of it runs (no entry point, no imports), whatever file lies there under its name. And it is
  // looked for only where the program's own files and the system's are: LoadLibrary would go on
  // to the current directory and the PATH for a library that is missing, and some of the five
  // always are, so a library planted there would otherwise be loaded and run.
  // LOAD_LIBRARY_AS_IMAGE_RESOURCE (Windows Vista and later) maps it with an image's layout;
  // Microsoft's documentation asks for it together with LOAD_LIBRARY_AS_DATAFILE.
  char system[MAX_PATH] = {};
  const UINT systemLength = GetSystemDirectoryA(system, MAX_PATH);
  const std::string folders[] = {
      ProgramFolder(), systemLength > 0 && systemLength < MAX_PATH ? std::string(system, systemLength) + "\\" : ""};
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    const std::string path = folder + fileName;
    if (HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {
      return module;
    }
  }
  return nullptr;
}

HMODULE CurrentResourceModule() {
  const HMODULE module = currentModule.load();
  return module ? module : ProgramModule();
}

void SetCurrentResourceModule(HMODULE module) { currentModule.store(module); }

std::wstring LoadWideString(UINT id) {
  // With a zero buffer size LoadStringW hands out the resource itself, so no length limit applies.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(CurrentResourceModule(), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return {};
  return std::wstring(text, static_cast<std::size_t>(length));
}

std::string LoadUtf8String(UINT id) { return WideToUtf8(LoadWideString(id)); }

UniqueMenu LoadMenuResource(UINT id) { return UniqueMenu(LoadMenuW(CurrentResourceModule(), MAKEINTRESOURCEW(id))); }

const DLGTEMPLATE* FindDialogTemplate(UINT id) {
  const HMODULE module = CurrentResourceModule();
  const HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_DIALOG));
  if (!info) return nullptr;
  const HGLOBAL data = LoadResource(module, info);
  return data ? static_cast<const DLGTEMPLATE*>(LockResource(data)) : nullptr;
}

HICON LoadProgramIcon(UINT id) { return LoadIconW(ProgramModule(), MAKEINTRESOURCEW(id)); }

UniqueIcon LoadProgramIcon(UINT id, int width, int height) {
  return UniqueIcon(
      static_cast<HICON>(LoadImageW(ProgramModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, width, height, 0)));
}

}  // namespace win32
