#pragma once

// The Windows handles the program opens, one line a kind.

#include "platform/unique_handle.h"
#include "platform/win32/windows_api.h"

namespace qlx::platform::win32 {

using UniqueHkey = UniqueHandle<ClosedBy<HKEY, &RegCloseKey>>;
// The BOOL closers report TRUE when they succeed.
using UniqueServiceHandle = UniqueHandle<ClosedBy<SC_HANDLE, &CloseServiceHandle, nullptr, TRUE>>;
// Kernel objects that a null handle marks as absent: processes, threads,
// events.
using UniqueKernelHandle = UniqueHandle<ClosedBy<HANDLE, &CloseHandle, nullptr, TRUE>>;
// Memory the system allocated on the program's behalf with LocalAlloc, such
// as FormatMessageA's buffer.
using UniqueLocalMemory = UniqueHandle<ClosedBy<HLOCAL, &LocalFree>>;
using UniqueGlobalMemory = UniqueHandle<ClosedBy<HGLOBAL, &GlobalFree>>;

}  // namespace qlx::platform::win32
