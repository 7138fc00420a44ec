#include "platform/win32/ResourceModule.h"

#include <atomic>

#include "platform/win32/Text.h"

namespace win32 {

namespace {

// Read by any thread that loads a string; set by the UI thread at start and on language change.
std::atomic<HMODULE> currentModule{nullptr};

}  // namespace

HMODULE ProgramModule() { return GetModuleHandleW(nullptr); }

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
