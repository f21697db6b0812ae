#pragma once

#include "platform/win32/windows_api.h"

namespace qlx::platform::win32 {

// Set by an interruption; a child's wait waits for it beside the child.
HANDLE InterruptionEvent();

}  // namespace qlx::platform::win32
