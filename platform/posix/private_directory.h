#pragma once

#include <cstdint>
#include <string>

namespace qlx::platform::posix {

// Makes sure `path` is a directory of the user's own that nobody else may
// write to, as the Windows temporary directory of an account is: created with
// mode 0700 when it is missing. Returns 0, or ERROR_DIRECTORY when it cannot
// be created, is not a directory (a symbolic link is not followed), belongs to
// another user, or its group or others may write to it.
uint32_t PreparePrivateDirectory(const std::string& path);

}  // namespace qlx::platform::posix
