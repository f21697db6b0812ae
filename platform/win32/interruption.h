#pragma once

#include "platform/win32/windows_api.h"

namespace qlx::platform::win32 {

// The console control handler that HandleInterruptions installs: hands
// Ctrl+C, Ctrl+Break and the closing console to the program's handler, then
// returns FALSE so that the default handling ends the process, or TRUE when
// the run had already finished. Windows runs each event on a thread of its
// own, so a closing console may come while a Ctrl+C is still handled. Logoff
// and shutdown never reach a console program that loads USER32.
BOOL WINAPI ConsoleControlHandler(DWORD control_type) noexcept;

}  // namespace qlx::platform::win32
