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
// A window of the program's own.
using UniqueWindow = UniqueHandle<ClosedBy<HWND, &DestroyWindow, nullptr, TRUE>>;
// Memory the system allocated on the program's behalf with LocalAlloc, such
// as FormatMessageA's buffer.
using UniqueLocalMemory = UniqueHandle<ClosedBy<HLOCAL, &LocalFree>>;
using UniqueGlobalMemory = UniqueHandle<ClosedBy<HGLOBAL, &GlobalFree>>;
// A directory search, which FindFirstFileA marks as failed with
// INVALID_HANDLE_VALUE (no constant a template can take) rather than null.
struct DirectorySearchTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static BOOL Close(Handle search) { return FindClose(search); }
  static BOOL ClosedWell() { return TRUE; }
};
using UniqueDirectorySearch = UniqueHandle<DirectorySearchTraits>;

}  // namespace qlx::platform::win32
