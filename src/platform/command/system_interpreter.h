// The command interpreter the runner starts on Windows: cmd.exe in the
// system folder (GetSystemDirectoryW), named as the program to run, so that
// a CMD.EXE left in the working folder, the program's folder or on the PATH
// is never found instead of it.
#pragma once

#include <string>

namespace kav::platform {

// The full path of the system's cmd.exe (Windows-1252 / the ANSI code page;
// empty when the system folder cannot be named in it). Elsewhere: empty.
std::string system_command_interpreter();

}  // namespace kav::platform
