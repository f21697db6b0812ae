#pragma once

#include <string>

#include "platform/result.h"

namespace qlx::platform::posix {

// Makes sure `path` is a directory of the user's own that nobody else may
// write to, as the Windows temporary directory of an account is: created with
// mode 0700 when it is missing. Fails with ERROR_DIRECTORY when it cannot be
// created, is not a directory (a symbolic link is not followed), belongs to
// another user, or its group or others may write to it.
Result<> PreparePrivateDirectory(const std::string& path);

}  // namespace qlx::platform::posix
