// resource_check.exe: Teliox.exe's built-in resources (linked in) against the English language
// library next to it, and a way to look at each dialog (ResourceCheckShow.cpp).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace rescheck {

inline constexpr wchar_t kEnglishLibrary[] = L"T40ENG_VL.dll";

// A dialog procedure that handles nothing: what creating a template needs.
INT_PTR CALLBACK PlainDialogProc(HWND, UINT, WPARAM, LPARAM);

// Creates a dialog from `module`'s template; nullptr when the template is missing or unusable.
HWND CreateFromModule(HMODULE module, UINT id, HWND owner, DLGPROC proc);

// Trackbars and list views.
void InitControls();

// `--show <dialog id | menu | language-menu> [--english]`: shows one dialog, or the tray menu
// with its settings or language pop-up open, until it is closed or 30 seconds pass.
int Show(const std::vector<std::string>& args);

}  // namespace rescheck
