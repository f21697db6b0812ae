#pragma once

// The error record of a failed call on a COM object: its HRESULT and, when
// the object supports error information for the interface that was called,
// the description of the error information the object left for the thread.

#include "platform/win32/windows_api.h"
// After windows.h, which it builds on.
#include <oleauto.h>

#include "platform/database.h"

namespace qlx::platform::win32 {

// The record for the result of a call through the interface on the object.
// Takes the thread's error information, so it is asked for at most once per
// failure, straight after the failed call.
ComError ComErrorOf(HRESULT result, IUnknown* object, REFIID interface_id);

// Does nothing for a success (S_FALSE included); throws ComErrorOf otherwise.
inline void CheckResult(HRESULT result, IUnknown* object, REFIID interface_id) {
  if (FAILED(result)) throw ComErrorOf(result, object, interface_id);
}

}  // namespace qlx::platform::win32
