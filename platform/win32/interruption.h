#pragma once

#include "platform/win32/windows_api.h"

namespace qlx::platform::win32 {

// Set by an interruption: a child's wait waits for it beside the child. Only
// the program's thread resets it.
HANDLE InterruptionEvent();

// The console control handler that HandleInterruptions installs: hands the
// event to the program's handler and returns TRUE, so that the program's
// thread, not the default handling, ends the process. Windows runs each event
// on a thread of its own and ends the process once a closing console's
// handler returns.
BOOL WINAPI ConsoleControlHandler(DWORD control_type) noexcept;

}  // namespace qlx::platform::win32
