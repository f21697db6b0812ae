#pragma once

#include "platform/win32/windows_api.h"

namespace qlx::platform::win32 {

// The console control handler that HandleInterruptions installs: hands
// Ctrl+C, Ctrl+Break and the closing console to the program's handler, then
// returns FALSE so that the default handling ends the process. Logoff and
// shutdown never reach a console program that loads USER32.
BOOL WINAPI ConsoleControlHandler(DWORD control_type);

}  // namespace qlx::platform::win32
