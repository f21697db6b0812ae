#pragma once

#include <cstdint>

#include "platform/windows_codes.h"

namespace qlx::platform::posix {

// The Windows error code closest to an errno value; ERROR_GEN_FAILURE for the
// ones Windows has no counterpart of.
uint32_t WindowsErrorFromErrno(int error_number);

}  // namespace qlx::platform::posix
