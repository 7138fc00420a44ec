// The handset simulator's command-line mode: runs a script of steps over one connection to the
// library and ends with one of the exit codes of SimProtocol.h.
#pragma once

#include "companions/hidmar/sim/SimProtocol.h"

namespace hidmar_sim {

int RunScript(const Script& script);

// Standard output and error of a GUI-subsystem program: the handles it inherited, else the
// console of the program that started it.
void PrintOut(const std::string& text);
void PrintError(const std::string& text);

}  // namespace hidmar_sim
