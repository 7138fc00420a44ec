// The current resource module: where strings, menus and dialogs come from. It is the program
// itself until a language library is chosen; icons always come from the program.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/Handles.h"

namespace win32 {

HMODULE ProgramModule();
// The folder of the program's own file, with its final backslash; empty when unknown.
std::string ProgramFolder();

// A language library by bare file name, loaded as data only from the program's folder, or else
// from the system folder; nullptr when neither holds it or the name is not a bare file name.
// Never freed by the caller while any of its resources may be current.
HMODULE LoadResourceLibrary(const char* fileName);

HMODULE CurrentResourceModule();
// The caller keeps the library loaded while it is current; nullptr goes back to the program.
void SetCurrentResourceModule(HMODULE module);

// Empty when the id is missing from the current module.
std::wstring LoadWideString(UINT id);
std::string LoadUtf8String(UINT id);

UniqueMenu LoadMenuResource(UINT id);

// The dialog template in the current module, nullptr when it has none with this id.
const DLGTEMPLATE* FindDialogTemplate(UINT id);

// Shared icon of the program: never destroyed, valid for the life of the process.
HICON LoadProgramIcon(UINT id);
// A private copy at an exact size (tray icons want 16x16).
UniqueIcon LoadProgramIcon(UINT id, int width, int height);

}  // namespace win32
